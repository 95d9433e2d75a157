#include "config/window_activation_win.h"

#include "common/launcher_state.h"

namespace {
BOOL CALLBACK activateWindow(HWND window, LPARAM) {
  if (IsWindowVisible(window) && windowBelongsToProcess(window)) {
    SetForegroundWindow(window);
    SetForegroundWindow(GetLastActivePopup(window));
  }
  return TRUE;  // always go on over all windows
}
}  // namespace

bool windowBelongsToProcess(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid == launcher().messages.targetProcessId;
}

void activateProcessWindows(DWORD processId) {
  launcher().messages.targetProcessId = processId;
  EnumWindows(activateWindow, 0);
}

void prepareMessageDisplay() {
  MessageState& state = launcher().messages;
  if (!state.firstDisplayDone) {
    state.firstDisplayDone = true;
    return;
  }
  DWORD foregroundPid = 0;
  GetWindowThreadProcessId(GetForegroundWindow(), &foregroundPid);
  if (foregroundPid == GetCurrentProcessId()) return;
  activateProcessWindows(GetCurrentProcessId());
}
