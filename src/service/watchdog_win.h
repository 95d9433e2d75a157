// The watchdog's threads (decisions in service/watchdog_rules.h): the thread
// dump worker, and the timer that schedules the probes with the probe worker
// that runs them. No lock is taken anywhere here: the control handler and
// the console handler only set an event; the timer hands work to the
// workers and takes their answers through events, and it waits on nothing
// without a deadline. When the timer ends the service it reports the status
// itself (SetServiceStatus with the watchdog's exit code) instead of going
// through the service runtime's lock. See docs/architecture.md.
#pragma once

#include <cstdint>
#include <string>

#include "service/watchdog_rules.h"

// The directory the dumps go to: the one of the standard output file (keys
// 102, 103) when the output is redirected, else the executable's. Computed
// the same way by the service and by /threaddump (both are in the working
// directory of key 146).
std::string threadDumpDirectory();

// Starts the dump worker once the VM runs (after the launch): it attaches
// itself to the VM and waits for requests. Without a configured control
// code (`code` 0) nothing starts.
void startThreadDumps(uint32_t code);

// Whether `control` is the configured thread dump code (after
// startThreadDumps).
bool isThreadDumpControl(uint32_t control);

// From a control handler or a console handler: signals the worker and
// returns at once (no lock, no Java). The worker writes at most one dump per
// kThreadDumpIntervalMs and logs a refused request.
void requestThreadDump();

// Starts the timer and the probe worker when a probe is configured (the VM
// runs). Startup progress and readiness are handed to ServiceMain through
// `signal` (an auto-reset event it waits on) and takeStartupNews.
void startWatchdog(const WatchdogSettings& settings, void* signal);

struct StartupNews {
  uint32_t progress = 0;  // startup progress reports since the last call
  bool ready = false;     // the startup probe passed
};
StartupNews takeStartupNews();

// The service stops: from now on no probe trips the watchdog.
void standDownWatchdog();

// Once the watchdog has reported the service stopped and is ending the
// process: its exit code (kExitLivenessFailed, kExitNeverReady), else 0.
// The system's dispatcher may return as soon as the stopped report is in,
// so the exit handler asks this and ends the process the same way instead
// of reporting a clean stop.
uint32_t watchdogEndingCode();
