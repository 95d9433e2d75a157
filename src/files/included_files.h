// Rules for the files carried inside a configured executable, shared by the
// launcher (which extracts them) and the packer (which appends them): which
// names may be written into the extraction directory, the scrambling of
// their bytes, and the list of names in key 2003.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// Every content byte of every included file is XOR-combined with this byte.
// It only keeps the archives from being recognised inside the executable by
// tools that scan it; it protects nothing.
inline constexpr uint8_t kIncludedFileScrambleKey = 0xA7;

// Longest name (in bytes of the ANSI code page) an included file may have:
// one path component on the file systems the launcher writes to.
inline constexpr std::size_t kMaxIncludedFileNameBytes = 255;

// The separator of the names in key 2003.
inline constexpr char kIncludedFileNameSeparator = ';';

enum class FileNameProblem {
  none,
  empty,
  tooLong,             // more than kMaxIncludedFileNameBytes
  separator,           // '\' or '/': would leave the extraction directory
  dotName,             // "." or "..": names a directory, not a file in it
  drive,               // ':' (a drive, or an alternate data stream)
  reservedDevice,      // CON, NUL, COM1... with or without an extension
  invalidCharacter,    // control characters and < > " | ? *
  trailingDotOrSpace,  // Windows drops them, so the file would get another name
  listSeparator,       // ';' cannot be written into key 2003
};

// Whether `name` may be created as a file directly inside the extraction
// directory and nowhere else. Works on bytes: in a double-byte code page a
// trail byte that equals '\' is refused too, which errs on the safe side.
FileNameProblem checkIncludedFileName(std::string_view name);

// A short English description of a problem ("contains a path separator").
const char* fileNameProblemText(FileNameProblem problem);

// Whether two names denote the same file on Windows (ASCII letters compared
// without case).
bool sameIncludedFileName(std::string_view a, std::string_view b);

// XOR-combines every byte with kIncludedFileScrambleKey, in place. The
// operation is its own inverse: it scrambles and descrambles.
void scrambleIncludedBytes(uint8_t* data, std::size_t size);

// Bytes moved per read and write while copying included data: large pieces
// keep the copy as fast as a plain file copy.
inline constexpr std::size_t kIncludedCopyPiece = 1u << 20;

enum class CopyEnd { done, readFailed, inputEnded, writeFailed };

struct CopyOutcome {
  CopyEnd end = CopyEnd::done;
  uint64_t copied = 0;  // bytes written before the end
};

// The one copy loop of included data, for the launcher's extraction and the
// packer alike: streams `size` bytes from `read` to `write` in pieces of at
// most kIncludedCopyPiece bytes (`buffer` is sized on first use and may be
// reused), scrambling each piece on the way when asked.
//   read(uint8_t* data, size_t want, size_t& got) -> bool: false on failure,
//     got 0 at the end of the input; a count beyond `want` is not trusted.
//   write(const uint8_t* data, size_t size) -> bool: all of it, or false.
template <typename Read, typename Write>
CopyOutcome copyIncludedBytes(uint64_t size, std::vector<uint8_t>& buffer, bool scramble,
                              Read&& read, Write&& write) {
  CopyOutcome r;
  if (buffer.empty() && size > 0) {
    buffer.resize(size < kIncludedCopyPiece ? static_cast<std::size_t>(size) : kIncludedCopyPiece);
  }
  while (r.copied < size) {
    std::size_t want = size - r.copied < buffer.size() ? static_cast<std::size_t>(size - r.copied)
                                                       : buffer.size();
    std::size_t got = 0;
    if (!read(buffer.data(), want, got)) {
      r.end = CopyEnd::readFailed;
      return r;
    }
    if (got == 0) {
      r.end = CopyEnd::inputEnded;
      return r;
    }
    if (got > want) got = want;
    if (scramble) scrambleIncludedBytes(buffer.data(), got);
    if (!write(static_cast<const uint8_t*>(buffer.data()), got)) {
      r.end = CopyEnd::writeFailed;
      return r;
    }
    r.copied += got;
  }
  return r;
}

// The names of key 2003 with the C runtime's strtok rules: split at ';',
// empty names vanish.
std::vector<std::string_view> splitIncludedFileNames(std::string_view list);
