// Names in the temporary area: the fallbacks when the user's temporary
// directory cannot be named in the ANSI code page, and the process
// communication file (the extraction directory's name is in access_rules.h).
// The system calls are in temp_files_win.cpp.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Prefix of the launcher's temporary files (krnXXXX.tmp).
inline constexpr const char* kTempFilePrefix = "krn";
// Made and removed again to find out whether a directory is writable.
inline constexpr const char* kWriteTestDirName = "krn_w_testdir";

// Whether the long form of the temporary directory cannot be used: a
// character the ANSI code page cannot show comes back as '?'.
bool needsTempFallback(std::string_view longTempPath);

// The directories tried, in order, when the temporary directory cannot be
// used: windows\temp, c:\temp, c:\tmp, the Windows directory. None carries a
// trailing backslash. (c:\tmp is tried once more after creating it.)
std::vector<std::string> tempFallbackCandidates(std::string_view windowsDirectory);

// The directory to create for one try of a write test.
std::string writeTestPath(std::string_view directory);

// The process communication file of a process: the temporary path (which
// ends in a backslash) followed by krn_p<pid>.tmp.
std::string processCommFileNameIn(std::string_view tempPath, unsigned long processId);
