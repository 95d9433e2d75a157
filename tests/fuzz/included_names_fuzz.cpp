// Fuzzes the rules for the names of included files: each name is written
// into the extraction directory by the launcher, so a name the rules accept
// must stay a plain file name inside it whatever its bytes. The input is a
// list as key 2003 holds it; the first byte picks letters to flip in case.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "config/path_text.h"
#include "files/included_files.h"

namespace {

char flipAsciiCase(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
  return c;
}

void checkName(std::string_view name, uint8_t flips) {
  FileNameProblem problem = checkIncludedFileName(name);
  if (fileNameProblemText(problem) == nullptr) std::abort();

  // The same file under Windows' case rules gets the same verdict: a
  // device name or a bad name cannot slip through in other letters.
  std::string other(name);
  for (std::size_t i = 0; i < other.size(); ++i) {
    if ((flips >> (i % 8)) & 1) other[i] = flipAsciiCase(other[i]);
  }
  if (!sameIncludedFileName(name, other) || !sameIncludedFileName(other, name)) std::abort();
  if (checkIncludedFileName(other) != problem) std::abort();

  if (problem != FileNameProblem::none) return;
  // An accepted name is one relative path component that survives the list
  // of key 2003 and that Windows keeps as written.
  if (name.size() > kMaxIncludedFileNameBytes) std::abort();
  if (!isRelativePath(name)) std::abort();
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '\\' || c == '/' || c == ':' || c == kIncludedFileNameSeparator || u < 0x20) std::abort();
  }
  if (name == "." || name == ".." || name.back() == '.' || name.back() == ' ') std::abort();
  std::string list = std::string(name) + kIncludedFileNameSeparator + std::string(name);
  std::vector<std::string_view> back = splitIncludedFileNames(list);
  if (back.size() != 2 || back[0] != name || back[1] != name) std::abort();
  // A trailing dot or space would make Windows write another name.
  if (checkIncludedFileName(std::string(name) + ".") == FileNameProblem::none) std::abort();
  if (checkIncludedFileName(std::string(name) + " ") == FileNameProblem::none) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  uint8_t flips = data[0];
  std::string_view list(reinterpret_cast<const char*>(data + 1), size - 1);

  std::vector<std::string_view> names = splitIncludedFileNames(list);
  std::size_t total = 0;
  for (std::string_view name : names) {
    if (name.empty() || name.find(kIncludedFileNameSeparator) != std::string_view::npos) std::abort();
    total += name.size();
    checkName(name, flips);
  }
  if (total > list.size()) std::abort();
  checkName(list, flips);

  // Scrambling is its own inverse.
  std::vector<uint8_t> bytes(data, data + size);
  scrambleIncludedBytes(bytes.data(), bytes.size());
  scrambleIncludedBytes(bytes.data(), bytes.size());
  if (bytes != std::vector<uint8_t>(data, data + size)) std::abort();
  return 0;
}
