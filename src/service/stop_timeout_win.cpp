#include "service/stop_timeout_win.h"

#include <windows.h>

#include <string>

#include "config/config_state.h"
#include "config/log_win.h"
#include "config/service_settings.h"
#include "launch/java_vm_launcher_win.h"
#include "service/detached_threads_win.h"
#include "service/event_log_win.h"
#include "service/scm_status_table.h"

namespace {

struct Watch {
  ULONGLONG deadline = 0;
  StopTimeoutHooks hooks;
  uint32_t seconds = 0;
};

Watch gWatch;
LONG gArmed = 0;

DWORD WINAPI watchStop(LPVOID) {
  for (;;) {
    ULONGLONG now = GetTickCount64();
    if (now >= gWatch.deadline) break;
    ULONGLONG left = gWatch.deadline - now;
    Sleep(static_cast<DWORD>(left < svc::kStopProgressIntervalMs ? left : svc::kStopProgressIntervalMs));
    if (GetTickCount64() < gWatch.deadline && gWatch.hooks.progress) gWatch.hooks.progress();
  }
  // From here on nothing waits for a lock or for another thread's work: the
  // log line gets at most kTimedOutLogWaitMs, the hook reports without
  // waiting, and the process ends.
  // (A log write can wait: another thread holds the stream's lock while a
  // console is paused or a disk stalls.)
  writeErrorWithin("the stop did not end within the stop time-out of " + std::to_string(gWatch.seconds) +
                       " seconds: ending the process",
                   false, kTimedOutLogWaitMs);
  if (gWatch.hooks.timedOut) gWatch.hooks.timedOut();
  TerminateProcess(GetCurrentProcess(), svc::kExitStopTimedOut);
  return 0;
}

}  // namespace

void armStopTimeout(uint32_t timeoutSeconds, StopTimeoutHooks hooks) {
  if (timeoutSeconds == 0) return;
  if (InterlockedCompareExchange(&gArmed, 1, 0) != 0) return;
  gWatch.deadline = GetTickCount64() + ULONGLONG(timeoutSeconds) * 1000u;
  gWatch.hooks = hooks;
  gWatch.seconds = timeoutSeconds;
  if (!startDetachedThread(watchStop, nullptr, "stop time-out")) logError("the stop waits for ever");
}

void requestStopWithTimeout(uint32_t timeoutSeconds, StopTimeoutHooks hooks, int exitStatus,
                            bool withStopMethod) {
  armStopTimeout(timeoutSeconds, hooks);
  if (withStopMethod) {
    if (std::optional<std::string> problem = callConfiguredStopMethod()) reportErrorEvent(*problem);
  }
  requestVmExit(exitStatus);
}

uint32_t configuredStopTimeoutSeconds() {
  std::vector<DamagedSetting> damaged;
  ServiceSettings settings = readServiceSettings(configTables(), damaged);
  for (const DamagedSetting& d : damaged) {
    if (d.name == "stopTimeoutSeconds") logError("%s", damagedSettingLine(d).c_str());
  }
  return settings.stopTimeoutSeconds.value_or(0);
}
