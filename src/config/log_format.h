// Rules of the diagnostic log that need no system.
#pragma once

#include <string>
#include <string_view>

// Only the exact value "yes" switches the log on (case-sensitive, no blanks).
inline bool isLogSwitchOn(std::string_view value) { return value == "yes"; }

// Prefix of the log file names; the fixed fallback name when no unique name
// can be opened.
inline constexpr std::string_view kLogFilePrefix = "brd_nlog_";
inline constexpr std::string_view kLogFallbackName = "c:\\brd_nlog";

// "<dir>\brd_nlog_<pid in hex>_<random hex>": a name in the spirit of
// _tempnam, made by hand because some C runtimes shorten the prefix; the
// random part keeps anybody from taking every name in advance. `dir` may or
// may not end in a backslash.
std::string logCandidateName(std::string_view dir, unsigned long pid, std::string_view randomHex);

// The header line: "Started executable <path> at <ctime text>\n", where the
// ctime text brings its own line feed, so an empty line follows.
std::string logHeaderLine(std::string_view modulePath, std::string_view ctimeText);
