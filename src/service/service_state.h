// The service runtime's part of the process-wide state: the service name,
// the status record and the hand-over from the control handler to the
// service main routine, and the Application event log.
#pragma once

#include <cstdint>
#include <string>

#include "service/scm_status_table.h"

// The status record is written by ServiceMain, the control handler, the exit
// handler and the stop time-out's progress report, each reporting the whole
// record at once under the service runtime's one lock; the time-out's final
// report reads a lock-free snapshot instead and leaves the record alone. The
// name is set by start-up before any other thread exists.
struct ServiceState {
  std::string name;  // the service name the process runs or manages
  ServiceStatusRecord record;
  void* statusHandle = nullptr;  // SERVICE_STATUS_HANDLE; none outside a service run
  void* stopEvent = nullptr;     // auto-reset event signalled by stop and shutdown
  uint32_t stopTimeoutSeconds = 0;  // key 30006; 0: a stop waits for ever
};

// The Application event log of the service process (service/event_log_win).
// Enabled on the main thread before any other thread exists; the source is
// registered by the first entry (the threads that show messages take turns:
// start-up, then the service main thread; the exit handler comes last).
struct EventLogState {
  bool enabled = false;      // a process that goes to the service dispatcher
  bool sourceTried = false;  // RegisterEventSourceW was called
  void* source = nullptr;    // its handle; none when the call failed
};

ServiceState& serviceState();
EventLogState& eventLogState();
