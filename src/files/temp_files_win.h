// The temporary area: which directory the launcher's temporary files go to,
// and their names.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The user's temporary directory as GetTempPathA gives it (with its trailing
// backslash), at any length; empty when the system gives none.
std::string getTempPath();

// Whether a directory can take new entries: a test directory is made in it
// and removed again (also when it was left over from an earlier try).
bool canWriteDirectory(const std::string& directory);

// The directory for temporary files: the user's temporary directory, or
// when its name cannot be shown in the ANSI code page the first writable of
// windows\temp, c:\temp, c:\tmp, the Windows directory and a freshly made
// c:\tmp. When none is writable, says so in a message box and ends the
// process with exit code 1.
void chooseTempDirectory(std::string& out);

// Creates a new empty file krnXXXX.tmp in the temporary directory and gives
// its path. False (and `out` empty) when the system cannot make one.
[[nodiscard]] bool createTempFileName(std::string& out);

// Every directory where the launcher may have made an extraction directory:
// the temporary path (as given and in its long form) and the fallbacks of
// chooseTempDirectory. Nothing is created or tested.
std::vector<std::string> temporaryAreas();

// The name of the process communication file of process `processId`:
// <temporary path>krn_p<pid>.tmp. Nothing is created.
void processCommFileName(std::string& out, DWORD processId);
