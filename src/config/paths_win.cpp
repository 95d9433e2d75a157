// Path operations over the system. The decisions (relative or absolute,
// backslash collapsing, drive roots, list splitting, listing patterns) are in
// config/path_text.cpp; this file asks the system and converts text.
//
// Long inputs: nothing here has a fixed-size buffer. Every call that returns
// text is sized by what the system says it needs and asked again with a larger
// buffer (up to kMaxTextUnits). Where the system refuses a long path (Wine's
// narrow file functions stop at MAX_PATH), the operation fails the way the
// system failed: resolvePath gives an empty text, pathExists false,
// listDirectory no names. Only the shell-based long-name emulation keeps the
// system's MAX_PATH limit, and it checks it before anything is written.
#include "config/paths_win.h"

#include <shlobj.h>
#include <shobjidl.h>
#include <wchar.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "common/code_page_win.h"
#include "common/handles_win.h"
#include "common/sized_call_win.h"
#include "common/system_library_win.h"
#include "config/config_state.h"
#include "config/path_text.h"

namespace {
// The shell's long-name route works in MAX_PATH buffers.
constexpr DWORD kShellPathBytes = MAX_PATH;

static_assert(sizeof(OSVERSIONINFOA) == 148, "GetVersionExA expects the 148-byte record");

// Conversions in the file-API code page that refuse what the system could
// not have produced, so that such a path is left as it is, not rewritten.
bool toWide(std::string_view text, std::wstring& out) {
  return widenTextExact(text, fileApiCodePage(), out);
}

bool toNarrowExact(std::wstring_view text, std::string& out) {
  return narrowTextExact(text, fileApiCodePage(), out);
}

// GetFullPathNameA, with the offset of the file-name part (npos when the
// call reports none).
bool fullPathName(const std::string& path, std::string& out, size_t* fileNameOffset) {
  size_t offset = std::string::npos;
  bool ok = callForText(out, [&](char* buffer, DWORD capacity) {
    char* filePart = nullptr;
    DWORD n = GetFullPathNameA(path.c_str(), capacity, buffer, &filePart);
    offset = n != 0 && n < capacity && filePart != nullptr ? static_cast<size_t>(filePart - buffer)
                                                           : std::string::npos;
    return n;
  });
  if (fileNameOffset != nullptr) *fileNameOffset = offset;
  return ok;
}

// The NT route: the module path in UTF-16, shortened, converted. False when
// the conversion needed the default character or does not end in ".exe".
bool wideExecutablePath(std::string& out) {
  std::wstring modulePath;
  std::wstring shortPath;
  if (!callForText(modulePath, [](wchar_t* buffer, DWORD capacity) {
        return GetModuleFileNameW(nullptr, buffer, capacity);
      })) {
    return false;
  }
  if (!callForText(shortPath, [&](wchar_t* buffer, DWORD capacity) {
        return GetShortPathNameW(modulePath.c_str(), buffer, capacity);
      })) {
    return false;
  }
  std::string narrow;
  if (!toNarrowExact(shortPath, narrow) || !hasExeSuffix(narrow)) return false;
  out = std::move(narrow);
  return true;
}

std::string narrowExecutablePath() {
  std::string modulePath;
  std::string shortPath;
  if (!callForText(modulePath, [](char* buffer, DWORD capacity) {
        return GetModuleFileNameA(nullptr, buffer, capacity);
      })) {
    return std::string();
  }
  if (callForText(shortPath, [&](char* buffer, DWORD capacity) {
        return GetShortPathNameA(modulePath.c_str(), buffer, capacity);
      })) {
    return shortPath;
  }
  // Without a short form the long one still names the file.
  return modulePath;
}

// The directory part of an absolute path, cut after its last backslash in
// UTF-16 (a trail byte may look like a backslash in the narrow text).
bool directoryByLastBackslash(const std::string& path, std::string& out) {
  std::wstring wide;
  if (!toWide(path, wide)) return false;
  size_t slash = wide.rfind(L'\\');
  if (slash == std::wstring::npos) return false;
  return toNarrowExact(std::wstring_view(wide).substr(0, slash + 1), out);
}

using LongPathFunction = DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD);

LongPathFunction systemLongPathFunction() {
  HMODULE kernel = GetModuleHandleA("KERNEL32");
  if (kernel == nullptr) return nullptr;
  FARPROC proc = GetProcAddress(kernel, "GetLongPathNameA");
  // Through void(*)() so that the compiler accepts the change of signature.
  return reinterpret_cast<LongPathFunction>(reinterpret_cast<void (*)()>(proc));
}

// Releases a COM interface when the scope ends.
template <typename T>
struct ComRelease {
  T* object = nullptr;
  ~ComRelease() {
    if (object != nullptr) object->Release();
  }
};
}  // namespace

UINT fileApiCodePage() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

bool isWindowsNT() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
  return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

const std::string& getExecutablePath() {
  PathCache& cache = pathCache();
  if (cache.executablePathComputed) return cache.executablePath;
  std::string path;
  if (!isWindowsNT() || !wideExecutablePath(path)) path = narrowExecutablePath();
  lowercasePath(path);
  collapseBackslashes(path);
  cache.executablePath = std::move(path);
  cache.executablePathComputed = true;
  return cache.executablePath;
}

