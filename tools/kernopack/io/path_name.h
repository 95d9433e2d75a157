// The directory and the file name of a path, by one rule for the whole
// packer. '/' separates; with Windows rules '\' does too, and a path that
// begins with a drive and no separator after it ("C:svc.json") lies in the
// current directory of that drive: its directory is "C:", its file name
// "svc.json", and a name joined to "C:" stays on that drive ("C:a.jar").
#pragma once

#include <string>
#include <string_view>

// The rules of the system the packer runs on.
#ifdef _WIN32
inline constexpr bool kWindowsPaths = true;
#else
inline constexpr bool kWindowsPaths = false;
#endif

// Where the file name begins: after the last separator, or after the drive
// of a drive-relative path; 0 when the path is a bare name.
size_t fileNameStart(std::string_view path, bool windowsRules = kWindowsPaths);

// What follows the last separator (or the drive); the path itself when it
// has neither.
std::string_view pathFileName(std::string_view path, bool windowsRules = kWindowsPaths);

// The name in a description, the same whichever system reads it: what
// follows the last '/' or '\'. A drive stays in it ("C:a.jar"), so that a
// name that two systems would read two ways is refused for its ':'.
std::string_view portableFileName(std::string_view path);

// The path up to its file name, without the separators before it unless
// they are all of a root ("/", "\", "C:\"); "C:" for "C:svc.json"; empty
// for a bare name, which lies in the current directory.
std::string pathDirectory(std::string_view path, bool windowsRules = kWindowsPaths);

// `name` in `directory`: the name alone when the directory is empty (the
// current directory), no separator added after one that ends the directory
// or after a bare drive ("C:"), else '\' with Windows rules and '/' without.
std::string pathJoin(std::string_view directory, std::string_view name, bool windowsRules = kWindowsPaths);
