// The service status record and its changes, as a small pure table: what
// each event of the service runtime does to the record, and whether the
// record is then reported and the stop event signalled.
#pragma once

#include <cstdint>

// The service control manager's values, repeated here so that the rules need
// no system headers.
namespace svc {
inline constexpr uint32_t kWin32 = 0x30;  // own-process and share-process bits
inline constexpr uint32_t kStopped = 1;
inline constexpr uint32_t kStartPending = 2;
inline constexpr uint32_t kStopPending = 3;
inline constexpr uint32_t kRunning = 4;
inline constexpr uint32_t kAcceptStopAndShutdown = 5;
inline constexpr uint32_t kAcceptPreshutdown = 0x100;
inline constexpr uint32_t kControlStop = 1;
inline constexpr uint32_t kControlShutdown = 5;
inline constexpr uint32_t kControlPreshutdown = 0x0F;
inline constexpr uint32_t kWaitHintMs = 50000;
inline constexpr uint32_t kExitIncorrectFunction = 1;
// ERROR_TIMEOUT: the stop time-out ended the process, as the Win32 exit code
// reported and as the process exit code.
inline constexpr uint32_t kExitStopTimedOut = 1460;
// ERROR_SERVICE_SPECIFIC_ERROR: the service-specific exit code says why
// (the watchdog's codes, service/watchdog_rules.h).
inline constexpr uint32_t kExitServiceSpecific = 1066;
// The service-specific exit code of an application whose main threw and
// left no thread that is not a daemon: the service failed. (1101 and 1102
// are the watchdog's, service/watchdog_rules.h.)
inline constexpr uint32_t kExitMainThrew = 1103;
// How often a stop with a time-out reports progress (a rising checkpoint),
// well inside the wait hint.
inline constexpr uint32_t kStopProgressIntervalMs = 1000;
}  // namespace svc

// The controls the service accepts: stop and shutdown, and pre-shutdown when
// a pre-shutdown time-out is configured (handled like a stop).
inline constexpr uint32_t acceptedControls(bool preshutdown) {
  return svc::kAcceptStopAndShutdown | (preshutdown ? svc::kAcceptPreshutdown : 0);
}

struct ServiceStatusRecord {
  uint32_t serviceType = svc::kWin32;
  uint32_t currentState = svc::kRunning;
  uint32_t controlsAccepted = svc::kAcceptStopAndShutdown;
  uint32_t win32ExitCode = 0;
  uint32_t serviceSpecificExitCode = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = svc::kWaitHintMs;
};

enum class ServiceEvent {
  started,          // ServiceMain begins: reported running at once; the
                    // controls accepted stay what ServiceMain set before
  launchFailed,     // no usable Java runtime, or the VM launch failed
  launchSucceeded,  // the Java side's main returned: reported running again
  control,          // a control code from the service control manager
  processExit,      // the standard exit path (exit handler), with the
                    // status the VM's exit was given (0 when unknown): after
                    // a stop, as the stop says; else the application ended
                    // the process itself: 1066 with the status when not 0
  applicationFinished,  // its main returned, no application thread is
                        // left: stop pending, the service stops with 0
  applicationFailed,    // its main threw, no application thread is left:
                        // stop pending, the service stops with 1066/1103
  vmExitReturned,   // the Java exit method came back: stopped, then _exit
  fatalExit,        // the fatal-error path ends the process: stopped, code 1
  stopProgress,     // a stop with a time-out still runs: the checkpoint rises
  stopTimedOut,     // its time is up: stopped with kExitStopTimedOut, then the
                    // process ends (whatever the record said)
  startedPending,   // as started, but start pending (checkpoint 1) until the
                    // startup probe passes; the wait hint is the current one
  startupProgress,  // the startup probe still waits: the checkpoint rises
  ready,            // the startup probe passed: running
};

struct ServiceTransition {
  ServiceStatusRecord record;
  bool report = false;       // SetServiceStatus with the whole record
  bool signalStop = false;   // wake ServiceMain to ask the VM to exit
  bool cleanupFiles = false; // hand the extracted files to deferred deletion
  bool stoppedCleanly = false;  // now stopped with exit code 0: the event log says so
  // The application ended the process itself, not on a stop: the log and
  // the event log say so (with its status: record.serviceSpecificExitCode).
  bool applicationEnded = false;
};

// The record a watchdog stop reports, without the service runtime's lock:
// stopped, no controls, ERROR_SERVICE_SPECIFIC_ERROR with `serviceCode`.
ServiceStatusRecord watchdogStoppedRecord(uint32_t serviceCode);

// Applies one event with its code: the control code for ServiceEvent::
// control, the exit status for ServiceEvent::processExit.
ServiceTransition applyServiceEvent(const ServiceStatusRecord& current, ServiceEvent event,
                                    uint32_t code = 0);
