#include "io/path_name.h"

namespace {

bool isSeparator(char c, bool windowsRules) { return c == '/' || (windowsRules && c == '\\'); }

// "C:" and no more: the current directory of a drive.
bool isBareDrive(std::string_view path) {
  return path.size() == 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

}  // namespace

size_t fileNameStart(std::string_view path, bool windowsRules) {
  size_t sep = path.find_last_of(windowsRules ? "/\\" : "/");
  if (sep != std::string_view::npos) return sep + 1;
  return windowsRules && isBareDrive(path.substr(0, 2)) ? 2 : 0;
}

std::string_view pathFileName(std::string_view path, bool windowsRules) {
  return path.substr(fileNameStart(path, windowsRules));
}

std::string_view portableFileName(std::string_view path) {
  size_t sep = path.find_last_of("/\\");
  return sep == std::string_view::npos ? path : path.substr(sep + 1);
}

std::string pathDirectory(std::string_view path, bool windowsRules) {
  std::string_view dir = path.substr(0, fileNameStart(path, windowsRules));
  // Down to the root: "/" stays, and so do "\" and "C:\" with Windows rules.
  size_t root = windowsRules && dir.size() >= 3 && isBareDrive(dir.substr(0, 2)) ? 3 : 1;
  while (dir.size() > root && isSeparator(dir.back(), windowsRules)) dir.remove_suffix(1);
  return std::string(dir);
}

std::string pathJoin(std::string_view directory, std::string_view name, bool windowsRules) {
  std::string out(directory);
  if (!out.empty() && !isSeparator(out.back(), windowsRules) && !(windowsRules && isBareDrive(out)))
    out += windowsRules ? '\\' : '/';
  return out + std::string(name);
}
