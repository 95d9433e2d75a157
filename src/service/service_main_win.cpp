#include "service/service_main_win.h"

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "common/code_page_win.h"
#include "config/config_state.h"
#include "config/log_win.h"
#include "config/messages_win.h"
#include "config/service_settings.h"
#include "files/deferred_deletion_win.h"
#include "files/extraction_win.h"
#include "jvm/jvm_state.h"
#include "jvm/variables_win.h"
#include "jvm/win_loader_win.h"
#include "launch/java_vm_launcher_win.h"
#include "launch/vm_options_win.h"
#include "service/application_watch_win.h"
#include "service/event_log.h"
#include "service/event_log_win.h"
#include "service/service_state.h"
#include "service/scm_status_table.h"
#include "service/scm_status_win.h"
#include "service/stop_timeout_win.h"
#include "service/watchdog_win.h"

namespace {

// Held while the record changes and is reported: a control, the exit path
// and the stop time-out's progress report may come at the same time. The
// holder may wait (the deletion lists' mutex, the event log); so the stop
// time-out never waits for it: its progress report is skipped while the lock
// is busy, and its final report goes without the lock (reportStopTimedOut).
SRWLOCK gStatusLock = SRWLOCK_INIT;

// What the time-out's final report needs of the record, readable without the
// lock: the state last handed to the service manager (stored before the
// call) and the controls accepted (fixed before any stop). Once the time-out
// has claimed the end, nothing else is reported, so its report is the last.
std::atomic<uint32_t> gReportedState{svc::kRunning};
std::atomic<uint32_t> gControlsAccepted{svc::kAcceptStopAndShutdown};
std::atomic<bool> gTimedOutClaimed{false};

void setStatus(const ServiceStatusRecord& record) {
  sendScmStatus(serviceState().statusHandle, record);
}

void reportStopProgress();
void reportStopTimedOut();

// Whether applyEvent may wait for the lock.
enum class LockWait { wait, skipWhenBusy };

// The one writer of the service status: applies an event to the record and
// does what the transition asks for, in the order the controls need it
// (files handed over, a clean stop logged, the whole record reported, then
// the stop signalled).
void applyEvent(ServiceEvent event, DWORD control = 0, LockWait wait = LockWait::wait) {
  ServiceState& service = serviceState();
  if (wait == LockWait::wait) {
    AcquireSRWLockExclusive(&gStatusLock);
  } else if (!TryAcquireSRWLockExclusive(&gStatusLock)) {
    return;
  }
  ServiceTransition t = applyServiceEvent(service.record, event, control);
  if (t.cleanupFiles) cleanupExtractedFiles();
  service.record = t.record;
  // Before the stopped report: once a service has reported itself stopped,
  // its process may be ended at any moment.
  if (t.stoppedCleanly) {
    const JvmState& jvm = jvmState();
    std::string text = serviceStoppedText(serviceState().name, jvm.javaExe, jvm.vmLibrary);
    logInfo("%s", text.c_str());
    reportInformationEvent(text);
  }
  if (t.applicationEnded) {
    std::string text = applicationExitText(service.name, static_cast<int>(t.record.serviceSpecificExitCode));
    if (t.record.win32ExitCode == 0) {
      logInfo("%s", text.c_str());
      reportInformationEvent(text);
    } else {
      logError("%s", text.c_str());
      reportErrorEvent(text);
    }
  }
  if (t.report && service.statusHandle && !gTimedOutClaimed.load() &&
      watchdogEndingCode() == 0) {
    gReportedState.store(t.record.currentState);
    setStatus(t.record);
  }
  ReleaseSRWLockExclusive(&gStatusLock);
  if (t.signalStop) {
    // Counted from the stop request, so that a main that never returns
    // cannot hold the stop either.
    armStopTimeout(service.stopTimeoutSeconds, serviceStopTimeoutHooks());
    if (service.stopEvent) SetEvent(service.stopEvent);
  }
}

// On the time-out's thread: a checkpoint when the lock is free, none when
// it is busy (the next interval tries again).
void reportStopProgress() { applyEvent(ServiceEvent::stopProgress, 0, LockWait::skipWhenBusy); }

// On the time-out's thread, just before it ends the process: reported
// without the lock and without waiting for anything, from the lock-free
// snapshot. A report the exit path made already (stopped) stands; one it
// is making at this moment may reach the service manager before or after
// this one, and either says stopped.
void reportStopTimedOut() {
  if (gTimedOutClaimed.exchange(true)) return;
  if (!serviceState().statusHandle) return;
  ServiceStatusRecord snapshot;
  snapshot.currentState = gReportedState.load();
  snapshot.controlsAccepted = gControlsAccepted.load();
  ServiceTransition t = applyServiceEvent(snapshot, ServiceEvent::stopTimedOut);
  if (t.report) setStatus(t.record);
}

// Registered after the VM exists, so it sees console events (a user logging
// off) before the VM's own handlers and keeps them from ending the service.
BOOL WINAPI consoleControlHandler(DWORD) {
  logInfo("ConsoleCtrlHandler event");
  return TRUE;
}

void reportServiceStopped() {
  // The watchdog reported the stop already and is ending the process.
  if (uint32_t code = watchdogEndingCode()) TerminateProcess(GetCurrentProcess(), code);
  // The status System.exit was given, by our stop or by the application.
  applyEvent(ServiceEvent::processExit, static_cast<uint32_t>(vmExitStatus().value_or(0)));
}

// Waits for a stop (nothing), reporting the watchdog's startup news
// meanwhile, or for the application's end: then reports the stop pending
// and gives the status to end the VM with.
std::optional<int> waitForStopOrEnd(HANDLE watchdogSignal, HANDLE endSignal) {
  // Either signal may be missing (the system refused an event).
  HANDLE waits[3] = {serviceState().stopEvent};
  DWORD count = 1;
  const DWORD newsWake = watchdogSignal ? WAIT_OBJECT_0 + count : WAIT_FAILED;
  if (watchdogSignal) waits[count++] = watchdogSignal;
  const DWORD endWake = endSignal ? WAIT_OBJECT_0 + count : WAIT_FAILED;
  if (endSignal) waits[count++] = endSignal;
  for (;;) {
    DWORD woke = WaitForMultipleObjects(count, waits, FALSE, INFINITE);
    if (watchdogSignal && woke == newsWake) {
      StartupNews news = takeStartupNews();
      for (uint32_t i = 0; i < news.progress; ++i) applyEvent(ServiceEvent::startupProgress);
      if (news.ready) {
        logInfo("the startup probe passed: running");
        applyEvent(ServiceEvent::ready);
      }
    } else if (endSignal && woke == endWake) {
      ApplicationEnd end = watchedApplicationEnd();
      int status = noteApplicationEnd(end);
      applyEvent(status == 0 ? ServiceEvent::applicationFinished : ServiceEvent::applicationFailed);
      return status;
    } else {
      return std::nullopt;
    }
  }
}

// The fatal-error path ends the process: stopped with Win32 exit code 1.
void reportServiceFailed() { applyEvent(ServiceEvent::fatalExit); }

}  // namespace

