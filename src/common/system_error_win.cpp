#include "common/system_error_win.h"

#include <windows.h>

#include "common/system_error.h"

std::string systemErrorText(unsigned long code) {
  // The system allocates what the text needs (at most 64 KiB); only the
  // first kMaxSystemErrorText bytes of it are kept.
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out;
  if (n > 0 && text != nullptr) out = tidySystemErrorText(std::string_view(text, n));
  if (text != nullptr) LocalFree(text);
  return out;
}

std::string systemErrorLineFor(unsigned long code) {
  return systemErrorLine(code, systemErrorText(code));
}
