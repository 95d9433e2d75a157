#include "service/watchdog_win.h"

#include <windows.h>

#include <string>

#include "common/handles_win.h"
#include "config/config_state.h"
#include "launch/launch_state.h"
#include "service/service_state.h"
#include "common/loopback_win.h"
#include "config/config_keys.h"
#include "config/config_store.h"
#include "config/log_win.h"
#include "config/paths_win.h"
#include "launch/health_calls.h"
#include "service/detached_threads_win.h"
#include "service/event_log_win.h"
#include "service/listener_owner_win.h"
#include "service/scm_status_table.h"
#include "service/scm_status_win.h"
#include "service/thread_dump_files_win.h"

namespace {

// How long the watchdog waits for each of its dumps before it goes on.
constexpr DWORD kTripDumpDeadlineMs = 20000;
// How long its log line and event entry may take (a log write can wait on
// the C runtime's stream lock, an event entry on the event log service).
constexpr DWORD kEndReportWaitMs = 5000;

HANDLE gDumpRequest = nullptr;  // auto-reset: a dump is asked for
HANDLE gDumpDone = nullptr;     // auto-reset: the worker finished one
LONG gDumpCode = 0;             // the configured control code, 0: none
LONG gDumpForced = 0;           // the watchdog's request: no rate limit
std::string gDumpDirectory;     // with its trailing backslash

HANDLE gProbeRequest = nullptr;  // auto-reset: run gProbe now
HANDLE gProbeDone = nullptr;     // auto-reset: gOutcome holds the answer
const ProbeSetting* gProbe = nullptr;
ProbeOutcome gOutcome;
WatchdogSettings gSettings;
HANDLE gStartupSignal = nullptr;
LONG gStartupProgress = 0;
LONG gReady = 0;
LONG gStandDown = 0;
LONG gEndingCode = 0;

// --- Thread dumps --------------------------------------------------------------

// One dump to a new private file in the service's own dump directory; the
// log line and the event entry name it, and the directory's record of the
// last dump names it for /threaddump.
void writeDump(JNIEnv* env) {
  const std::string& service = serviceState().name;
  SYSTEMTIME t;
  GetLocalTime(&t);
  std::string name = threadDumpFileName(service, t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                                        t.wMilliseconds);
  std::string path = gDumpDirectory + name;
  // The output directory is made by the Java side when it redirects the
  // output; a dump that comes first makes it (private, like the dump).
  ThreadDumpDirectory directory;
  std::string why;
  UniqueHandle file;
  if (directory.open(gDumpDirectory, why)) {
    file.reset(directory.createDump(name));
    if (!file) why = "cannot create " + path + " (error " + std::to_string(GetLastError()) + ")";
  }
  if (!file) {
    std::string text = "Thread dump of service " + service + " not written: " + why;
    logError("%s", text.c_str());
    reportErrorEvent(text);
    return;
  }
  bool ok = env != nullptr && streamThreadDump(env, [&file](const char* data, size_t size) {
    DWORD written = 0;
    return WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size;
  }, why);
  if (env == nullptr) why = "the dump thread could not attach to the VM";
  file.reset();
  std::string text = ok ? "Thread dump of service " + service + " written to " + path
                        : "Thread dump of service " + service + " incomplete in " + path + ": " + why;
  if (ok) {
    logInfo("%s", text.c_str());
    reportInformationEvent(text);
    directory.recordLastDump(service, name);
  } else {
    logError("%s", text.c_str());
    reportErrorEvent(text);
  }
  directory.removeOldDumps(service);
}

DWORD WINAPI dumpWorker(LPVOID) {
  bool hadOne = false;
  ULONGLONG last = 0;
  for (;;) {
    WaitForSingleObject(gDumpRequest, INFINITE);
    bool forced = InterlockedExchange(&gDumpForced, 0) != 0;
    ULONGLONG now = GetTickCount64();
    if (!forced && !threadDumpAllowed(hadOne, last, now)) {
      logInfo("thread dump request ignored: the last dump was %llu ms ago (at most one per %llu s)",
              static_cast<unsigned long long>(now - last),
              static_cast<unsigned long long>(kThreadDumpIntervalMs / 1000));
      continue;
    }
    hadOne = true;
    last = now;
    // Attached for the dump only: an attached thread idle in native code
    // would hold the VM's exit for up to 300 ms.
    JNIEnv* env = attachLauncherThread(launchState().vm, "kerno thread dumps");
    writeDump(env);
    if (env != nullptr) detachLauncherThread(launchState().vm);
    SetEvent(gDumpDone);
  }
}

// --- Probes ------------------------------------------------------------------

std::string checkLabel(const ProbeCheck& c) {
  std::string label(checkKindName(c.kind));
  if (c.kind == CheckKind::tcpSocket || c.kind == CheckKind::httpGet) label += " 127.0.0.1:" + std::to_string(c.port);
  if (c.kind == CheckKind::httpGet) label += c.text;
  if (c.kind == CheckKind::method) label += " " + c.text;
  return label;
}

bool runCheck(const ProbeCheck& c, const ProbeSetting& probe, JNIEnv*& env, std::string& why) {
  uint32_t timeoutMs = probe.timeoutSeconds * 1000u;
  std::string reply;
  switch (c.kind) {
    // An answer counts only from the service's own listener.
    case CheckKind::tcpSocket:
      return loopbackExchange(c.port, {}, 0, timeoutMs, reply, why) && listenerIsThisProcess(c.port, why);
    case CheckKind::httpGet:
      return loopbackExchange(c.port, httpProbeRequest(c.port, c.text), kMaxHttpStatusLine, timeoutMs, reply, why) &&
             listenerIsThisProcess(c.port, why) && httpReplyHealthy(reply, why);
    default:
      break;
  }
  if (env == nullptr) env = attachLauncherThread(launchState().vm, "kerno watchdog");
  if (env == nullptr) {
    why = "the watchdog could not attach to the VM";
    return false;
  }
  std::string check(checkKindName(c.kind));
  if (c.kind == CheckKind::method) check += "=" + c.text;
  if (c.kind == CheckKind::heartbeat) check += "=" + std::to_string(probe.periodSeconds);
  return runVmCheck(env, check, why);
}

DWORD WINAPI probeWorker(LPVOID) {
  for (;;) {
    WaitForSingleObject(gProbeRequest, INFINITE);
    // Attached by the first check that needs the VM, detached after the probe.
    JNIEnv* env = nullptr;
    const ProbeSetting& probe = *gProbe;
    ProbeOutcome outcome{true, {}};
    for (const ProbeCheck& c : probe.checks) {
      std::string why;
      if (!runCheck(c, probe, env, why)) {
        outcome = ProbeOutcome{false, checkLabel(c) + ": " + why};
        break;
      }
    }
    if (env != nullptr) detachLauncherThread(launchState().vm);
    gOutcome = std::move(outcome);
    SetEvent(gProbeDone);
  }
}

// Reports the service stopped with `code` and ends the process; never waits
// on the service runtime's lock or on Java.
[[noreturn]] void endService(uint32_t code) {
  InterlockedExchange(&gEndingCode, static_cast<LONG>(code));
  sendScmStatus(serviceState().statusHandle, watchdogStoppedRecord(code));
  TerminateProcess(GetCurrentProcess(), code);
  ExitProcess(code);  // not reached
}

// The timer never waits for a lock: its lines are written by a thread of
// their own, given at most kEndReportWaitMs.
void reportEnd(std::string text, bool event) { writeErrorWithin(std::move(text), event, kEndReportWaitMs); }

[[noreturn]] void trip(const WatchdogState& state) {
  const ProbeSetting& probe = *gSettings.livenessProbe;
  std::string text = "Watchdog: liveness probe failed (" + state.lastError + "), " +
                     std::to_string(probe.failureThreshold) + " times in a row: ending service " +
                     serviceState().name + " with exit code " + std::to_string(kExitLivenessFailed);
  reportEnd(std::move(text), true);
  for (uint32_t i = 0; i < gSettings.threadDumpsOnFailure && gDumpRequest != nullptr; ++i) {
    InterlockedExchange(&gDumpForced, 1);
    SetEvent(gDumpRequest);
    if (WaitForSingleObject(gDumpDone, kTripDumpDeadlineMs) != WAIT_OBJECT_0) {
      reportEnd("Watchdog: thread dump " + std::to_string(i + 1) + " did not finish within " +
                    std::to_string(kTripDumpDeadlineMs / 1000) + " s; going on",
                false);
      break;
    }
  }
  endService(kExitLivenessFailed);
}

[[noreturn]] void failStart(const WatchdogState& state) {
  const ProbeSetting& probe = *gSettings.startupProbe;
  std::string text = "Startup probe failed (" + state.lastError + "), " + std::to_string(probe.failureThreshold) +
                     " times: service " + serviceState().name + " did not become ready; the start failed with exit code " +
                     std::to_string(kExitNeverReady);
  reportEnd(std::move(text), true);
  endService(kExitNeverReady);
}

DWORD WINAPI watchdogTimer(LPVOID) {
  WatchdogState state = startWatchdog(gSettings, GetTickCount64());
  ProbeOutcome outcome;
  const ProbeOutcome* finished = nullptr;
  for (;;) {
    ULONGLONG now = GetTickCount64();
    WatchdogStep step = advanceWatchdog(state, gSettings, now, finished);
    finished = nullptr;
    bool standDown = InterlockedCompareExchange(&gStandDown, 0, 0) != 0;
    if (step.startupProgress) InterlockedIncrement(&gStartupProgress);
    if (step.ready) InterlockedExchange(&gReady, 1);
    if ((step.startupProgress || step.ready) && gStartupSignal) SetEvent(gStartupSignal);
    if (step.trip && !standDown) trip(state);
    if (step.neverReady && !standDown) failStart(state);
    if (state.phase == WatchdogPhase::off || state.phase == WatchdogPhase::ended || standDown) return 0;
    if (step.startProbe) {
      gProbe = state.phase == WatchdogPhase::startup ? &*gSettings.startupProbe : &*gSettings.livenessProbe;
      SetEvent(gProbeRequest);
    }
    ULONGLONG wake = step.wakeAtMs > now ? step.wakeAtMs - now : 0;
    DWORD wait = static_cast<DWORD>(wake < 0xFFFFFFF0ull ? wake : 0xFFFFFFF0ull);
    if (WaitForSingleObject(gProbeDone, wait) == WAIT_OBJECT_0) {
      outcome = gOutcome;
      finished = &outcome;
    }
  }
}

}  // namespace

