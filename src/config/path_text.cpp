#include "config/path_text.h"

#include "config/value_list.h"

namespace {
bool isColonBackslash(std::string_view path, std::size_t at) {
  return path.size() > at + 1 && path[at] == ':' && path[at + 1] == '\\';
}

bool isDoubleBackslash(std::string_view path, std::size_t at) {
  return path.size() > at + 1 && path[at] == '\\' && path[at + 1] == '\\';
}

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool isRelativePath(std::string_view path) {
  if (path.size() <= 2) return true;
  if (path[0] == '"') {
    if (path.size() <= 3) return true;
    return !(isColonBackslash(path, 2) || isDoubleBackslash(path, 1));
  }
  return !(isColonBackslash(path, 1) || isDoubleBackslash(path, 0));
}

void collapseBackslashes(std::u16string& text) {
  if (text.empty()) return;
  // write is the position after the last retained character; position 0 is
  // always retained, and a backslash there may be followed by one more.
  std::size_t write = 1;
  for (std::size_t read = 1; read < text.size(); ++read) {
    char16_t c = text[read];
    bool lastIsBackslash = text[write - 1] == u'\\';
    if (c == u'\\' && lastIsBackslash && write - 1 != 0) continue;
    text[write++] = c;
  }
  text.resize(write);
}

bool isDriveRootShortcut(std::string_view path) {
  if (path.size() < 2) return false;
  std::string_view rest = path.substr(1);
  return rest == ":\\" || rest == ":\\." || rest == ":\\.\\.";
}

std::string appendExeRelative(std::string_view exeDirectory, std::string_view path) {
  std::string out;
  if (isRelativePath(path)) out = exeDirectory;
  out += path;
  return out;
}

std::vector<std::string_view> splitPathList(std::string_view list) {
  return splitList(list, kListSeparator, EmptyItems::drop);
}

std::string joinPathList(const std::vector<std::string>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i != 0) out += ';';
    out += items[i];
  }
  return out;
}

std::string listDirectoryPattern(std::string_view dir, std::string_view ext) {
  std::string pattern(dir);
  pattern += "\\*";
  if (ext.empty() || ext[0] != '.') pattern += '.';
  pattern += ext;
  return pattern;
}

std::string cutAtFileName(std::string_view fullPath, std::size_t fileNameOffset) {
  if (fileNameOffset >= fullPath.size()) return std::string(fullPath);
  return std::string(fullPath.substr(0, fileNameOffset));
}

bool hasExeSuffix(std::string_view path) {
  if (path.size() <= 3) return false;
  std::string_view tail = path.substr(path.size() - 4);
  constexpr std::string_view kExe = ".exe";
  for (std::size_t i = 0; i < kExe.size(); ++i) {
    if (asciiLower(tail[i]) != kExe[i]) return false;
  }
  return true;
}
