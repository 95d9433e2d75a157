#include "files/deletion_list.h"

#include <cstring>

#include "config/access_rules.h"
#include "config/path_text.h"
#include "files/included_files.h"

std::string deletionListFromValue(const char* data, std::size_t size) {
  if (data == nullptr) return std::string();
  const void* nul = std::memchr(data, '\0', size);
  std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - data) : size;
  return std::string(data, length);
}

bool canScheduleForDeletion(std::string_view path) {
  return !path.empty() && path.find(kDeletionListSeparator) == std::string_view::npos;
}

void appendDeletionEntry(std::string& list, std::string_view path) {
  list.append(path);
  list.push_back(kDeletionListSeparator);
}

std::vector<std::string_view> deletionEntries(std::string_view list) { return splitPathList(list); }

namespace {

bool sameTextNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view withoutTrailingBackslashes(std::string_view path) {
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return path;
}

// Splits at the last backslash: false when there is none.
bool splitLast(std::string_view path, std::string_view& parent, std::string_view& name) {
  std::size_t slash = path.rfind('\\');
  if (slash == std::string_view::npos) return false;
  parent = path.substr(0, slash);
  name = path.substr(slash + 1);
  return true;
}

}  // namespace

bool isSweepablePath(std::string_view path, const std::vector<std::string>& temporaryDirectories,
                     bool directoryList, std::string& extractionDirectory) {
  extractionDirectory.clear();
  if (path.size() < 3 || isRelativePath(path) || path.find('/') != std::string_view::npos) return false;
  std::string_view directory = path;
  std::string_view parent;
  std::string_view name;
  if (!directoryList) {
    if (!splitLast(path, directory, name) || checkIncludedFileName(name) != FileNameProblem::none)
      return false;
  }
  if (!splitLast(directory, parent, name) || !isExtractionDirectoryName(name)) return false;
  // A temporary directory that is a drive root leaves an empty parent here.
  for (const std::string& temp : temporaryDirectories) {
    std::string_view wanted = withoutTrailingBackslashes(temp);
    if (!wanted.empty() && sameTextNoCase(parent, wanted)) {
      extractionDirectory.assign(directory);
      return true;
    }
  }
  return false;
}
