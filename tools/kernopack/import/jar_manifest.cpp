#include "import/jar_manifest.h"

#include <zlib.h>

#include <cctype>

#include "config/config_block.h"
#include "import/reg_export.h"

namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr size_t kEndRecordBytes = 22;
constexpr size_t kCentralHeaderBytes = 46;
constexpr size_t kLocalHeaderBytes = 30;
constexpr std::string_view kManifestName = "meta-inf/manifest.mf";

uint32_t le16(std::string_view b, size_t at) { return readLe16(reinterpret_cast<const uint8_t*>(b.data()) + at); }
uint32_t le32(std::string_view b, size_t at) { return readLe32(reinterpret_cast<const uint8_t*>(b.data()) + at); }

JarManifest failure(const std::string& why) {
  JarManifest m;
  m.error = why;
  return m;
}

// The central directory's size and offset, from the end record.
bool findCentralDirectory(uint64_t size, const ArchiveReader& read, uint32_t& cdSize, uint32_t& cdOffset,
                          std::string& why) {
  size_t tail = size_t(std::min<uint64_t>(size, kEndRecordBytes + 0xFFFF));
  std::string bytes;
  if (tail < kEndRecordBytes || !read(size - tail, tail, bytes)) return why = "not a zip archive (too short)", false;
  for (size_t at = tail - kEndRecordBytes + 1; at-- > 0;) {
    if (le32(bytes, at) != kEndSignature) continue;
    cdSize = le32(bytes, at + 12);
    cdOffset = le32(bytes, at + 16);
    if (cdSize == 0xFFFFFFFF || cdOffset == 0xFFFFFFFF) return why = "a ZIP64 archive, which is not read", false;
    if (uint64_t(cdOffset) + cdSize > size) return why = "its central directory lies past its end", false;
    if (cdSize > kMaxCentralDirectoryBytes) return why = "its central directory is over 64 MiB", false;
    return true;
  }
  why = "not a zip archive (no end of central directory record)";
  return false;
}

struct EntryPlace {
  uint32_t method = 0, compressed = 0, uncompressed = 0, localOffset = 0;
};

bool findManifestEntry(std::string_view cd, EntryPlace& e) {
  for (size_t at = 0; at + kCentralHeaderBytes <= cd.size();) {
    if (le32(cd, at) != kCentralSignature) return false;
    size_t nameLen = le16(cd, at + 28);
    size_t next = at + kCentralHeaderBytes + nameLen + le16(cd, at + 30) + le16(cd, at + 32);
    if (at + kCentralHeaderBytes + nameLen > cd.size()) return false;
    if (asciiLower(cd.substr(at + kCentralHeaderBytes, nameLen)) == kManifestName) {
      e = {le16(cd, at + 10), le32(cd, at + 20), le32(cd, at + 24), le32(cd, at + 42)};
      return true;
    }
    at = next;
  }
  return false;
}

bool inflateRaw(std::string_view in, std::string& out, std::string& why) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return why = "cannot start inflating", false;
  out.assign(kMaxManifestBytes + 1, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = uInt(in.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  int rc = inflate(&z, Z_FINISH);
  size_t produced = out.size() - z.avail_out;
  inflateEnd(&z);
  if (rc != Z_STREAM_END) {
    why = produced > kMaxManifestBytes ? "its manifest is over 1 MiB" : "its manifest's compressed data is damaged";
    return false;
  }
  out.resize(produced);
  return true;
}

std::string decodeUrl(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out += char(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

JarManifest readJarManifest(uint64_t size, const ArchiveReader& read) {
  uint32_t cdSize = 0, cdOffset = 0;
  std::string why, cd, local, data;
  if (!findCentralDirectory(size, read, cdSize, cdOffset, why)) return failure(why);
  if (!read(cdOffset, cdSize, cd)) return failure("cannot read its central directory");
  EntryPlace e;
  if (!findManifestEntry(cd, e)) return failure("it has no META-INF/MANIFEST.MF");
  if (e.compressed > kMaxManifestBytes || e.uncompressed > kMaxManifestBytes) return failure("its manifest is over 1 MiB");
  if (!read(e.localOffset, kLocalHeaderBytes, local) || le32(local, 0) != kLocalSignature) {
    return failure("its manifest's local header is damaged");
  }
  uint64_t start = uint64_t(e.localOffset) + kLocalHeaderBytes + le16(local, 26) + le16(local, 28);
  if (!read(start, e.compressed, data)) return failure("its manifest runs past the end of the archive");
  std::string text;
  if (e.method == 0) {
    text = data;
  } else if (e.method == 8) {
    if (!inflateRaw(data, text, why)) return failure(why);
  } else {
    return failure("its manifest is compressed with method " + std::to_string(e.method) + ", which is not read");
  }
  return parseManifest(text);
}

JarManifest parseManifest(std::string_view text) {
  JarManifest m;
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
    if (line.empty()) break;  // the end of the main section
    if (line.front() == ' ' && !lines.empty()) {
      lines.back() += line.substr(1);
    } else {
      lines.emplace_back(line);
    }
  }
  for (const std::string& line : lines) {
    size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    std::string name = asciiLower(line.substr(0, colon));
    std::string value = line.substr(colon + 2);
    if (name == "main-class") m.mainClass = value;
    if (name != "class-path") continue;
    for (size_t at = 0; at < value.size();) {
      size_t end = value.find(' ', at);
      if (end == std::string::npos) end = value.size();
      if (end > at) m.classPath.push_back(decodeUrl(value.substr(at, end - at)));
      at = end + 1;
    }
  }
  m.ok = true;
  return m;
}
