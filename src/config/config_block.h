// The configuration block appended to a launcher executable: reading it from
// bytes and writing it. Layout (all integers int32 little-endian):
//   magic 0xE8E413D5, narrow count, narrow records {key, length, bytes},
//   wide count, wide records {key, length in bytes, UTF-16LE}, then the
//   included-file section and zero padding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

inline constexpr uint32_t kConfigMagic = 0xE8E413D5u;

// Which read came short; each has its own fixed failure text.
enum class BlockError { none, magic, readInt, readString, readWString };

// The fixed texts shown for a damaged block.
const char* blockErrorText(BlockError e);

struct ConfigTables {
  std::map<int32_t, std::string> narrow;
  std::map<int32_t, std::u16string> wide;
  // Offset of the first byte after the last wide record, counted from the
  // start of the bytes handed to the parser plus `base`.
  uint64_t includedFilesOffset = 0;
};

struct BlockParse {
  BlockError error = BlockError::none;
  // On an error: the records read before it (the record that came short is
  // not among them).
  // True when the bytes ran out before the block ended but `available`
  // promised more: the caller should read more of the file and parse again.
  bool needMore = false;
  ConfigTables tables;
};

// Parses a block from `data` (size bytes, the start of the block). `available`
// is how many bytes the file holds from the block start on (>= size): a
// length larger than that fails at once, whatever `size` is, so that no
// damaged value makes the reader allocate or read without bound. A count
// allocates nothing: its records are read until one comes short. `base` is the
// file offset of data[0]. Later records with the same key replace earlier
// ones. Negative counts mean no records. A wide record of odd length keeps
// its whole code units only; the odd last byte is skipped.
BlockParse parseConfigBlock(const uint8_t* data, size_t size, uint64_t available, uint64_t base);

struct BlockRecords {
  std::vector<std::pair<int32_t, std::string>> narrow;
  std::vector<std::pair<int32_t, std::u16string>> wide;
};

// Serialises records in the order given (magic, counts, records); no
// included files, no padding.
std::vector<uint8_t> serializeConfigBlock(const BlockRecords& records);

// Little-endian helpers shared by the block and PE readers.
inline uint32_t readLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t readLe16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
void appendLe32(std::vector<uint8_t>& out, uint32_t v);
