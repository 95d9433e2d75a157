// Text conversions of the packer: JSON texts are UTF-8, narrow records are
// bytes in an ANSI code page, wide records are UTF-16.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr unsigned kDefaultCodePage = 1252;
inline constexpr unsigned kCodePageUtf8 = 65001;

struct Encoded {
  bool ok = false;
  std::string bytes;
  // On failure: the 1-based position of the first character that does not
  // fit (counted in characters, not bytes) and that character; or, when the
  // code page itself is the problem, position 0 and a text in `error`.
  size_t position = 0;
  char32_t character = 0;
  std::string error;
};

struct Decoded {
  bool ok = false;
  std::string utf8;
  // On failure: the 0-based offset of the first byte that does not decode,
  // when known, and a text in `error`.
  size_t offset = 0;
  std::string error;
};

// True when texts can be converted to and from `codePage` here; `error` says
// otherwise. Windows-1252 and UTF-8 (65001) are built in and always work.
bool codePageSupported(unsigned codePage, std::string& error);

// UTF-8 to the code page. Characters without an exact mapping fail: nothing
// is replaced by a look-alike.
Encoded encodeNarrow(std::string_view utf8, unsigned codePage);

// Code page bytes to UTF-8. The result also converts back to exactly the
// same bytes; bytes for which that does not hold fail.
Decoded decodeNarrow(std::string_view bytes, unsigned codePage);

// UTF-8 to UTF-16 and back. A malformed or unpaired sequence fails; `bad` is
// its byte offset (UTF-8) or code-unit index (UTF-16), 0-based.
bool utf8ToUtf16(std::string_view utf8, std::u16string& out, size_t& bad);
bool utf16ToUtf8(std::u16string_view utf16, std::string& out, size_t& bad);

// Decodes UTF-8 into code points; false with `bad` = byte offset when the
// text is malformed (overlong forms and encoded surrogates included).
bool utf8ToCodePoints(std::string_view utf8, std::u32string& out, size_t& bad);
void appendUtf8(std::string& out, char32_t c);

// The built-in Windows-1252 table. The five bytes that Windows-1252 leaves
// undefined (0x81 0x8D 0x8F 0x90 0x9D) map to U+0081 etc., as Windows maps
// them, so that every byte survives a round trip.
char32_t cp1252ToUnicode(unsigned char byte);
// The byte of `c`, or -1 when Windows-1252 has no byte for it.
int unicodeToCp1252(char32_t c);
