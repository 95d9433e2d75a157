// Names in the temporary area: the fallbacks when the user's temporary
// directory cannot be named in the ANSI code page, the write test, and the
// launcher's own files inside its private directory (the private directory's
// name is in access_rules.h). The system calls are in temp_files_win.cpp.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Prefix of the launcher's temporary files (krn_p<pid>.tmp, krn_v<n>.tmp).
inline constexpr const char* kTempFilePrefix = "krn";
// Made and removed again to find out whether a directory is writable; the
// random hex digits follow, so a name planted in advance cannot fail it.
inline constexpr const char* kWriteTestDirPrefix = "krn_w_";

// Whether the long form of the temporary directory cannot be used: a
// character the ANSI code page cannot show comes back as '?'.
bool needsTempFallback(std::string_view longTempPath);

// The directories tried, in order, when the temporary directory cannot be
// used: windows\temp, then the Windows directory. None carries a trailing
// backslash. (Directories at the root of the drive, which any user may
// create first, are not among them.)
std::vector<std::string> tempFallbackCandidates(std::string_view windowsDirectory);

// The directory to create for one try of a write test: `randomHex` makes the
// name one nobody can take in advance.
std::string writeTestPath(std::string_view directory, std::string_view randomHex);

// The process communication file of a process in the launcher's private
// directory `directory` (with or without its trailing backslash):
// krn_p<pid>.tmp.
std::string processCommFileNameIn(std::string_view directory, unsigned long processId);

// The file that takes the output of the n-th java -version probe of a
// process, in the launcher's private directory: krn_v<n>.tmp.
std::string probeOutputFileNameIn(std::string_view directory, unsigned n);
