// The system's text for an error code (FormatMessage), for the one error
// line of common/system_error.h.
#pragma once

#include <string>

// The system's message for `code` in the ANSI code page, without inserts,
// tidied and cut (tidySystemErrorText); empty when the system has none.
std::string systemErrorText(unsigned long code);

// systemErrorLine with the system's text for `code`.
std::string systemErrorLineFor(unsigned long code);
