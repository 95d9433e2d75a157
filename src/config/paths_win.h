// Path operations over the system: the executable's own path and directory,
// configured paths made absolute, existence tests, directory listings and
// long path names. Relative configured paths are taken from the executable's
// directory, never from the current directory.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

// True iff GetVersionExA reports the NT platform.
bool isWindowsNT();

// The executable's fully qualified path in its short (8.3), lower-case form
// with repeated backslashes collapsed. Computed once; the same object after.
const std::string& getExecutablePath();

// The executable's directory with its trailing backslash. Computed once.
const std::string& exeDirectory();

// Lower-cases a path in place (through UTF-16 in the file-API code page);
// left unchanged when a character cannot be converted back.
void lowercasePath(std::string& path);

// Collapses runs of backslashes to one, keeping a leading pair (UNC);
// left unchanged when a character cannot be converted back.
void collapseBackslashes(std::string& path);

// The path prefixed with exeDirectory() when relative, backslashes collapsed.
std::string appendExeRelative(std::string_view path);

// Absolute, normalised form of a configured path (dot segments resolved),
// lower case unless keepCase. Empty when the system cannot make it absolute
// (for example a path longer than the narrow file functions accept).
std::string resolvePath(std::string_view path, bool keepCase);

// appendExeRelative applied to every item of a ';'-separated list; empty items
// vanish; items joined by ';' with none after the last.
std::string resolvePathList(std::string_view list);

// Existence of a file, directory or wildcard pattern; drive roots in the forms
// X:\  X:\.  X:\.\.  exist without a look-up.
bool pathExists(const std::string& path);

// Directory-entry look-up; on success optionally yields the last-write time.
bool findPath(const std::string& path, FILETIME* lastWrite);

// Names (without directory) of the entries matching dir\*.ext (a dot is added
// unless ext starts with one), in the order the system reports them.
std::vector<std::string> listDirectory(const std::string& dir, const std::string& ext);

// Long form of an existing path, with the contract of GetLongPathNameA: the
// length without terminator on success; the size needed including the
// terminator when `size` is too small (nothing written); 0 on failure with
// the thread's last error set. Falls back to the shell's name parsing where
// the system function is missing or not implemented.
DWORD getLongPathName(const char* shortPath, char* out, DWORD size);

// The shell-namespace route that getLongPathName falls back to, with the same
// contract; limited to paths of MAX_PATH - 1 bytes (ERROR_BUFFER_OVERFLOW).
DWORD emulateLongPathName(const char* shortPath, char* out, DWORD size);

// Convenience over getLongPathName: true and the long form in `out`, or false.
bool getLongPathName(const std::string& shortPath, std::string& out);

// The code page of the narrow file functions: ANSI or OEM.
UINT fileApiCodePage();
