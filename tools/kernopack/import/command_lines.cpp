#include "import/command_lines.h"

#include <algorithm>
#include <cctype>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// Backslashes at `i` followed by a quote or not, by the runtime's rule.
size_t takeBackslashes(std::string_view line, size_t i, std::string& arg) {
  size_t j = i;
  while (j < line.size() && line[j] == '\\') ++j;
  size_t count = j - i;
  if (j < line.size() && line[j] == '"') {
    arg.append(count / 2, '\\');
    if (count % 2 == 1) {
      arg += '"';
      return j + 1;
    }
    return j;
  }
  arg.append(count, '\\');
  return j;
}

// Expands %NAME% from `vars` (a batch file's %% becomes %); anything else
// stays as written.
std::string expandScriptVariables(std::string_view text, const std::map<std::string, std::string>& vars) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text[i] != '%') {
      out += text[i++];
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '%') {
      out += '%';
      i += 2;
      continue;
    }
    size_t end = text.find('%', i + 1);
    auto found = end == std::string_view::npos ? vars.end() : vars.find(upper(text.substr(i + 1, end - i - 1)));
    if (found == vars.end()) {
      out += text[i++];
      continue;
    }
    out += found->second;
    i = end + 1;
  }
  return out;
}

// Removes cmd's escape character outside quotes.
std::string removeCarets(std::string_view text) {
  std::string out;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') quoted = !quoted;
    if (text[i] == '^' && !quoted && i + 1 < text.size()) {
      out += text[++i];
      continue;
    }
    out += text[i];
  }
  return out;
}

// `set NAME=value` or `set "NAME=value"`; false for other set forms.
bool readSetLine(std::string_view rest, std::map<std::string, std::string>& vars) {
  while (!rest.empty() && isBlank(rest.front())) rest.remove_prefix(1);
  if (!rest.empty() && rest.front() == '/') return false;  // set /a, set /p
  if (!rest.empty() && rest.front() == '"') {
    size_t close = rest.rfind('"');
    rest = close == 0 ? rest.substr(1) : rest.substr(1, close - 1);
  }
  size_t eq = rest.find('=');
  if (eq == std::string_view::npos || eq == 0) return false;
  std::string name = upper(rest.substr(0, eq));
  std::string value(rest.substr(eq + 1));
  if (value.empty()) {
    vars.erase(name);
  } else {
    vars[name] = value;
  }
  return true;
}

std::string firstWord(std::string_view line) {
  size_t end = 0;
  while (end < line.size() && !isBlank(line[end]) && line[end] != '"') ++end;
  return upper(line.substr(0, end));
}

// The logical lines of a script: continuations joined, with the number of
// the line each starts on.
std::vector<std::pair<int, std::string>> logicalLines(std::string_view text) {
  std::vector<std::pair<int, std::string>> out;
  int number = 0;
  bool continuing = false;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++number;
    if (!continuing) out.emplace_back(number, std::string());
    out.back().second += line;
    std::string& joined = out.back().second;
    continuing = !joined.empty() && joined.back() == '^' &&
                 std::count(joined.begin(), joined.end(), '"') % 2 == 0;
    if (continuing) joined.pop_back();
    pos = end + 1;
  }
  return out;
}

}  // namespace

SplitCommandLine splitWindowsCommandLine(std::string_view line) {
  SplitCommandLine out;
  size_t i = 0;
  while (true) {
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i >= line.size()) break;
    std::string arg;
    bool quoted = false;
    size_t openedAt = 0;
    while (i < line.size() && (quoted || !isBlank(line[i]))) {
      if (line[i] == '\\') {
        i = takeBackslashes(line, i, arg);
      } else if (line[i] == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"') {
        arg += '"';
        i += 2;
      } else if (line[i] == '"') {
        quoted = !quoted;
        openedAt = i++;
      } else {
        arg += line[i++];
      }
    }
    if (quoted) {
      out.error = "unterminated quote at column " + std::to_string(openedAt + 1);
      return out;
    }
    out.arguments.push_back(std::move(arg));
  }
  out.ok = true;
  return out;
}

ScriptRead readCommandScript(std::string_view text) {
  ScriptRead out;
  for (auto& [number, raw] : logicalLines(text)) {
    std::string_view line(raw);
    while (!line.empty() && (isBlank(line.front()) || line.front() == '@')) line.remove_prefix(1);
    std::string word = firstWord(line);
    if (line.empty() || line.front() == ':' || word == "REM" || word.rfind("ECHO", 0) == 0) continue;
    std::string expanded = expandScriptVariables(line, out.variables);
    if (word == "SET" && readSetLine(std::string_view(expanded).substr(3), out.variables)) continue;
    SplitCommandLine split = splitWindowsCommandLine(removeCarets(expanded));
    if (!split.ok) {
      out.error = "line " + std::to_string(number) + ": " + split.error;
      return out;
    }
    if (!split.arguments.empty()) out.commands.push_back({number, std::move(split.arguments)});
  }
  out.ok = true;
  return out;
}

std::string programStem(std::string_view path) {
  while (!path.empty() && (path.back() == '"' || isBlank(path.back()))) path.remove_suffix(1);
  size_t slash = path.find_last_of("\\/");
  std::string name(slash == std::string_view::npos ? path : path.substr(slash + 1));
  while (!name.empty() && name.front() == '"') name.erase(0, 1);
  for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0) name.resize(name.size() - 4);
  return name;
}
