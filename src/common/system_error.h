// The one line that gives a system error code with the system's own text,
// printed by the service commands after their fixed failure line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The system's text is cut at this many bytes.
inline constexpr size_t kMaxSystemErrorText = 512;

// The system's text on one line: line breaks, tabs and other control bytes
// become single spaces, blanks at either end go, and the text is cut at
// kMaxSystemErrorText bytes.
std::string tidySystemErrorText(std::string_view raw);

// "Error <code>: <text>" with the text tidied, or "Error <code>." when the
// system has no text for the code. No line end.
std::string systemErrorLine(unsigned long code, std::string_view systemText);
