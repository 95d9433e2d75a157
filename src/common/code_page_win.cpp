#include "common/code_page_win.h"

#include <climits>

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 code units on Windows");

// Whether a conversion runs in UTF-8, where the question-mark default is not
// allowed: there, an unconvertible character (a lone surrogate) becomes
// U+FFFD, or is reported through WC_ERR_INVALID_CHARS when exact.
bool isUtf8CodePage(UINT codePage) {
  if (codePage == CP_ACP) codePage = GetACP();
  if (codePage == CP_OEMCP) codePage = GetOEMCP();
  return codePage == CP_UTF8;
}

template <typename Wide>
bool widen(std::string_view text, UINT codePage, bool exact, Wide& out) {
  out.clear();
  if (text.empty()) return true;
  if (text.size() > static_cast<size_t>(INT_MAX)) return false;
  DWORD flags = exact ? MB_ERR_INVALID_CHARS : 0;
  int length = static_cast<int>(text.size());
  int needed = MultiByteToWideChar(codePage, flags, text.data(), length, nullptr, 0);
  if (needed <= 0) return false;
  out.resize(static_cast<size_t>(needed));
  int written = MultiByteToWideChar(codePage, flags, text.data(), length,
                                    reinterpret_cast<wchar_t*>(out.data()), needed);
  if (written <= 0) {
    out.clear();
    return false;
  }
  out.resize(static_cast<size_t>(written));
  return true;
}

template <typename WideView>
bool narrow(WideView text, UINT codePage, bool exact, std::string& out) {
  out.clear();
  if (text.empty()) return true;
  if (text.size() > static_cast<size_t>(INT_MAX)) return false;
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
  bool utf8 = isUtf8CodePage(codePage);
  DWORD flags = utf8 && exact ? WC_ERR_INVALID_CHARS : 0;
  const char* defaultChar = utf8 ? nullptr : "?";
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultOut = exact && !utf8 ? &usedDefault : nullptr;
  int length = static_cast<int>(text.size());
  int needed =
      WideCharToMultiByte(codePage, flags, wide, length, nullptr, 0, defaultChar, usedDefaultOut);
  if (needed <= 0 || usedDefault) return false;
  std::string buffer(static_cast<size_t>(needed), '\0');
  int written = WideCharToMultiByte(codePage, flags, wide, length, buffer.data(), needed,
                                    defaultChar, usedDefaultOut);
  if (written <= 0 || usedDefault) return false;
  buffer.resize(static_cast<size_t>(written));
  out = std::move(buffer);
  return true;
}

}  // namespace

std::wstring widenText(std::string_view text, UINT codePage) {
  std::wstring out;
  widen(text, codePage, false, out);
  return out;
}

std::u16string toUtf16(std::string_view text, UINT codePage) {
  std::u16string out;
  widen(text, codePage, false, out);
  return out;
}

std::string fromUtf16(std::u16string_view text, UINT codePage) {
  std::string out;
  narrow(text, codePage, false, out);
  return out;
}

bool widenTextExact(std::string_view text, UINT codePage, std::wstring& out) {
  return widen(text, codePage, true, out);
}

bool narrowTextExact(std::wstring_view text, UINT codePage, std::string& out) {
  return narrow(text, codePage, true, out);
}
