#include "service/dependency_list.h"

std::optional<std::string> buildDependencyList(std::string_view names) {
  std::string list;
  size_t start = 0;
  while (start <= names.size()) {
    size_t comma = names.find(',', start);
    if (comma == std::string_view::npos) comma = names.size();
    if (comma > start) {
      list.append(names.substr(start, comma - start));
      list.push_back('\0');
    }
    start = comma + 1;
  }
  if (list.empty()) return std::nullopt;
  list.push_back('\0');
  return list;
}

std::string serviceBinaryPath(std::string_view executablePath) {
  if (executablePath.find(' ') == std::string_view::npos) return std::string(executablePath);
  std::string quoted;
  quoted.reserve(executablePath.size() + 2);
  quoted.push_back('"');
  quoted.append(executablePath);
  quoted.push_back('"');
  return quoted;
}
