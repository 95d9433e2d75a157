// The temporary area: which directory the launcher's private directories go
// to, and making them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// How often a private directory's name is drawn afresh when the one drawn is
// taken. A name of 128 random bits is taken only by chance, so a second try
// practically always succeeds; the bound keeps a broken system from looping.
inline constexpr unsigned kPrivateDirectoryAttempts = 4;

// The temporary directory (with its trailing backslash), at any length; empty
// when the system gives none. Where kernel32 has GetTempPath2W (looked up at
// run time), its answer, which gives SYSTEM a directory of its own, when that
// directory exists and its name has an exact form in the file functions' code
// page; else GetTempPathA's.
std::string getTempPath();

// GetTempPathA's answer alone (with its trailing backslash), empty when the
// system gives none: where earlier launchers made their directories.
std::string getLegacyTempPath();

// Whether a directory can take new entries: a test directory with a random
// name is made in it and removed again.
bool canWriteDirectory(const std::string& directory);

// The directory for temporary files: the temporary directory, or when its
// name cannot be shown in the ANSI code page the first writable of
// windows\temp and the Windows directory. When none is writable, says so in
// a message box and ends the process with exit code 1.
void chooseTempDirectory(std::string& out);

// Creates a new directory in the temporary area that only this account,
// SYSTEM and the administrators may use, named from random bytes alone
// (krn_<32 hex digits>), and gives its path (no trailing backslash). A name
// that is taken costs another draw (kPrivateDirectoryAttempts in all);
// false, with the reason in the log, when no directory could be made.
// `random` is the source of the names (the system's cryptographic one; the
// tests give one whose draws they know).
using RandomSource = bool (*)(uint8_t* data, std::size_t size);
[[nodiscard]] bool createPrivateDirectory(std::string& out, RandomSource random = nullptr);

// Every directory where the launcher may have made an extraction directory:
// the temporary path (GetTempPath2W's and GetTempPathA's, each as given and
// in its long form) and the fallbacks of chooseTempDirectory. Nothing is
// created or tested.
std::vector<std::string> temporaryAreas();