void WINAPI serviceControlHandler(DWORD control) {
  // The thread dump code only wakes the dump worker: no lock, no Java.
  if (isThreadDumpControl(control)) return requestThreadDump();
  applyEvent(ServiceEvent::control, control);
}

StopTimeoutHooks serviceStopTimeoutHooks() { return StopTimeoutHooks{reportStopProgress, reportStopTimedOut}; }

bool startApplication(const std::vector<std::u16string>& launchArguments) {
  sweepScheduledDeletions();
  // Before the Java search: its E entries, the probed java executable and
  // the VM see the configured variables.
  applyConfiguredEnvironment();
  if (!LoadDLL() || !launchProgram(launchArguments)) return false;
  const JvmState& jvm = jvmState();
  std::string text = serviceStartedText(serviceState().name, jvm.javaExe, jvm.vmLibrary);
  logInfo("%s", text.c_str());
  reportInformationEvent(text);
  return true;
}

void stopApplication() {
  // The VM normally ends the process inside this call, through the standard
  // exit path (and so, in a service, reportServiceStopped); with a stop
  // time-out, the time-out ends it when that path hangs. Without a status
  // handle (a console run) the hooks report nothing.
  requestStopWithTimeout(serviceState().stopTimeoutSeconds, serviceStopTimeoutHooks());
}

