#include "io/terminal_text.h"

#include <cstdint>

namespace {

constexpr char kHex[] = "0123456789abcdef";

void appendByteEscape(std::string& out, unsigned char b) {
  out += "\\x";
  out += kHex[b >> 4];
  out += kHex[b & 15];
}

void appendCodePointEscape(std::string& out, uint32_t cp) {
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 15];
}

bool actsOnTerminal(uint32_t cp) {
  return (cp >= 0x80 && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 || (cp >= 0x200E && cp <= 0x200F) ||
         (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

// The length of the valid UTF-8 sequence at `at` and its code point; 0 when
// the bytes there are no valid sequence (overlong, a surrogate, past
// U+10FFFF, cut short).
size_t decodeUtf8(std::string_view text, size_t at, uint32_t& cp) {
  unsigned char lead = static_cast<unsigned char>(text[at]);
  size_t length;
  uint32_t min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, min = 0x80, cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, min = 0x800, cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, min = 0x10000, cp = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[at + i]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string escapeForTerminal(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    unsigned char b = static_cast<unsigned char>(text[at]);
    if (b < 0x80) {
      if (b < 0x20 || b == 0x7F) {
        appendByteEscape(out, b);
      } else {
        out += char(b);
      }
      ++at;
      continue;
    }
    uint32_t cp = 0;
    size_t length = decodeUtf8(text, at, cp);
    if (length == 0) {
      appendByteEscape(out, b);
      ++at;
    } else {
      if (actsOnTerminal(cp)) {
        appendCodePointEscape(out, cp);
      } else {
        out.append(text.substr(at, length));
      }
      at += length;
    }
  }
  return out;
}

std::string jsonForTerminal(std::string_view json) {
  std::string out;
  out.reserve(json.size());
  for (size_t at = 0; at < json.size();) {
    uint32_t cp = 0;
    size_t length = static_cast<unsigned char>(json[at]) < 0x80 ? 1 : decodeUtf8(json, at, cp);
    if (length == 1) cp = static_cast<unsigned char>(json[at]);
    if (length == 0) {
      out += json[at++];  // not UTF-8: left to the reader, who refuses it
    } else if (cp == 0x7F || actsOnTerminal(cp)) {
      appendCodePointEscape(out, cp);
      at += length;
    } else {
      out.append(json.substr(at, length));
      at += length;
    }
  }
  return out;
}
