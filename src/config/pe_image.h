// Just enough of the PE format to find where a launcher image ends: the raw
// data of its last section header. The configuration block starts there.
// The one reader of PE headers, for the launcher and the packer alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr uint16_t kMachineI386 = 0x014c;
inline constexpr uint16_t kMachineAmd64 = 0x8664;

struct PeSection {
  uint32_t rawSize = 0;
  uint32_t rawPointer = 0;
};

struct PeLayout {
  bool ok = false;
  std::string error;          // what is wrong, when !ok
  uint16_t machine = 0;
  uint16_t subsystem = 0;     // 3: console
  uint32_t lastSectionRawSize = 0;
  uint32_t lastSectionRawPointer = 0;
  uint64_t imageEnd = 0;      // raw pointer + raw size of the last section header
  size_t headerBytesNeeded = 0;  // how many leading bytes the parse needed
  std::vector<PeSection> sections;  // every section header, in table order
  // The security directory: where an Authenticode signature's certificate
  // table lies (a file offset, not an address) and its size; 0 when unsigned.
  uint32_t certificateTableOffset = 0;
  uint32_t certificateTableSize = 0;
};

// How many leading bytes of a file to read so that parsePeLayout can work
// (the section table of any sane image lies well inside this).
inline constexpr size_t kPeHeaderReadSize = 64 * 1024;

// Parses the DOS stub, PE header and section table at the start of a file.
// `size` may be less than the file; an image whose headers do not fit is
// reported as not a PE file.
PeLayout parsePeLayout(const uint8_t* data, size_t size);

// Where the data appended after the image (the configuration block and the
// included files) ends in a file of `fileSize` bytes: at the certificate
// table of a signature, which signing tools append at the end of the file,
// else at the end of the file. A security directory that names a table
// before the image end or past the end of the file is no signature the
// appended data can lie before, and is ignored.
uint64_t appendedDataEnd(const PeLayout& pe, uint64_t fileSize);
