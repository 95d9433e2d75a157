#include "service/console_run_win.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/code_page_win.h"
#include "config/config_state.h"
#include "config/log_win.h"
#include "launch/vm_options_win.h"
#include "service/application_watch_win.h"
#include "service/console_events.h"
#include "service/service_main_win.h"
#include "service/service_state.h"
#include "service/stop_timeout_win.h"
#include "service/watchdog_win.h"

namespace {

LONG gThreadDumps = 0;  // a thread dump control code is configured

BOOL WINAPI consoleStopHandler(DWORD eventType) {
  ConsoleEventAction action = consoleEventAction(eventType, InterlockedCompareExchange(&gThreadDumps, 0, 0) != 0);
  if (action.threadDump) {
    requestThreadDump();
    return TRUE;
  }
  if (!action.stop) return FALSE;
  logInfo("Console event %lu: stopping the application", static_cast<unsigned long>(eventType));
  SetEvent(serviceState().stopEvent);
  if (action.waitForExit) Sleep(INFINITE);
  return TRUE;
}

}  // namespace

int runConsole() {
  // Manual reset: a second Ctrl+C while the application stops changes nothing.
  serviceState().stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!serviceState().stopEvent) {
    logError("CreateEvent failed (%lu)", GetLastError());
    return 1;
  }
  // Ctrl+C stops a console run even when the program that started it chose
  // to ignore Ctrl+C (a choice its children inherit). Registered before the
  // launch, so that a Ctrl+C during the Java search stops right after it.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(consoleStopHandler, TRUE);

  // The same stop time-out as the service's.
  serviceState().stopTimeoutSeconds = configuredStopTimeoutSeconds();
  std::vector<DamagedSetting> damaged;
  WatchdogSettings watch = readWatchdogSettings(configTables(), damaged);

  // The launch arguments of a service start without start parameters.
  std::vector<std::u16string> arguments{toUtf16(serviceState().name, CP_ACP)};
  if (!startApplication(arguments)) return 1;

  // Again, now in front of any handler the VM registered while it was created.
  SetConsoleCtrlHandler(consoleStopHandler, FALSE);
  SetConsoleCtrlHandler(consoleStopHandler, TRUE);
  if (watch.threadDumpControlCode) {
    startThreadDumps(*watch.threadDumpControlCode);
    InterlockedExchange(&gThreadDumps, 1);
    logInfo("Running in the console: Ctrl+C stops it, Ctrl+Break writes a thread dump");
  } else {
    logInfo("Running in the console: Ctrl+C, Ctrl+Break or closing the console stops it");
  }

  // A stop, or the application's end by itself (as a service ends then).
  HANDLE endSignal = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  startApplicationWatch(endSignal);
  HANDLE waits[2] = {serviceState().stopEvent, endSignal};
  int exitStatus = 0;
  if (WaitForMultipleObjects(endSignal ? 2 : 1, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
    exitStatus = noteApplicationEnd(watchedApplicationEnd());
    endApplication(exitStatus);
  } else {
    stopApplication();
  }
  // The Java side did not end the process (the VM is destroyed by now): end
  // as the service does, without the exit handlers.
  std::fflush(nullptr);
  std::_Exit(exitStatus);
}
