#include "service/dependency_list.h"

#include "config/value_list.h"

std::optional<std::string> buildDependencyList(std::string_view names) {
  std::string list;
  for (std::string_view name : splitList(names, ',', EmptyItems::drop)) {
    list.append(name);
    list.push_back('\0');
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
