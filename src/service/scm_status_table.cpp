#include "service/scm_status_table.h"

namespace {

// The process ends through the standard exit path with `status`. A stop
// (ours, or one the application's end asked for) keeps the codes it set; an
// end the application made itself is reported with its status.
void applyProcessExit(ServiceTransition& t, uint32_t status) {
  ServiceStatusRecord& r = t.record;
  if (r.currentState == svc::kStopped) return;
  if (r.currentState != svc::kStopPending) {
    r.win32ExitCode = status == 0 ? 0 : svc::kExitServiceSpecific;
    r.serviceSpecificExitCode = status;
    t.applicationEnded = true;
  }
  r.currentState = svc::kStopped;
  t.report = true;
  t.stoppedCleanly = !t.applicationEnded && r.win32ExitCode == 0;
}

// The application ended without a stop request: the service stops as after
// one, with `win32` and `specific` as its exit codes.
void applyApplicationEnd(ServiceTransition& t, uint32_t win32, uint32_t specific) {
  ServiceStatusRecord& r = t.record;
  if (r.currentState == svc::kStopped || r.currentState == svc::kStopPending) return;
  r.currentState = svc::kStopPending;
  r.win32ExitCode = win32;
  r.serviceSpecificExitCode = specific;
  t.report = true;
  t.cleanupFiles = true;
}

}  // namespace

namespace {

// Every control re-reports the record; stop, shutdown and pre-shutdown
// (accepted only when configured) also start the stop, and only shutdown
// counts a checkpoint.
void applyControl(ServiceTransition& t, uint32_t code) {
  t.report = true;
  if (code == svc::kControlStop || code == svc::kControlShutdown || code == svc::kControlPreshutdown) {
    t.record.currentState = svc::kStopPending;
    if (code == svc::kControlShutdown) ++t.record.checkPoint;
    t.signalStop = true;
    t.cleanupFiles = true;
  }
}

// Reports stopped with `exitCode`, unless a stopped report went out already.
void stopUnlessStopped(ServiceTransition& t, uint32_t exitCode) {
  if (t.record.currentState == svc::kStopped) return;
  t.record.currentState = svc::kStopped;
  t.record.win32ExitCode = exitCode;
  t.report = true;
}

}  // namespace

ServiceTransition applyServiceEvent(const ServiceStatusRecord& current, ServiceEvent event,
                                    uint32_t code) {
  ServiceTransition t;
  t.record = current;
  ServiceStatusRecord& r = t.record;
  switch (event) {
    case ServiceEvent::started:
      r = ServiceStatusRecord{};
      r.controlsAccepted = current.controlsAccepted;
      t.report = true;
      break;
    case ServiceEvent::launchFailed:
      r.currentState = svc::kStopped;
      r.win32ExitCode = svc::kExitIncorrectFunction;
      t.report = true;
      break;
    case ServiceEvent::launchSucceeded:
      // A stop that arrived while main ran is pending already: reporting
      // running again would tell the service manager, and a /stop waiting
      // for the service, that the stop was dropped. The stop event is set.
      // A start that waits for its startup probe stays pending.
      if (r.currentState == svc::kStopPending || r.currentState == svc::kStartPending) break;
      r.currentState = svc::kRunning;
      t.report = true;
      break;
    case ServiceEvent::control:
      applyControl(t, code);
      break;
    case ServiceEvent::processExit:
      applyProcessExit(t, code);
      break;
    case ServiceEvent::applicationFinished:
      applyApplicationEnd(t, 0, 0);
      break;
    case ServiceEvent::applicationFailed:
      applyApplicationEnd(t, svc::kExitServiceSpecific, svc::kExitMainThrew);
      break;
    case ServiceEvent::fatalExit:
      // Not a stop the service asked for: the process ends because of a
      // failure, which must not look like success to the service manager.
      stopUnlessStopped(t, svc::kExitIncorrectFunction);
      break;
    case ServiceEvent::stopProgress:
      if (r.currentState == svc::kStopPending) {
        ++r.checkPoint;
        t.report = true;
      }
      break;
    case ServiceEvent::stopTimedOut:
      // The exit path may have reported the stop already while something
      // still holds the process; that report stands.
      stopUnlessStopped(t, svc::kExitStopTimedOut);
      break;
    case ServiceEvent::startedPending:
      r = ServiceStatusRecord{};
      r.controlsAccepted = current.controlsAccepted;
      r.waitHint = current.waitHint;
      r.currentState = svc::kStartPending;
      r.checkPoint = 1;
      t.report = true;
      break;
    case ServiceEvent::startupProgress:
      if (r.currentState == svc::kStartPending) {
        ++r.checkPoint;
        t.report = true;
      }
      break;
    case ServiceEvent::ready:
      if (r.currentState == svc::kStartPending) {
        r.currentState = svc::kRunning;
        r.checkPoint = 0;
        r.waitHint = svc::kWaitHintMs;
        t.report = true;
      }
      break;
    case ServiceEvent::vmExitReturned:
      t.stoppedCleanly = r.currentState != svc::kStopped && r.win32ExitCode == 0;
      r.currentState = svc::kStopped;
      t.report = true;
      break;
  }
  return t;
}

ServiceStatusRecord watchdogStoppedRecord(uint32_t serviceCode) {
  ServiceStatusRecord r;
  r.currentState = svc::kStopped;
  r.controlsAccepted = 0;
  r.win32ExitCode = svc::kExitServiceSpecific;
  r.serviceSpecificExitCode = serviceCode;
  r.waitHint = 0;
  return r;
}
