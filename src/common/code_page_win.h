// Text between a code page and UTF-16: the one converter of the launcher.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// Lenient, the way the system's A functions convert: bytes that are no text
// in the code page are taken as the system maps them, characters the code
// page cannot show become '?' (a UTF-8 code page shows every character).
// NUL bytes inside the text are kept. Empty when the conversion fails.
std::wstring widenText(std::string_view text, UINT codePage);
std::u16string toUtf16(std::string_view text, UINT codePage);
std::string fromUtf16(std::u16string_view text, UINT codePage);

// Exact: false for bytes that are no text in the code page, or a character
// it cannot show (where '?' or a replacement would have been needed), so
// that a path the system could not have produced is not rewritten.
[[nodiscard]] bool widenTextExact(std::string_view text, UINT codePage, std::wstring& out);
[[nodiscard]] bool narrowTextExact(std::wstring_view text, UINT codePage, std::string& out);
