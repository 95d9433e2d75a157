#include "config/window_activation_win.h"

#include "common/system_library_win.h"
#include "config/config_state.h"

namespace {
BOOL CALLBACK activateWindow(HWND window, LPARAM) {
  if (ondemand::IsWindowVisible(window) && windowBelongsToProcess(window)) {
    ondemand::SetForegroundWindow(window);
    ondemand::SetForegroundWindow(ondemand::GetLastActivePopup(window));
  }
  return TRUE;  // always go on over all windows
}
}  // namespace

bool windowBelongsToProcess(HWND window) {
  DWORD pid = 0;
  ondemand::GetWindowThreadProcessId(window, &pid);
  return pid == messageState().targetProcessId;
}

void activateProcessWindows(DWORD processId) {
  messageState().targetProcessId = processId;
  ondemand::EnumWindows(activateWindow, 0);
}

void prepareMessageDisplay() {
  MessageState& state = messageState();
  if (!state.firstDisplayDone) {
    state.firstDisplayDone = true;
    return;
  }
  DWORD foregroundPid = 0;
  ondemand::GetWindowThreadProcessId(ondemand::GetForegroundWindow(), &foregroundPid);
  if (foregroundPid == GetCurrentProcessId()) return;
  activateProcessWindows(GetCurrentProcessId());
}
