// Command lines as Windows programs receive them, and the lines of a
// command script (.bat/.cmd) that installs a service.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

struct SplitCommandLine {
  bool ok = false;
  std::vector<std::string> arguments;
  std::string error;  // "unterminated quote at column 12"
};

// Splits a command line by the Microsoft C runtime's rules (what java.exe's
// main sees): blanks and tabs separate arguments; double quotes group and are
// removed; "" inside a quoted part is one quote; 2n backslashes before a
// quote are n backslashes, 2n+1 are n and a literal quote; other
// backslashes are themselves. A quote left open at the end is an error (the
// runtime would take the rest of the line as it stands).
SplitCommandLine splitWindowsCommandLine(std::string_view line);

// One command of a script: its words, and the line it starts on.
struct ScriptCommand {
  int line = 0;
  std::vector<std::string> words;
};

struct ScriptRead {
  bool ok = false;
  std::vector<ScriptCommand> commands;
  // Variables the script sets (`set NAME=value`, `set "NAME=value"`), by
  // upper-case name, as they stand at its end.
  std::map<std::string, std::string> variables;
  std::string error;  // "line 7: unterminated quote at column 40"
};

// Reads a script as cmd.exe would run it, as far as installing a service
// needs: a line ending in '^' continues on the next; '@' at the start, empty
// lines, `rem` and `::` comments and `echo` lines are skipped; `set` lines
// define variables that `%NAME%` in later lines expands to (an undefined
// `%NAME%`, `%~dp0` and `%%` stay as written); '^' outside quotes escapes the
// next character. Every other line is split with splitWindowsCommandLine.
ScriptRead readCommandScript(std::string_view text);

// The last path component of a Windows or POSIX path, without ".exe", in
// lower case: "C:\\Program Files\\Java\\bin\\JAVA.EXE" -> "java".
std::string programStem(std::string_view path);
