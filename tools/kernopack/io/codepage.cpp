#include "io/codepage.h"

#include <cstdint>

#include "io/codepage_system.h"

namespace {

// Bytes 0x80..0x9F of Windows-1252; the rest of the code page is Latin-1.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

}  // namespace

char32_t cp1252ToUnicode(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kCp1252High[byte - 0x80];
  return byte;
}

int unicodeToCp1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return int(c);
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == c) return 0x80 + i;
  }
  return -1;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

bool utf8ToCodePoints(std::string_view utf8, std::u32string& out, size_t& bad) {
  out.clear();
  size_t i = 0;
  while (i < utf8.size()) {
    unsigned char b = static_cast<unsigned char>(utf8[i]);
    size_t len = 0;
    char32_t c = 0, min = 0;
    if (b < 0x80) {
      len = 1, c = b;
    } else if ((b & 0xE0) == 0xC0) {
      len = 2, c = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3, c = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4, c = b & 0x07, min = 0x10000;
    } else {
      bad = i;
      return false;
    }
    if (utf8.size() - i < len) {
      bad = i;
      return false;
    }
    for (size_t k = 1; k < len; ++k) {
      unsigned char t = static_cast<unsigned char>(utf8[i + k]);
      if ((t & 0xC0) != 0x80) {
        bad = i;
        return false;
      }
      c = (c << 6) | (t & 0x3F);
    }
    if (c < min || c > 0x10FFFF || isSurrogate(c)) {
      bad = i;
      return false;
    }
    out += c;
    i += len;
  }
  return true;
}

bool utf8ToUtf16(std::string_view utf8, std::u16string& out, size_t& bad) {
  std::u32string chars;
  out.clear();
  if (!utf8ToCodePoints(utf8, chars, bad)) return false;
  for (char32_t c : chars) {
    if (c < 0x10000) {
      out += char16_t(c);
    } else {
      c -= 0x10000;
      out += char16_t(0xD800 + (c >> 10));
      out += char16_t(0xDC00 + (c & 0x3FF));
    }
  }
  return true;
}

bool utf16ToUtf8(std::u16string_view utf16, std::string& out, size_t& bad) {
  out.clear();
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (c >= 0xDC00 && c <= 0xDFFF) {
      bad = i;
      return false;
    }
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= utf16.size() || utf16[i + 1] < 0xDC00 || utf16[i + 1] > 0xDFFF) {
        bad = i;
        return false;
      }
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    }
    appendUtf8(out, c);
  }
  return true;
}

bool codePageSupported(unsigned codePage, std::string& error) {
  if (codePage == kDefaultCodePage || codePage == kCodePageUtf8) return true;
  if (systemCodePageAvailable(codePage)) return true;
  error = "code page " + std::to_string(codePage) + " is not supported on this system";
  return false;
}

Encoded encodeNarrow(std::string_view utf8, unsigned codePage) {
  Encoded r;
  std::u32string chars;
  size_t bad = 0;
  if (!utf8ToCodePoints(utf8, chars, bad)) {
    r.error = "malformed UTF-8 at byte " + std::to_string(bad + 1);
    return r;
  }
  auto fail = [&](size_t index) {
    r.position = index + 1;
    r.character = chars[index];
    r.bytes.clear();
    return r;
  };
  if (codePage == kCodePageUtf8) {
    r.bytes.assign(utf8);
  } else if (codePage == kDefaultCodePage) {
    r.bytes.reserve(chars.size());
    for (size_t i = 0; i < chars.size(); ++i) {
      int b = unicodeToCp1252(chars[i]);
      if (b < 0) return fail(i);
      r.bytes += char(b);
    }
  } else {
    SystemEncoded s = systemEncode(chars, codePage);
    if (s.unsupported) {
      codePageSupported(codePage, r.error);
      return r;
    }
    if (!s.ok) return fail(s.badIndex < chars.size() ? s.badIndex : chars.size() - 1);
    r.bytes = std::move(s.bytes);
  }
  r.ok = true;
  return r;
}

Decoded decodeNarrow(std::string_view bytes, unsigned codePage) {
  Decoded r;
  if (codePage == kCodePageUtf8) {
    std::u32string chars;
    size_t bad = 0;
    if (!utf8ToCodePoints(bytes, chars, bad)) {
      r.offset = bad;
      r.error = "byte " + std::to_string(bad + 1) + " is not valid UTF-8";
      return r;
    }
    r.utf8.assign(bytes);
    r.ok = true;
    return r;
  }
  if (codePage == kDefaultCodePage) {
    for (unsigned char b : bytes) appendUtf8(r.utf8, cp1252ToUnicode(b));
    r.ok = true;
    return r;
  }
  SystemDecoded s = systemDecode(std::string(bytes), codePage);
  if (s.unsupported) {
    codePageSupported(codePage, r.error);
    return r;
  }
  if (!s.ok) {
    r.offset = s.badOffset;
    r.error = s.offsetKnown ? "byte " + std::to_string(s.badOffset + 1) +
                                  " does not decode in code page " + std::to_string(codePage)
                            : "the bytes do not decode in code page " + std::to_string(codePage);
    return r;
  }
  for (char32_t c : s.chars) appendUtf8(r.utf8, c);
  // A description must build the very same bytes again.
  Encoded back = encodeNarrow(r.utf8, codePage);
  if (!back.ok || back.bytes != bytes) {
    r.utf8.clear();
    r.error = "the bytes do not convert back to themselves in code page " +
              std::to_string(codePage);
    return r;
  }
  r.ok = true;
  return r;
}