const std::string& exeDirectory() {
  PathCache& cache = pathCache();
  if (cache.exeDirectoryComputed) return cache.exeDirectory;
  const std::string& exePath = getExecutablePath();
  std::string full;
  size_t fileName = std::string::npos;
  std::string directory;
  if (fullPathName(exePath, full, &fileName)) {
    directory = cutAtFileName(full, fileName);
  } else if (!directoryByLastBackslash(exePath, directory)) {
    // Stays empty and is tried again on the next call.
    return cache.exeDirectory;
  }
  cache.exeDirectory = std::move(directory);
  cache.exeDirectoryComputed = true;
  return cache.exeDirectory;
}

void lowercasePath(std::string& path) {
  std::wstring wide;
  if (!toWide(path, wide)) return;
  _wcslwr(wide.data());
  std::string narrow;
  if (toNarrowExact(wide, narrow)) path = std::move(narrow);
}

void collapseBackslashes(std::string& path) {
  std::wstring wide;
  if (!toWide(path, wide)) return;
  std::u16string text(wide.begin(), wide.end());
  collapseBackslashes(text);
  std::wstring collapsed(text.begin(), text.end());
  std::string narrow;
  if (toNarrowExact(collapsed, narrow)) path = std::move(narrow);
}

std::string appendExeRelative(std::string_view path) {
  std::string out = appendExeRelative(exeDirectory(), path);
  collapseBackslashes(out);
  return out;
}

std::string resolvePath(std::string_view path, bool keepCase) {
  std::string relative = appendExeRelative(path);
  std::string out;
  if (!fullPathName(relative, out, nullptr)) return std::string();
  if (!keepCase) lowercasePath(out);
  collapseBackslashes(out);
  return out;
}

std::string resolvePathList(std::string_view list) {
  std::vector<std::string> items;
  for (std::string_view item : splitPathList(list)) items.push_back(appendExeRelative(item));
  return joinPathList(items);
}

bool pathExists(const std::string& path) {
  if (isDriveRootShortcut(path)) return true;
  return findPath(path, nullptr);
}

bool findPath(const std::string& path, FILETIME* lastWrite) {
  WIN32_FIND_DATAA data;
  UniqueFindHandle find(FindFirstFileA(path.c_str(), &data));
  if (!find) return false;
  if (lastWrite != nullptr) *lastWrite = data.ftLastWriteTime;
  return true;
}

std::vector<std::string> listDirectory(const std::string& dir, const std::string& ext) {
  std::vector<std::string> names;
  std::string pattern = listDirectoryPattern(dir, ext);
  WIN32_FIND_DATAA data;
  UniqueFindHandle find(FindFirstFileA(pattern.c_str(), &data));
  if (!find) return names;
  do {
    names.emplace_back(data.cFileName, strnlen(data.cFileName, sizeof(data.cFileName)));
  } while (FindNextFileA(find.get(), &data));
  return names;
}

DWORD emulateLongPathName(const char* shortPath, char* out, DWORD size) {
  if (out == nullptr) size = 0;
  if (GetFileAttributesA(shortPath) == INVALID_FILE_ATTRIBUTES) return 0;

  char full[kShellPathBytes];
  DWORD n = GetFullPathNameA(shortPath, kShellPathBytes, full, nullptr);
  if (n == 0) return 0;
  if (n > kShellPathBytes - 1) {
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return 0;
  }

  ComRelease<IShellFolder> desktop;
  if (FAILED(ondemand::SHGetDesktopFolder(&desktop.object))) return 0;

  std::wstring wide = widenText(full, fileApiCodePage());
  if (wide.empty()) return 0;
  if (wide.size() > kShellPathBytes - 1) {
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return 0;
  }

  ULONG eaten = 0;
  PIDLIST_RELATIVE items = nullptr;
  HRESULT hr = desktop.object->ParseDisplayName(nullptr, nullptr, wide.data(), &eaten, &items, nullptr);
  if (FAILED(hr)) {
    SetLastError(HRESULT_FACILITY(hr) == FACILITY_WIN32 ? HRESULT_CODE(hr) : ERROR_INVALID_DATA);
    return 0;
  }

  DWORD result = 0;
  if (!ondemand::SHGetPathFromIDListA(reinterpret_cast<PCIDLIST_ABSOLUTE>(items), full)) {
    if (full[0] != '\0') SetLastError(ERROR_INVALID_DATA);
  } else {
    DWORD len = static_cast<DWORD>(lstrlenA(full));
    if (len + 1 > size) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      result = len + 1;
    } else {
      lstrcpynA(out, full, static_cast<int>(size));
      result = len;
    }
  }

  ComRelease<IMalloc> shellMalloc;
  if (SUCCEEDED(ondemand::SHGetMalloc(&shellMalloc.object))) shellMalloc.object->Free(items);
  return result;
}

DWORD getLongPathName(const char* shortPath, char* out, DWORD size) {
  if (out == nullptr) size = 0;
  PathCache& cache = pathCache();
  if (cache.longPath == LongPathImpl::emulated) return emulateLongPathName(shortPath, out, size);
  LongPathFunction system = systemLongPathFunction();
  if (system != nullptr) {
    DWORD result = system(shortPath, out, size);
    if (cache.longPath == LongPathImpl::system) return result;
    // First call: keep the system function unless it is a stub.
    if (result != 0 || GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) {
      cache.longPath = LongPathImpl::system;
      return result;
    }
  }
  cache.longPath = LongPathImpl::emulated;
  return emulateLongPathName(shortPath, out, size);
}

bool getLongPathName(const std::string& shortPath, std::string& out) {
  std::string buffer;
  if (!callForText(buffer, [&](char* data, DWORD capacity) {
        return getLongPathName(shortPath.c_str(), data, capacity);
      })) {
    return false;
  }
  out = std::move(buffer);
  return true;
}
