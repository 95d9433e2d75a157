// The service main routine, called by the service dispatcher.
#pragma once

#include <windows.h>

void WINAPI ServiceMain(DWORD argc, LPSTR* argv);
