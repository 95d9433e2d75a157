// The command words' operations on the launcher's own service.
#pragma once

#include <windows.h>

// Each returns the process exit code: 0 success, 1 failure.
int cmdInstall(DWORD startType);
int cmdUninstall(bool verbose);
int cmdStop(bool verbose);
int cmdStart();
