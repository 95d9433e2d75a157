// Bytes as lower-case hex text, two digits a byte: how random bytes become
// part of a name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline std::string lowerHex(const uint8_t* data, std::size_t size) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    out += kHex[data[i] >> 4];
    out += kHex[data[i] & 0x0f];
  }
  return out;
}
