#include "files/deletion_list.h"

#include <cstring>

#include "files/path_text.h"

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

bool isSweepablePath(std::string_view path) {
  if (path.size() < 3 || path[0] == '"') return false;
  return !isRelativePath(path);
}
