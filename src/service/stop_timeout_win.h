// A stop that always ends: the Java exit request with a time-out. Used by
// the service runtime and by a console run, which share the configured stop
// time-out (key 30006 `stopTimeoutSeconds`).
#pragma once

#include <cstdint>

// What the caller's status makes of a running stop. Both may be null. Both
// run on the time-out's thread and must not wait for anything another thread
// may hold (a lock, a mutex, the event log): what hangs the stop would hang
// them too, and the time-out with them.
struct StopTimeoutHooks {
  // Every svc::kStopProgressIntervalMs while the stop runs (the service
  // runtime reports stop pending with a rising checkpoint, or skips one
  // while its status lock is busy).
  void (*progress)() = nullptr;
  // Once, when the time is up, just before the process ends (the service
  // runtime reports it stopped with svc::kExitStopTimedOut, without its
  // status lock).
  void (*timedOut)() = nullptr;
};

// How long the time-out waits for its log line to be written before it ends
// the process all the same.
inline constexpr uint32_t kTimedOutLogWaitMs = 1000;

// Starts counting the stop time-out on a thread of its own: when
// `timeoutSeconds` have passed and the process still exists, logs one error
// line (given at most kTimedOutLogWaitMs), calls hooks.timedOut and ends the
// process at once with exit code
// svc::kExitStopTimedOut (no exit handlers, no DLL notifications: whatever
// hangs cannot hold it). 0 seconds: no time-out (wait for ever). Only the
// first call of a process counts; later ones do nothing. Any thread.
void armStopTimeout(uint32_t timeoutSeconds, StopTimeoutHooks hooks);

// On the thread that created the VM: arms the time-out (if no earlier call
// did), calls the configured stop method (key 30029, waited for at most its
// own time-out; what went wrong goes to the log and the event log) unless
// `withStopMethod` is false (the application ended by itself: nothing is
// left to stop) and asks the VM to end the process through
// System.exit(exitStatus). Returns
// only when System.exit came back and the VM was destroyed (or no VM
// exists); the caller then ends the process itself.
void requestStopWithTimeout(uint32_t timeoutSeconds, StopTimeoutHooks hooks, int exitStatus = 0,
                            bool withStopMethod = true);

// Key 30006 as the launcher uses it: 0 when absent; a damaged value is
// logged (one line) and read as absent.
uint32_t configuredStopTimeoutSeconds();
