// The packer's file access: reading inputs with a size bound, writing the
// output so that it is either complete or not there at all, and finding the
// packer's own directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class ReadStatus { ok, notFound, tooLarge, failed };

struct FileRead {
  ReadStatus status = ReadStatus::failed;
  std::vector<uint8_t> bytes;
  std::string error;  // why, when status != ok
};

// Reads a whole file of at most `maxBytes` bytes.
FileRead readFileBounded(const std::string& path, uint64_t maxBytes);

struct FileWrite {
  bool ok = false;
  std::string error;
};

// Writes `bytes` to a new temporary file beside `path`, then renames it over
// `path`. On failure the temporary file is removed and `path` is untouched.
[[nodiscard]] FileWrite writeFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes);

// The directory of the running packer executable; empty when the system
// does not say.
std::string executableDirectory();

// Makes standard output write bytes as they are (no line-end translation).
void setBinaryStdout();
