// The service runtime: the service main routine the dispatcher calls, its
// control handler, the console control handler and the exit handler.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "launch/health_calls.h"
#include "service/stop_timeout_win.h"

void WINAPI ServiceMain(DWORD argc, LPSTR* argv);

// The control handler ServiceMain registers: applies a control to the status
// under the status lock (a stop hands the files over first, which may wait
// for the deletion lists' mutex).
void WINAPI serviceControlHandler(DWORD control);

// The stop time-out's hooks of the service runtime: a progress report that
// is skipped while the status lock is busy, and a final report made without
// the lock. Neither waits for anything.
StopTimeoutHooks serviceStopTimeoutHooks();

// What the service process runs, shared with the console run (/console) so
// that both run the same application the same way.
//
// startApplication: removes the files earlier runs scheduled for deletion,
// sets the configured environment variables (key 30025), finds and loads a Java runtime, creates the VM and calls the Java-side
// launcher class with `launchArguments` (the service name first). False when
// the application could not be started (a message was shown; the log says
// why). On success the event log and the log get the start entry.
[[nodiscard]] bool startApplication(const std::vector<std::u16string>& launchArguments);

// The stop of a running application, for a service stop and for Ctrl+C in a
// console run alike: the configured stop method, then System.exit(0) on the
// thread that started it, which normally ends the process. Returns only when
// the Java side did not end it.
void stopApplication();

// The same after the application ended by itself (noteApplicationEnd): no
// stop method (nothing is left to stop), System.exit(exitStatus).
void endApplication(int exitStatus);

// The application ended by itself (startApplicationWatch): one log line and
// one event entry say how (an error when its main threw). Returns the status
// to end the VM with: 0 when it finished, svc::kExitMainThrew when it threw.
int noteApplicationEnd(const ApplicationEnd& end);

