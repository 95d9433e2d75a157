// Bringing the launcher's own windows forward before a message, so that a
// message box is not hidden behind another application's window.
#pragma once

#include <windows.h>

// First call: only remembers that a message was shown. Later calls: when the
// foreground window belongs to another process, activates this process's
// visible top-level windows.
void prepareMessageDisplay();

// Brings every visible top-level window of the process to the foreground,
// in the system's enumeration order; minimised windows stay minimised.
void activateProcessWindows(DWORD processId);

// True iff the window belongs to the process being activated.
bool windowBelongsToProcess(HWND window);
