#include "files/included_files.h"

#include <cstring>

#include "config/path_text.h"

namespace {

char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalsUpper(std::string_view text, std::string_view upper) {
  if (text.size() != upper.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (asciiUpper(text[i]) != upper[i]) return false;
  }
  return true;
}

// Device names that Windows opens instead of a file, whatever directory or
// extension is put around them. The digits include the superscripts one to
// three (Windows-1252 bytes B9, B2, B3), which Windows also takes for ports.
bool isReservedDevice(std::string_view name) {
  // The device part is what comes before the first dot, trailing blanks
  // dropped ("nul .txt" is NUL as well).
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"}) {
    if (equalsUpper(base, device)) return true;
  }
  if (base.size() == 4 && (equalsUpper(base.substr(0, 3), "COM") || equalsUpper(base.substr(0, 3), "LPT"))) {
    unsigned char digit = static_cast<unsigned char>(base[3]);
    return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
  }
  return false;
}

}  // namespace

FileNameProblem checkIncludedFileName(std::string_view name) {
  if (name.empty()) return FileNameProblem::empty;
  if (name.size() > kMaxIncludedFileNameBytes) return FileNameProblem::tooLong;
  // Separators first: "..\x" is reported for leaving the directory.
  for (char c : name) {
    if (c == '\\' || c == '/') return FileNameProblem::separator;
  }
  if (name == "." || name == "..") return FileNameProblem::dotName;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == ':') return FileNameProblem::drive;
    if (c == kIncludedFileNameSeparator) return FileNameProblem::listSeparator;
    if (u < 0x20 || std::strchr("<>\"|?*", c) != nullptr) return FileNameProblem::invalidCharacter;
  }
  if (name.back() == '.' || name.back() == ' ') return FileNameProblem::trailingDotOrSpace;
  if (isReservedDevice(name)) return FileNameProblem::reservedDevice;
  return FileNameProblem::none;
}

const char* fileNameProblemText(FileNameProblem problem) {
  switch (problem) {
    case FileNameProblem::none: return "is a valid file name";
    case FileNameProblem::empty: return "is empty";
    case FileNameProblem::tooLong: return "is longer than 255 bytes";
    case FileNameProblem::separator: return "contains a path separator ('\\' or '/')";
    case FileNameProblem::dotName: return "is \".\" or \"..\", which name directories";
    case FileNameProblem::drive: return "contains ':' (a drive or a data stream)";
    case FileNameProblem::reservedDevice: return "is a reserved device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9)";
    case FileNameProblem::invalidCharacter:
      return "contains a character Windows does not allow in file names (control characters, < > \" | ? *)";
    case FileNameProblem::trailingDotOrSpace: return "ends with a dot or a space, which Windows drops";
    case FileNameProblem::listSeparator: return "contains ';', the separator of the name list";
  }
  return "is not a valid file name";
}

bool sameIncludedFileName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (asciiUpper(a[i]) != asciiUpper(b[i])) return false;
  }
  return true;
}

void scrambleIncludedBytes(uint8_t* data, std::size_t size) {
  // Eight bytes at a time: the copy loop runs over every byte of every file
  // at each start, and the byte loop alone is several times slower.
  constexpr uint64_t wideKey = 0x0101010101010101ull * kIncludedFileScrambleKey;
  std::size_t i = 0;
  for (; i + sizeof(uint64_t) <= size; i += sizeof(uint64_t)) {
    uint64_t word;
    std::memcpy(&word, data + i, sizeof word);
    word ^= wideKey;
    std::memcpy(data + i, &word, sizeof word);
  }
  for (; i < size; ++i) data[i] ^= kIncludedFileScrambleKey;
}

std::vector<std::string_view> splitIncludedFileNames(std::string_view list) {
  return splitPathList(list);
}
