// Message texts: placeholder filling and the composed output.
#pragma once

#include <string>
#include <string_view>

// Replaces the first occurrence of `placeholder` in `text` by `value`; the
// rest of the text moves along, nothing is cut. An empty placeholder or one
// that does not occur leaves the text as it is.
std::string fillPlaceholder(std::string_view text, std::string_view placeholder,
                            std::string_view value);

// The text as shown: alone, or followed by an empty line and "Log: " with the
// log file's path when the log is open.
std::string composeMessage(std::string_view text, const std::string* logPath);
