#include "startup/command_line.h"

namespace {
bool isBlank(char c) { return c == ' ' || c == '\t'; }

struct WordEntry {
  std::string_view text;
  CommandWord word;
};
// One word a line.
constexpr WordEntry kWords[] = {
    {"install", CommandWord::install},
    {"install-auto", CommandWord::installAuto},
    {"install-demand", CommandWord::installDemand},
    {"uninstall", CommandWord::uninstall},
    {"stop", CommandWord::stop},
    {"start", CommandWord::start},
    {"console", CommandWord::console},
    {"status", CommandWord::status},
    {"restart", CommandWord::restart},
    {"configure", CommandWord::configure},
    {"threaddump", CommandWord::threadDump},
};
}  // namespace

std::string_view commandTail(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && isBlank(line[i])) ++i;
  if (i < line.size() && line[i] == '"') {
    size_t close = line.find('"', i + 1);
    i = close == std::string_view::npos ? line.size() : close + 1;
  } else {
    while (i < line.size() && !isBlank(line[i])) ++i;
  }
  while (i < line.size() && isBlank(line[i])) ++i;
  return line.substr(i);
}

ParsedCommand parseCommandTail(std::string_view tail) {
  ParsedCommand out;
  if (tail.empty() || (tail[0] != '/' && tail[0] != '-')) return out;
  std::string_view rest = tail.substr(1);
  if (!rest.empty() && rest[0] == '-') rest.remove_prefix(1);
  size_t space = rest.find(' ');
  if (space != std::string_view::npos) {
    if (space + 1 < rest.size()) {
      out.overridesServiceName = true;
      out.serviceName = std::string(rest.substr(space + 1));
    }
    rest = rest.substr(0, space);
  }
  out.wordText = std::string(rest);
  for (const WordEntry& w : kWords) {
    if (w.text == rest) out.word = w.word;
  }
  return out;
}

bool extractsIncludedFiles(CommandWord word) {
  return word == CommandWord::none || word == CommandWord::console;
}

std::string prefixPathValue(std::string_view resolvedPrefix, std::string_view oldPath) {
  std::string out(resolvedPrefix);
  if (!out.empty() && out.back() != ';') out += ';';
  out += oldPath;
  return out;
}
