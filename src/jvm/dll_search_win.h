// Where libraries are looked for. At start the process's search is cut down
// to the system directory and the directories added here, so that a library
// planted in the current directory or in a directory of PATH is never loaded
// (neither by the launcher nor by the VM and the application's native code
// later). The JVM library is loaded from its full path with its own
// directory and the runtime's bin directory searched for what it needs.
#pragma once

#include <windows.h>

#include <string>

// At process start: the system directory plus the directories added by
// addDllDirectory; then the executable's directory and the configured PATH
// prefix (key 10004), which are as trusted as the executable itself. On a system
// without SetDefaultDllDirectories the current directory is at least taken
// out of the search (SetDllDirectory("")).
void restrictDllSearch();

// Adds a directory (made absolute) to the search; false when the system
// cannot. `cookie` receives what removeDllDirectory takes back.
[[nodiscard]] bool addDllDirectory(const std::string& directory, void*& cookie);
void removeDllDirectory(void* cookie);

// Loads a library from its path (made absolute from the current directory,
// as LoadLibraryA would), its dependencies from its own directory, the
// executable's, the added directories and the system directory.
HMODULE loadLibraryRestricted(const std::string& path);
