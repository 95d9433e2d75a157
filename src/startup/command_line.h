// The command tail and the command words.
#pragma once

#include <string>
#include <string_view>

// The raw command line after the program name, as the C runtime hands it to
// WinMain: leading blanks (spaces, tabs), the program name (up to the closing
// double quote when it starts with one, else up to the next blank), blanks.
std::string_view commandTail(std::string_view commandLine);

// `console` runs what the service process runs, in the foreground of the
// console (docs/launcher.md); `status` and `restart` report on and restart
// the installed service, `configure` applies the block's production settings
// to it (docs/service-commands.md); `threaddump` asks it for a thread dump
// (docs/operations.md). A new word is one entry
// here, one in the word table (command_line.cpp) and one case in runCommand.
enum class CommandWord {
  none,
  install,
  installAuto,
  installDemand,
  uninstall,
  stop,
  start,
  console,
  status,
  restart,
  configure,
  threadDump,
};

struct ParsedCommand {
  CommandWord word = CommandWord::none;
  std::string wordText;  // the word as given, after its '/' or '-' (and one more '-')
  bool overridesServiceName = false;
  std::string serviceName;  // everything after the first space, verbatim
};

// Reads a command tail: a leading '/' or '-' (optionally followed by one more
// '-') introduces a word; a space after it separates a service name that
// replaces the configured one. Words compare exactly and case-sensitively;
// an unknown word gives CommandWord::none but keeps the name override.
ParsedCommand parseCommandTail(std::string_view tail);

// Whether a process run with `word` extracts the included files: only the
// service run (no word, which an unknown word also gives) and `console` run
// the application; every other word talks to the service manager or reads
// the block, and an extraction directory of its own would only pile up in
// the caller's temporary directory.
bool extractsIncludedFiles(CommandWord word);

// The new value of PATH: the resolved prefix list, a ';' unless it is empty
// or already ends in one, then the old value, however long it is.
std::string prefixPathValue(std::string_view resolvedPrefix, std::string_view oldPath);
