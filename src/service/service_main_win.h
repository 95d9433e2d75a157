// The service runtime: the service main routine the dispatcher calls, its
// control handler, the console control handler and the exit handler.
#pragma once

#include <windows.h>

void WINAPI ServiceMain(DWORD argc, LPSTR* argv);

// Reports the service stopped with Win32 exit code 1 when the process is
// about to end through the fatal-error path while it runs as a service;
// does nothing otherwise.
void reportServiceFailedOnFatalExit();