std::string threadDumpDirectory() {
  std::string file;
  if (getConfigInt(ConfigKey::stdoutRedirect) != 0) file = getConfigString(ConfigKey::stdoutFile);
  std::string resolved = file.empty() ? std::string() : resolvePath(file, true);
  size_t slash = resolved.find_last_of('\\');
  std::string dir = slash == std::string::npos ? exeDirectory() : resolved.substr(0, slash + 1);
  if (dir.empty() || dir.back() != '\\') dir += '\\';
  return dir;
}

void startThreadDumps(uint32_t code) {
  if (code == 0 || gDumpRequest != nullptr) return;
  gDumpDirectory = threadDumpDirectory();
  gDumpRequest = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  gDumpDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (gDumpRequest == nullptr || gDumpDone == nullptr || !startDetachedThread(dumpWorker, nullptr, "thread dump")) {
    gDumpRequest = nullptr;
    return;
  }
  InterlockedExchange(&gDumpCode, static_cast<LONG>(code));
  logInfo("thread dumps on control code %u, written to %s", code, gDumpDirectory.c_str());
}

bool isThreadDumpControl(uint32_t control) {
  LONG code = InterlockedCompareExchange(&gDumpCode, 0, 0);
  return code != 0 && control == static_cast<uint32_t>(code);
}

void requestThreadDump() {
  if (InterlockedCompareExchange(&gDumpCode, 0, 0) != 0) SetEvent(gDumpRequest);
}

void startWatchdog(const WatchdogSettings& settings, void* signal) {
  if (!settings.startupProbe && !settings.livenessProbe) return;
  gSettings = settings;
  gStartupSignal = signal;
  gProbeRequest = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  gProbeDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (gProbeRequest == nullptr || gProbeDone == nullptr || !startDetachedThread(probeWorker, nullptr, "probe") ||
      !startDetachedThread(watchdogTimer, nullptr, "watchdog")) {
    logError("the watchdog does not run");
    // A start that waits for readiness would wait for ever: let it go on.
    InterlockedExchange(&gReady, 1);
    if (signal) SetEvent(signal);
  }
}

StartupNews takeStartupNews() {
  StartupNews news;
  news.progress = static_cast<uint32_t>(InterlockedExchange(&gStartupProgress, 0));
  news.ready = InterlockedExchange(&gReady, 0) != 0;
  return news;
}

void standDownWatchdog() { InterlockedExchange(&gStandDown, 1); }

uint32_t watchdogEndingCode() { return static_cast<uint32_t>(InterlockedCompareExchange(&gEndingCode, 0, 0)); }
