// The stop time-out under Wine: it ends the process when its time is up even
// while another thread holds what the time-out would otherwise wait for (the
// service runtime's status lock, the log's stream).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "config/access_rules_win.h"
#include "config/config_state.h"
#include "files/files_state.h"
#include "service/service_main_win.h"
#include "service/scm_status_table.h"
#include "service/stop_timeout_win.h"

namespace {

// Ends the child with this code when the time-out has not ended it first.
constexpr DWORD kStillRunning = 99;
constexpr DWORD kWatchdogMs = 8000;  // the time-outs are 1 and 2 s; holders hold 10 s and more

DWORD WINAPI watchdog(LPVOID) {
  Sleep(kWatchdogMs);
  TerminateProcess(GetCurrentProcess(), kStillRunning);
  return 0;
}

// Holds the deletion lists' mutex for good, as another launcher stuck in a
// sweep would: a stop's hand-over of the files waits for it (10 s a file)
// while it holds the status lock.
DWORD WINAPI holdListMutex(LPVOID ready) {
  std::string account;
  if (!processAccountSid(account)) return 1;
  PrivateSecurity security(false);
  CreateMutexA(security.attributes(), TRUE, ("kerno_deletion_lists_" + account).c_str());
  SetEvent(ready);
  Sleep(INFINITE);
  return 0;
}

DWORD WINAPI sendStop(LPVOID) {
  serviceControlHandler(svc::kControlStop);
  return 0;
}

DWORD WINAPI holdStream(LPVOID ready) {
  _lock_file(logState().stream);
  SetEvent(ready);
  Sleep(INFINITE);
  return 0;
}

void startAndWait(LPTHREAD_START_ROUTINE routine) {
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  CloseHandle(CreateThread(nullptr, 0, routine, ready, 0, nullptr));
  WaitForSingleObject(ready, INFINITE);
}

}  // namespace

TEST(StopTimeout, EndsTheProcessWhileAStopHoldsTheStatusLock) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        CloseHandle(CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr));
        extractionState().extractedFiles = {"c:\\nowhere\\krn_glue_stop.jar"};
        startAndWait(holdListMutex);
        armStopTimeout(2, serviceStopTimeoutHooks());  // a progress report falls inside
        // The stop's hand-over now waits for the mutex under the status lock.
        CloseHandle(CreateThread(nullptr, 0, sendStop, nullptr, 0, nullptr));
        Sleep(INFINITE);
      },
      ::testing::ExitedWithCode(svc::kExitStopTimedOut), "");
}

TEST(StopTimeout, EndsTheProcessWhileTheLogIsHeld) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        CloseHandle(CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr));
        logState().opened = true;
        logState().stream = std::tmpfile();
        if (logState().stream == nullptr) std::exit(2);
        startAndWait(holdStream);
        armStopTimeout(1, StopTimeoutHooks{});
        Sleep(INFINITE);
      },
      ::testing::ExitedWithCode(svc::kExitStopTimedOut), "");
}
