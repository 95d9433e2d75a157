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

std::u16string imagePathProgram(std::u16string_view imagePath) {
  auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
  while (!imagePath.empty() && blank(imagePath.front())) imagePath.remove_prefix(1);
  while (!imagePath.empty() && blank(imagePath.back())) imagePath.remove_suffix(1);
  if (imagePath.empty() || imagePath.front() != u'"') return std::u16string(imagePath);
  std::size_t close = imagePath.find(u'"', 1);
  if (close == std::u16string_view::npos) return std::u16string();
  return std::u16string(imagePath.substr(1, close - 1));
}