void endApplication(int exitStatus) {
  requestStopWithTimeout(serviceState().stopTimeoutSeconds, serviceStopTimeoutHooks(), exitStatus, false);
}

int noteApplicationEnd(const ApplicationEnd& end) {
  const std::string& name = serviceState().name;
  if (end.kind == ApplicationEnd::Kind::threw) {
    std::string text = applicationThrewText(name, end.text);
    logError("%s", text.c_str());
    reportErrorEvent(text);
    return static_cast<int>(svc::kExitMainThrew);
  }
  std::string text = applicationFinishedText(name);
  logInfo("%s", text.c_str());
  reportInformationEvent(text);
  return 0;
}

void WINAPI ServiceMain(DWORD argc, LPSTR* argv) {
  ServiceState& service = serviceState();
  std::vector<DamagedSetting> damaged;
  ServiceSettings settings = readServiceSettings(configTables(), damaged);
  for (const DamagedSetting& d : damaged) logError("%s", damagedSettingLine(d).c_str());
  service.stopTimeoutSeconds = settings.stopTimeoutSeconds.value_or(0);
  service.record = ServiceStatusRecord{};
  service.record.controlsAccepted = acceptedControls(settings.preshutdownTimeoutSeconds.has_value());
  gControlsAccepted.store(service.record.controlsAccepted);
  std::vector<DamagedSetting> damagedWatch;
  WatchdogSettings watch = readWatchdogSettings(configTables(), damagedWatch);
  for (const DamagedSetting& d : damagedWatch) logError("%s", damagedSettingLine(d).c_str());
  if (watch.startupProbe) service.record.waitHint = startupWaitHintMs(*watch.startupProbe);
  service.statusHandle =
      RegisterServiceCtrlHandlerA(serviceState().name.c_str(), serviceControlHandler);
  if (!service.statusHandle) return;
  // With a startup probe the start stays pending until the probe passes.
  applyEvent(watch.startupProbe ? ServiceEvent::startedPending : ServiceEvent::started);
  registerExitDuty(ExitDuty::reportServiceFailed, reportServiceFailed);
  std::atexit(reportServiceStopped);

  std::vector<std::u16string> arguments;
  for (DWORD i = 0; i < argc; ++i) arguments.push_back(toUtf16(argv[i] ? argv[i] : "", CP_ACP));

  service.stopEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);

  if (!startApplication(arguments)) {
    applyEvent(ServiceEvent::launchFailed);
    return;
  }
  applyEvent(ServiceEvent::launchSucceeded);

  logInfo("registering ConsoleCtrlHandler");
  SetConsoleCtrlHandler(consoleControlHandler, TRUE);

  startThreadDumps(watch.threadDumpControlCode.value_or(0));
  // Startup progress and readiness come from the watchdog's timer through
  // this event; reporting them here keeps the timer off the status lock.
  HANDLE watchdogSignal = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  startWatchdog(watch, watchdogSignal);
  HANDLE endSignal = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  startApplicationWatch(endSignal);
  std::optional<int> endStatus = waitForStopOrEnd(watchdogSignal, endSignal);
  standDownWatchdog();
  if (endStatus) {
    endApplication(*endStatus);
  } else {
    stopApplication();
  }
  applyEvent(ServiceEvent::vmExitReturned);
  std::_Exit(0);
}
