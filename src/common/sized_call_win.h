// Calling a system function that fills a caller's buffer and, when the buffer
// is too small, answers with the size it needs (terminator included).
#pragma once

#include <windows.h>

#include <string>
#include <utility>

// `call(buffer, capacity)` returns the system function's count: 0 for
// failure, less than capacity for the length written, else the size needed.
// True with the text in `out`; false on failure or when the size keeps
// growing (a value that changes under us).
template <typename Call>
bool callWithGrowingBuffer(std::string& out, Call call, DWORD capacity = MAX_PATH) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::string buffer(capacity, '\0');
    DWORD n = call(buffer.data(), capacity);
    if (n == 0) return false;
    if (n < capacity) {
      buffer.resize(n);
      out = std::move(buffer);
      return true;
    }
    capacity = n;
  }
  return false;
}
