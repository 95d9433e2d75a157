// The configured search sequence (key 128) and the other decisions of the
// Java runtime search that follow from text alone: which entries the
// fallback pass walks, which product-home variable the flavour selects,
// which message a failed library load shows, the first line of a location
// file. The walk itself is in jvm/win_loader_win.cpp.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_keys.h"

// Where the accepted runtime was found; the numbers are the ones the log and
// the documentation use.
enum class JvmLocationKind {
  kindNone = 0,
  kindSearchPath = 1,
  kindDefinedPath = 2,
  kindEnvironmentVariable = 3,
  kindRegistry = 4,
};

// One entry: a type letter (A, B, R: a directory; E: a variable name; S: the
// system search order; Y: the registry) and the text after it.
struct SearchEntry {
  char type = 0;
  std::string argument;
};

// Splits a sequence at semicolons the way strtok does: empty entries vanish,
// nothing is trimmed, order is kept. Letters are not checked here.
std::vector<SearchEntry> splitSearchSequence(std::string_view sequence);

// Whether a sequence has an S entry: java.exe taken from wherever the
// system's search order (PATH among it) finds it. The packer warns about it.
bool usesSystemSearchPath(std::string_view sequence);

// Whether an entry's argument counts as absolute for the fallback pass: at
// least two characters, and a colon second or two backslashes first.
bool isAbsoluteEntryArgument(std::string_view argument);

// Whether the fallback pass tests an entry: A and R entries with a relative
// argument, and every B entry.
bool takesPartInFallback(const SearchEntry& entry);

// The product-home variable of a launcher flavour: "KERNO_JAVA_HOME" or
// "BRINDLE_JAVA_HOME"; none (empty) for neither flavour.
std::string_view productHomeVariable(LauncherFlavour flavour);

// The one message shown when the library of a runtime found in this way
// does not load or lacks its entry point, and the placeholder that receives
// the location text (empty: none).
struct LoadFailureMessage {
  ConfigKey key;
  std::string_view placeholder;
};
LoadFailureMessage loadFailureMessage(JvmLocationKind kind);

// A location file's line is read into this many bytes, terminator included;
// the rest of a longer line is not read.
inline constexpr std::size_t kLocationLineBytes = 8192;

// The first line of a location file as read in text mode: nothing when the
// file is empty; otherwise at most kLocationLineBytes - 1 bytes up to the
// first line end, cut at a NUL byte, with every trailing CR and LF removed
// (the line may then be empty). Trailing blanks stay.
std::optional<std::string> locationFileLine(std::string_view content);
