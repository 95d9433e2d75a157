#include "config/pe_version.h"

#include "config/config_block.h"

namespace {

constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BDu;
constexpr size_t kFixedInfoSize = 52;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kDirectoryHeaderSize = 16;
constexpr size_t kDirectoryEntrySize = 8;
constexpr size_t kDataEntrySize = 16;
constexpr size_t kNodeHeaderSize = 6;
constexpr uint16_t kTextNode = 1;

// The section table, to turn addresses into file offsets.
struct Sections {
  const uint8_t* data = nullptr;
  size_t size = 0;
  const uint8_t* table = nullptr;
  uint16_t count = 0;

  // The file offset of `length` bytes at address `rva`, which must lie
  // inside one section's raw data and inside data[0, size).
  bool map(uint32_t rva, uint32_t length, size_t& offset) const {
    for (uint16_t i = 0; i < count; ++i) {
      const uint8_t* s = table + size_t(i) * kSectionHeaderSize;
      uint32_t address = readLe32(s + 12);
      uint32_t rawSize = readLe32(s + 16);
      uint32_t rawPointer = readLe32(s + 20);
      if (rva < address || rva - address >= rawSize) continue;
      uint64_t inside = rva - address;
      if (inside + length > rawSize) return false;
      uint64_t start = uint64_t(rawPointer) + inside;
      if (start > size || size - start < length) return false;
      offset = size_t(start);
      return true;
    }
    return false;
  }
};

// The entry with number `id` (or the first entry when id is negative) of
// the resource directory at `dir`, an offset from the root.
bool findEntry(const uint8_t* root, size_t rootSize, uint32_t dir, int64_t id, uint32_t& target, bool& isDirectory) {
  if (dir > rootSize || rootSize - dir < kDirectoryHeaderSize) return false;
  size_t entries = size_t(readLe16(root + dir + 12)) + readLe16(root + dir + 14);
  if ((rootSize - dir - kDirectoryHeaderSize) / kDirectoryEntrySize < entries) return false;
  for (size_t i = 0; i < entries; ++i) {
    const uint8_t* e = root + dir + kDirectoryHeaderSize + i * kDirectoryEntrySize;
    uint32_t name = readLe32(e);
    if (id >= 0 && ((name & kHighBit) != 0 || name != uint32_t(id))) continue;
    uint32_t offset = readLe32(e + 4);
    target = offset & ~kHighBit;
    isDirectory = (offset & kHighBit) != 0;
    return true;
  }
  return false;
}

size_t align4(size_t v) { return (v + 3) & ~size_t(3); }

// One node of the VS_VERSION_INFO tree: {length, value length, type, key,
// padding, value, padding, children}, every part inside its parent.
struct Node {
  size_t end = 0;
  uint16_t type = 0;
  std::u16string key;
  size_t value = 0;
  size_t valueBytes = 0;
  size_t children = 0;
};

bool readNode(const uint8_t* v, size_t limit, size_t at, Node& n) {
  if (at > limit || limit - at < kNodeHeaderSize) return false;
  uint16_t length = readLe16(v + at);
  uint16_t valueLength = readLe16(v + at + 2);
  n.type = readLe16(v + at + 4);
  if (length < kNodeHeaderSize || length > limit - at) return false;
  n.end = at + length;
  n.key.clear();
  size_t p = at + kNodeHeaderSize;
  for (;;) {
    if (n.end - p < 2) return false;
    char16_t c = readLe16(v + p);
    p += 2;
    if (c == 0) break;
    if (n.key.size() < kMaxVersionValueUnits) n.key.push_back(c);
  }
  p = align4(p);
  if (p > n.end) p = n.end;
  // A text value's length counts characters; tools differ on that, so it is
  // only ever taken as far as the node reaches.
  size_t bytes = n.type == kTextNode ? size_t(valueLength) * 2 : valueLength;
  if (bytes > n.end - p) bytes = n.end - p;
  n.value = p;
  n.valueBytes = bytes;
  n.children = align4(p + bytes);
  if (n.children > n.end) n.children = n.end;
  return true;
}

std::u16string textAt(const uint8_t* v, size_t at, size_t bytes) {
  std::u16string out;
  for (size_t i = 0; i + 1 < bytes && out.size() < kMaxVersionValueUnits; i += 2) {
    char16_t c = readLe16(v + at + i);
    if (c == 0) break;
    out.push_back(c);
  }
  return out;
}

VersionInfo notFound(const char* why) {
  VersionInfo r;
  r.error = why;
  return r;
}

}  // namespace

