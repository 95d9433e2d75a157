#include "config/window_activation_win.h"

#include <gtest/gtest.h>

#include "config/config_state.h"

namespace {

// A process without visible windows (the usual service case): the first
// message changes nothing; a later one, with no window of this process in
// the foreground, enumerates this process's windows and finds none to raise.
TEST(WindowActivation, FirstMessageNeverActivatesLaterOnesLookForOwnWindows) {
  MessageState& state = messageState();
  state = MessageState{};
  state.targetProcessId = 0xFFFFFFFFu;

  prepareMessageDisplay();
  EXPECT_TRUE(state.firstDisplayDone);
  EXPECT_EQ(state.targetProcessId, 0xFFFFFFFFu) << "the first message must not enumerate";

  prepareMessageDisplay();
  EXPECT_EQ(state.targetProcessId, GetCurrentProcessId());
  state = MessageState{};
}

// Under Wine no window of this process is visible, so the enumeration above
// never asks whose a window is.
TEST(WindowActivation, AWindowBelongsToTheTargetProcessOnly) {
  HWND desktop = GetDesktopWindow();
  DWORD desktopPid = 0;
  GetWindowThreadProcessId(desktop, &desktopPid);
  messageState().targetProcessId = desktopPid;
  EXPECT_TRUE(windowBelongsToProcess(desktop));
  messageState().targetProcessId = desktopPid + 1;
  EXPECT_FALSE(windowBelongsToProcess(desktop));
  messageState() = MessageState{};
}

}  // namespace
