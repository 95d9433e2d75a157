// The service runtime: the service main routine the dispatcher calls, its
// control handler, the console control handler and the exit handler.
#pragma once

#include <windows.h>

void WINAPI ServiceMain(DWORD argc, LPSTR* argv);
