// The msi subcommand's file glue for the Windows packer. There is no wixl
// on Windows: runCapturingErrors starts nothing.
#include <windows.h>

#include <algorithm>

#include "io/msi_io.h"

namespace {

std::wstring wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), out.data(), n);
  return out;
}

std::string narrow(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.pop_back();
  return out;
}

std::string systemError(DWORD code) {
  char buf[256];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                           sizeof buf, nullptr);
  while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r' || buf[n - 1] == '.')) --n;
  return n > 0 ? std::string(buf, n) : "error " + std::to_string(code);
}

}  // namespace

PathKind pathKind(const std::string& path, std::string& error) {
  std::wstring w = wide(path);
  if (w.empty()) {
    error = "not a valid UTF-8 path";
    return PathKind::failed;
  }
  DWORD attributes = GetFileAttributesW(w.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return PathKind::missing;
    error = systemError(code);
    return PathKind::failed;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return PathKind::link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::directory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::other;
  return PathKind::file;
}

bool listDirectory(const std::string& path, std::vector<std::string>& names, std::string& error) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((wide(path) + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    error = systemError(GetLastError());
    return false;
  }
  names.clear();
  do {
    std::string name = narrow(data.cFileName);
    if (name != "." && name != ".." && !name.empty()) names.push_back(name);
  } while (FindNextFileW(find, &data));
  DWORD code = GetLastError();
  FindClose(find);
  if (code != ERROR_NO_MORE_FILES) {
    error = systemError(code);
    return false;
  }
  std::sort(names.begin(), names.end());
  return true;
}

void removeTree(const std::string& path) {
  std::string ignored;
  PathKind kind = pathKind(path, ignored);
  std::wstring w = wide(path);
  if (kind == PathKind::directory) {
    std::vector<std::string> names;
    if (listDirectory(path, names, ignored)) {
      for (const std::string& n : names) removeTree(path + "\\" + n);
    }
    RemoveDirectoryW(w.c_str());
  } else if (kind == PathKind::link) {
    // A junction or a link to a folder is removed as a folder, never entered.
    if (!DeleteFileW(w.c_str())) RemoveDirectoryW(w.c_str());
  } else if (kind != PathKind::missing) {
    DeleteFileW(w.c_str());
  }
}

bool setFixedFileTime(const std::string& path, std::string& error) {
  HANDLE file = CreateFileW(wide(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = systemError(GetLastError());
    return false;
  }
  // 2000-01-01 00:00:00 UTC in 100 ns units since 1601.
  const ULONGLONG fixed = 125911584000000000ull;
  FILETIME time;
  time.dwLowDateTime = DWORD(fixed);
  time.dwHighDateTime = DWORD(fixed >> 32);
  bool ok = SetFileTime(file, nullptr, &time, &time) != 0;
  if (!ok) error = systemError(GetLastError());
  CloseHandle(file);
  return ok;
}

CapturedRun runCapturingErrors(const std::vector<std::string>&, const std::string&) {
  CapturedRun r;
  r.notFound = true;
  r.error = "the Windows packer does not run wixl";
  return r;
}
