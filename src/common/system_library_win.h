// The few functions of user32, shell32 and iphlpapi the launcher calls,
// loaded on first use. Only a message box, the window activation before it,
// the shell's fallback for long path names and the watchdog's look at who
// listens on a probed port need them; imported, these libraries (and what
// they pull in) would be loaded and initialised in every
// start of the service, which under Wine costs more than the rest of the
// launcher's own start-up. Each library is loaded from the system directory
// by its full path, never through the search order. When a library or
// function is missing, a wrapper returns what its function returns on
// failure (noted beside it).
#pragma once

#include <windows.h>
#include <shlobj.h>

namespace ondemand {

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);  // 0
BOOL EnumWindows(WNDENUMPROC callback, LPARAM parameter);              // FALSE
BOOL SetForegroundWindow(HWND window);                                 // FALSE
HWND GetLastActivePopup(HWND window);                                  // window
DWORD GetWindowThreadProcessId(HWND window, DWORD* processId);         // 0, *processId 0
HWND GetForegroundWindow();                                            // nullptr
BOOL IsWindowVisible(HWND window);                                     // FALSE
HRESULT SHGetDesktopFolder(IShellFolder** folder);                     // E_FAIL
BOOL SHGetPathFromIDListA(PCIDLIST_ABSOLUTE items, LPSTR path);        // FALSE
HRESULT SHGetMalloc(IMalloc** allocator);                              // E_FAIL
// iphlpapi's GetExtendedTcpTable (`tableClass` a TCP_TABLE_CLASS), for the
// watchdog's probes only.
DWORD GetExtendedTcpTable(void* table, DWORD* size, BOOL order, ULONG family, int tableClass,
                          ULONG reserved);                               // ERROR_NOT_SUPPORTED

}  // namespace ondemand
