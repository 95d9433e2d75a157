// Path-text rules: decisions about configured paths made from their text
// alone. The system calls that feed them live in config/paths_win.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Whether a configured path must be prefixed with the executable's directory.
// Absolute: "X:\..." and "\\..." (also after a leading double quote, as in
// "\"X:\..." and "\"\\..."). Everything else is relative, including a path
// rooted without a drive (\dir), a drive-relative one (c:dir), forward
// slashes (/dir) and any path of two characters or fewer.
bool isRelativePath(std::string_view path);

// Shrinks every run of backslashes to one, except that a text starting with
// two or more backslashes keeps exactly two (a UNC prefix survives). Works on
// UTF-16 so that a trail byte of a double-byte character is never mistaken
// for a backslash.
void collapseBackslashes(std::u16string& text);

// The drive roots that exist without a look-up: any first character followed
// by exactly ":\", ":\." or ":\.\.". A bare "c:" is not one of them.
bool isDriveRootShortcut(std::string_view path);

// exeDirectory followed by path when isRelativePath(path), else path alone.
// Backslashes are not collapsed here: the caller collapses the result in
// UTF-16 (collapseBackslashes above), which is what makes "\data" land
// inside the executable's directory.
std::string appendExeRelative(std::string_view exeDirectory, std::string_view path);

// The items of a ';'-separated list with strtok semantics: empty items vanish.
std::vector<std::string_view> splitPathList(std::string_view list);

// Items joined by ';', none after the last.
std::string joinPathList(const std::vector<std::string>& items);

// The search pattern of a directory listing: dir, "\*", a dot unless ext
// starts with one, then ext ("dir" and "jar" give "dir\*.jar").
std::string listDirectoryPattern(std::string_view dir, std::string_view ext);

// A full path cut where its file-name part begins, as reported by the system
// (an offset into fullPath; npos when there is none). The directory keeps its
// trailing backslash; without a file-name part the path stays whole.
std::string cutAtFileName(std::string_view fullPath, std::size_t fileNameOffset);

// Whether the text ends in ".exe" in any letter case and is longer than three
// characters (the test that the executable's path was converted faithfully).
bool hasExeSuffix(std::string_view path);
