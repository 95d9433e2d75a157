// Code pages other than the built-in ones, through the Win32 conversion
// functions. Best-fit look-alikes are refused, as the native build refuses
// them through iconv.
#include <windows.h>

#include <string>

#include "io/codepage.h"
#include "io/codepage_system.h"

namespace {

bool flagsRejected(DWORD error) {
  return error == ERROR_INVALID_FLAGS || error == ERROR_INVALID_PARAMETER;
}

}  // namespace

bool systemCodePageAvailable(unsigned codePage) { return IsValidCodePage(codePage) != 0; }

SystemEncoded systemEncode(const std::u32string& chars, unsigned codePage) {
  SystemEncoded r;
  // One character at a time, so that a failure names its position.
  for (size_t i = 0; i < chars.size(); ++i) {
    wchar_t w[2];
    int n = 1;
    char32_t c = chars[i];
    if (c >= 0x10000) {
      w[0] = wchar_t(0xD800 + ((c - 0x10000) >> 10));
      w[1] = wchar_t(0xDC00 + ((c - 0x10000) & 0x3FF));
      n = 2;
    } else {
      w[0] = wchar_t(c);
    }
    char buf[16];
    BOOL usedDefault = FALSE;
    int len = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, w, n, buf, sizeof buf, nullptr,
                                  &usedDefault);
    if (len <= 0) {
      if (flagsRejected(GetLastError())) r.unsupported = true;
      r.badIndex = i;
      return r;
    }
    if (usedDefault) {
      r.badIndex = i;
      return r;
    }
    r.bytes.append(buf, size_t(len));
  }
  r.ok = true;
  return r;
}

SystemDecoded systemDecode(const std::string& bytes, unsigned codePage) {
  SystemDecoded r;
  if (bytes.empty()) {
    r.ok = true;
    return r;
  }
  if (bytes.size() > 0x7FFFFFFF) return r;
  int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), int(bytes.size()),
                              nullptr, 0);
  if (n <= 0) {
    if (flagsRejected(GetLastError())) r.unsupported = true;
    return r;
  }
  std::wstring wide(size_t(n), L'\0');
  n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), int(bytes.size()),
                          wide.data(), n);
  if (n <= 0) return r;
  wide.resize(size_t(n));
  std::string utf8;
  size_t bad = 0;
  std::u16string units(wide.begin(), wide.end());
  if (!utf16ToUtf8(units, utf8, bad) || !utf8ToCodePoints(utf8, r.chars, bad)) return r;
  r.ok = true;
  return r;
}
