#include "jvm/dll_search_win.h"

#include <vector>

#include "config/config_store.h"
#include "config/log_win.h"
#include "config/path_text.h"
#include "config/paths_win.h"

namespace {

// Looked up at run time: Windows 7 has them only with an update installed.
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using AddDllDirectoryFn = void*(WINAPI*)(const wchar_t*);
using RemoveDllDirectoryFn = BOOL(WINAPI*)(void*);

template <typename Fn>
Fn kernelFunction(const char* name) {
  FARPROC f = GetProcAddress(GetModuleHandleA("kernel32.dll"), name);
  // Through void(*)() so that the compiler accepts the change of signature.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(f));
}

bool restricted = false;

std::wstring fullWidePath(const std::string& path) {
  UINT codePage = fileApiCodePage();
  int n = MultiByteToWideChar(codePage, 0, path.c_str(), -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(size_t(n), L'\0');
  MultiByteToWideChar(codePage, 0, path.c_str(), -1, wide.data(), n);
  DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return std::wstring();
  std::wstring full(size, L'\0');
  DWORD got = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  if (got == 0 || got >= size) return std::wstring();
  full.resize(got);
  return full;
}

}  // namespace

void restrictDllSearch() {
  auto setDefault = kernelFunction<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
  if (setDefault == nullptr || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS)) {
    SetDllDirectoryA("");
    return;
  }
  restricted = true;
  void* cookie = nullptr;
  (void)addDllDirectory(appendExeRelative(""), cookie);
  for (std::string_view dir : splitPathList(resolvePathList(getConfigString(ConfigKey::pathPrefix)))) {
    (void)addDllDirectory(std::string(dir), cookie);
  }
}

bool addDllDirectory(const std::string& directory, void*& cookie) {
  cookie = nullptr;
  if (!restricted) return false;
  auto add = kernelFunction<AddDllDirectoryFn>("AddDllDirectory");
  std::wstring full = fullWidePath(directory);
  if (add == nullptr || full.empty()) return false;
  cookie = add(full.c_str());
  return cookie != nullptr;
}

void removeDllDirectory(void* cookie) {
  auto remove = kernelFunction<RemoveDllDirectoryFn>("RemoveDllDirectory");
  if (cookie != nullptr && remove != nullptr) remove(cookie);
}

HMODULE loadLibraryRestricted(const std::string& path) {
  if (!restricted) return LoadLibraryA(path.c_str());
  std::wstring full = fullWidePath(path);
  if (full.empty()) return nullptr;
  return LoadLibraryExW(full.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}
