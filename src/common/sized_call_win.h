// Calling a system function that fills a caller's buffer and, when the buffer
// is too small, answers with the size it needs.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>

// The largest text, in characters, these calls accept: the system's own limit
// for a path is 32767 UTF-16 units, and a narrow text in a double-byte code
// page may take two bytes for each.
inline constexpr DWORD kMaxTextUnits = 65536;
// Most texts fit at once; a longer one costs one more call.
inline constexpr DWORD kFirstTextUnits = 128;

// Runs a text-returning system call with the usual convention: 0 on failure,
// the length without terminator when the text fit into `capacity` units, else
// the size it needs (GetModuleFileName returns the capacity itself when it
// truncated, which reads the same way). Grows the buffer until the text fits,
// up to kMaxTextUnits; false on failure or beyond that.
template <typename Char, typename Call>
bool callForText(std::basic_string<Char>& out, Call call) {
  DWORD capacity = kFirstTextUnits;
  for (;;) {
    std::basic_string<Char> buffer(capacity, Char());
    DWORD n = call(buffer.data(), capacity);
    if (n == 0) return false;
    if (n < capacity) {
      buffer.resize(n);
      out = std::move(buffer);
      return true;
    }
    if (capacity >= kMaxTextUnits) return false;
    capacity = std::min(kMaxTextUnits, std::max(n, capacity * 2));
  }
}
