#include "common/system_library_win.h"

#include <string>

namespace {

// A library of the system directory, by its full path.
HMODULE loadSystemLibrary(const char* name) {
  char directory[MAX_PATH + 1];
  UINT n = GetSystemDirectoryA(directory, sizeof directory);
  if (n == 0 || n >= sizeof directory) return nullptr;
  std::string path(directory, n);
  path += '\\';
  path += name;
  return LoadLibraryA(path.c_str());
}

HMODULE user32() {
  static HMODULE module = loadSystemLibrary("user32.dll");
  return module;
}

HMODULE shell32() {
  static HMODULE module = loadSystemLibrary("shell32.dll");
  return module;
}

HMODULE iphlpapi() {
  static HMODULE module = loadSystemLibrary("iphlpapi.dll");
  return module;
}

template <typename Function>
Function* lookUp(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  // Through void(*)() so that the compiler accepts the change of signature.
  return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace

// Each wrapper resolves its function once (a thread-safe static).
#define KERNO_ON_DEMAND(library, function) \
  static auto* const call = lookUp<decltype(::function)>(library(), #function)

namespace ondemand {

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  KERNO_ON_DEMAND(user32, MessageBoxA);
  return call ? call(owner, text, caption, type) : 0;
}

BOOL EnumWindows(WNDENUMPROC callback, LPARAM parameter) {
  KERNO_ON_DEMAND(user32, EnumWindows);
  return call ? call(callback, parameter) : FALSE;
}

BOOL SetForegroundWindow(HWND window) {
  KERNO_ON_DEMAND(user32, SetForegroundWindow);
  return call ? call(window) : FALSE;
}

HWND GetLastActivePopup(HWND window) {
  KERNO_ON_DEMAND(user32, GetLastActivePopup);
  return call ? call(window) : window;
}

DWORD GetWindowThreadProcessId(HWND window, DWORD* processId) {
  KERNO_ON_DEMAND(user32, GetWindowThreadProcessId);
  if (call) return call(window, processId);
  if (processId != nullptr) *processId = 0;
  return 0;
}

HWND GetForegroundWindow() {
  KERNO_ON_DEMAND(user32, GetForegroundWindow);
  return call ? call() : nullptr;
}

BOOL IsWindowVisible(HWND window) {
  KERNO_ON_DEMAND(user32, IsWindowVisible);
  return call ? call(window) : FALSE;
}

HRESULT SHGetDesktopFolder(IShellFolder** folder) {
  KERNO_ON_DEMAND(shell32, SHGetDesktopFolder);
  return call ? call(folder) : E_FAIL;
}

BOOL SHGetPathFromIDListA(PCIDLIST_ABSOLUTE items, LPSTR path) {
  KERNO_ON_DEMAND(shell32, SHGetPathFromIDListA);
  return call ? call(items, path) : FALSE;
}

HRESULT SHGetMalloc(IMalloc** allocator) {
  KERNO_ON_DEMAND(shell32, SHGetMalloc);
  return call ? call(allocator) : E_FAIL;
}

DWORD GetExtendedTcpTable(void* table, DWORD* size, BOOL order, ULONG family, int tableClass, ULONG reserved) {
  // Declared here by hand: iphlpapi.h wants Winsock's headers first.
  using Function = DWORD WINAPI(PVOID, PDWORD, BOOL, ULONG, int, ULONG);
  static auto* const call = lookUp<Function>(iphlpapi(), "GetExtendedTcpTable");
  return call ? call(table, size, order, family, tableClass, reserved) : ERROR_NOT_SUPPORTED;
}

}  // namespace ondemand
