#include "config/config_block.h"

const char* blockErrorText(BlockError e) {
  switch (e) {
    case BlockError::magic: return "Internal Error: magic";
    case BlockError::readInt: return "Internal Error: readInt";
    case BlockError::readString: return "Internal Error: readString";
    case BlockError::readWString: return "Internal Error: readWString";
    case BlockError::none: break;
  }
  return "";
}

void appendLe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

namespace {

// A cursor over the bytes at hand that knows how much the whole file holds.
struct Reader {
  const uint8_t* data;
  size_t size;
  uint64_t available;
  size_t pos = 0;
  bool needMore = false;

  // Reads 4 bytes; false when the file (or the bytes at hand) end first.
  bool int32(int32_t& v) {
    if (available - pos < 4) return false;
    if (size - pos < 4) { needMore = true; return false; }
    v = int32_t(readLe32(data + pos));
    pos += 4;
    return true;
  }
  // Checks that `n` bytes remain, then hands out a pointer to them.
  const uint8_t* bytes(int32_t n) {
    if (n < 0 || uint64_t(n) > available - pos) return nullptr;
    if (uint64_t(n) > size - pos) { needMore = true; return nullptr; }
    const uint8_t* p = data + pos;
    pos += size_t(n);
    return p;
  }
};

}  // namespace

BlockParse parseConfigBlock(const uint8_t* data, size_t size, uint64_t available, uint64_t base) {
  BlockParse out;
  if (available < size) available = size;
  Reader r{data, size, available};
  auto fail = [&](BlockError e) {
    out.error = e;
    out.needMore = r.needMore;
    return out;
  };

  int32_t magic = 0;
  if (!r.int32(magic)) return fail(BlockError::readInt);
  if (uint32_t(magic) != kConfigMagic) return fail(BlockError::magic);

  int32_t count = 0;
  if (!r.int32(count)) return fail(BlockError::readInt);
  for (int32_t i = 0; i < count; ++i) {
    int32_t key = 0, len = 0;
    if (!r.int32(key) || !r.int32(len)) return fail(BlockError::readInt);
    const uint8_t* p = r.bytes(len);
    if (!p) return fail(BlockError::readString);
    out.tables.narrow[key].assign(reinterpret_cast<const char*>(p), size_t(len));
  }

  if (!r.int32(count)) return fail(BlockError::readInt);
  for (int32_t i = 0; i < count; ++i) {
    int32_t key = 0, len = 0;
    if (!r.int32(key) || !r.int32(len)) return fail(BlockError::readInt);
    const uint8_t* p = r.bytes(len);
    if (!p) return fail(BlockError::readWString);
    std::u16string& value = out.tables.wide[key];
    value.resize(size_t(len) / 2);
    for (size_t u = 0; u < value.size(); ++u) value[u] = char16_t(readLe16(p + 2 * u));
  }

  out.tables.includedFilesOffset = base + r.pos;
  return out;
}

std::vector<uint8_t> serializeConfigBlock(const BlockRecords& records) {
  std::vector<uint8_t> out;
  appendLe32(out, kConfigMagic);
  appendLe32(out, uint32_t(records.narrow.size()));
  for (const auto& [key, value] : records.narrow) {
    appendLe32(out, uint32_t(key));
    appendLe32(out, uint32_t(value.size()));
    out.insert(out.end(), value.begin(), value.end());
  }
  appendLe32(out, uint32_t(records.wide.size()));
  for (const auto& [key, value] : records.wide) {
    appendLe32(out, uint32_t(key));
    appendLe32(out, uint32_t(value.size() * 2));
    for (char16_t c : value) {
      out.push_back(uint8_t(c & 0xFF));
      out.push_back(uint8_t(c >> 8));
    }
  }
  return out;
}