std::u16string VersionInfo::value(std::u16string_view name) const {
  for (const auto& [k, v] : strings) {
    if (k == name) return v;
  }
  return {};
}

VersionInfo readVersionInfo(const uint8_t* data, size_t size) {
  if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return notFound("no MZ header");
  uint32_t peOffset = readLe32(data + 0x3c);
  if (peOffset > size || size - peOffset < 24) return notFound("PE header out of range");
  const uint8_t* nt = data + peOffset;
  if (nt[0] != 'P' || nt[1] != 'E' || nt[2] != 0 || nt[3] != 0) return notFound("no PE signature");
  Sections sections;
  sections.data = data;
  sections.size = size;
  sections.count = readLe16(nt + 6);
  uint16_t optionalSize = readLe16(nt + 20);
  uint64_t table = uint64_t(peOffset) + 24 + optionalSize;
  if (table + uint64_t(sections.count) * kSectionHeaderSize > size) return notFound("section table truncated");
  sections.table = data + table;

  const uint8_t* opt = nt + 24;
  if (optionalSize < 2) return notFound("no optional header");
  uint16_t magic = readLe16(opt);
  size_t countField = magic == 0x20b ? 108 : magic == 0x10b ? 92 : 0;
  if (countField == 0) return notFound("unknown optional header");
  size_t directory = countField + 4 + kResourceDirectory * 8;
  if (optionalSize < directory + 8 || readLe32(opt + countField) <= kResourceDirectory) {
    return notFound("no resource directory");
  }
  uint32_t rootRva = readLe32(opt + directory);
  uint32_t rootSize = readLe32(opt + directory + 4);
  if (rootRva == 0 || rootSize == 0) return notFound("no resource directory");
  size_t rootOffset = 0;
  if (!sections.map(rootRva, rootSize, rootOffset)) return notFound("resource directory outside the file");
  const uint8_t* root = data + rootOffset;

  // Type RT_VERSION, then the first name and the first language.
  uint32_t at = 0;
  bool isDirectory = false;
  if (!findEntry(root, rootSize, 0, kRtVersion, at, isDirectory)) return notFound("no version resource");
  if (!isDirectory || !findEntry(root, rootSize, at, -1, at, isDirectory) || !isDirectory ||
      !findEntry(root, rootSize, at, -1, at, isDirectory) || isDirectory) {
    return notFound("damaged resource directory");
  }
  if (at > rootSize || rootSize - at < kDataEntrySize) return notFound("damaged resource directory");
  uint32_t dataRva = readLe32(root + at);
  uint32_t dataSize = readLe32(root + at + 4);
  size_t dataOffset = 0;
  if (!sections.map(dataRva, dataSize, dataOffset)) return notFound("version resource outside the file");
  const uint8_t* v = data + dataOffset;

  Node top;
  if (!readNode(v, dataSize, 0, top) || top.key != u"VS_VERSION_INFO" || top.valueBytes < kFixedInfoSize ||
      readLe32(v + top.value) != kFixedInfoSignature) {
    return notFound("damaged version resource");
  }
  VersionInfo r;
  uint32_t high = readLe32(v + top.value + 8);
  uint32_t low = readLe32(v + top.value + 12);
  r.fileVersion[0] = uint16_t(high >> 16);
  r.fileVersion[1] = uint16_t(high);
  r.fileVersion[2] = uint16_t(low >> 16);
  r.fileVersion[3] = uint16_t(low);

  // StringFileInfo, its first string table, and that table's strings. Each
  // node is at least a header long, so every loop ends.
  Node child;
  for (size_t c = top.children; c < top.end && readNode(v, top.end, c, child); c = align4(child.end)) {
    if (child.key != u"StringFileInfo") continue;
    Node strings;
    if (!readNode(v, child.end, child.children, strings)) break;
    Node s;
    for (size_t p = strings.children; p < strings.end && r.strings.size() < kMaxVersionStrings &&
                                      readNode(v, strings.end, p, s);
         p = align4(s.end)) {
      r.strings.emplace_back(s.key, textAt(v, s.value, s.valueBytes));
    }
    break;
  }
  r.found = true;
  return r;
}

std::u16string madeFrom(const VersionInfo& info) {
  if (!info.found) return {};
  std::u16string name = info.value(u"OriginalFilename");
  std::u16string version = info.value(u"FileVersion");
  if (version.empty()) {
    for (int i = 0; i < 4; ++i) {
      if (i > 0) version += u'.';
      for (char c : std::to_string(info.fileVersion[i])) version += char16_t(c);
    }
  }
  return name.empty() ? version : name + u' ' + version;
}
