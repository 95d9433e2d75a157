// Launcher images on the packer's side: checking a template, appending a
// configuration block to it, and reading the block of a configured
// executable back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/config_block.h"

// The configured executable is padded with zero bytes to a multiple of this.
inline constexpr size_t kFileAlignment = 512;
// Largest template or configured executable the packer reads.
inline constexpr uint64_t kMaxExecutableBytes = 512ull * 1024 * 1024;

struct ImageEnd {
  bool ok = false;
  std::string error;
  uint16_t machine = 0;
  // Where the configuration block starts: the end of the raw data of the
  // last section header, as the launcher computes it.
  uint64_t imageEnd = 0;
  // Where the appended data ends: the certificate table of a signed file,
  // else the end of the file (appendedDataEnd).
  uint64_t dataEnd = 0;
  bool isSigned = false;
};

// Finds the end of the image and checks that the launcher's way of finding
// it is sound for this file: the last section header's raw data must end
// after the headers and after every other section's raw data, inside the
// file. Says nothing yet about what follows.
ImageEnd locateImageEnd(const std::vector<uint8_t>& file);
// The same over the first `headSize` bytes of a file of `fileSize` bytes;
// the head must hold the headers.
ImageEnd locateImageEnd(const uint8_t* head, size_t headSize, uint64_t fileSize);

// A template must end exactly where its image ends: anything after that
// (a configuration block, a signature, other appended data) is refused, and
// so is a signed template (the signature would not cover the block).
ImageEnd checkTemplate(const std::vector<uint8_t>& file);

// The image of the template, the configuration block and zero padding up
// to a multiple of kFileAlignment bytes.
std::vector<uint8_t> assembleExecutable(const std::vector<uint8_t>& templ, uint64_t imageEnd,
                                        const BlockRecords& records);

struct ConfiguredImage {
  bool ok = false;
  // The head given to readConfiguredHead ended inside the block: read more
  // of the file (at least up to needBytes when that is larger) and try again.
  bool needMore = false;
  std::string error;
  uint16_t machine = 0;
  uint64_t blockOffset = 0;
  // Where the block and the included files must end: before the certificate
  // table of a signed executable, else at the end of the file.
  uint64_t dataEnd = 0;
  ConfigTables tables;
};

// Reads the configuration block of a configured executable.
ConfiguredImage readConfiguredExecutable(const std::vector<uint8_t>& file);
// The same from the first bytes of a file of `fileSize` bytes, so that the
// included files after the block need not be read.
ConfiguredImage readConfiguredHead(const std::vector<uint8_t>& head, uint64_t fileSize);
