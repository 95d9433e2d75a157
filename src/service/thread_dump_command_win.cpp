#include "service/thread_dump_command_win.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/handles_win.h"
#include "config/access_rules_win.h"
#include "config/config_state.h"
#include "service/service_commands_win.h"
#include "service/service_state.h"
#include "service/thread_dump_files_win.h"
#include "service/watchdog_rules.h"
#include "service/watchdog_win.h"

namespace {

// How long the command waits for the service's record of a new dump.
constexpr DWORD kDumpWaitMs = 30000;
constexpr DWORD kDumpPollMs = 200;

ULONGLONG nowFileTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER t;
  t.LowPart = now.dwLowDateTime;
  t.HighPart = now.dwHighDateTime;
  return t.QuadPart;
}

// The SID of the account the service runs as; empty when it cannot be told.
std::string serviceAccount(SC_HANDLE service) {
  std::vector<unsigned char> buffer;
  const QUERY_SERVICE_CONFIGA* config = readServiceConfig(service, buffer);
  std::string sid;
  if (config == nullptr || !accountNameSid(config->lpServiceStartName ? config->lpServiceStartName : "", sid))
    sid.clear();
  return sid;
}

// Sends the dump control; false with the line printed when it fails.
bool askForDump(SC_HANDLE service, uint32_t code, const char* name) {
  SERVICE_STATUS status{};
  if (ControlService(service, code, &status)) return true;
  DWORD error = GetLastError();
  if (error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL) {
    std::printf("Service '%s' cannot take a thread dump request now: it is starting or stopping.\n", name);
  } else if (error == ERROR_SERVICE_NOT_ACTIVE) {
    std::printf("Service '%s' is not running: no thread dump.\n", name);
  } else {
    std::printf("Could not ask service '%s' for a thread dump (error %lu).\n", name,
                static_cast<unsigned long>(error));
  }
  return false;
}

}  // namespace

int cmdThreadDump() {
  const char* name = serviceState().name.c_str();
  std::vector<DamagedSetting> damaged;
  WatchdogSettings settings = readWatchdogSettings(configTables(), damaged);
  if (!settings.threadDumpControlCode) {
    std::printf("Thread dumps are off for service '%s': its configuration has no usable "
                "threadDumpControlCode.\n", name);
    return 1;
  }
  UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  UniqueServiceHandle service(
      manager ? OpenServiceA(manager.get(), name, SERVICE_USER_DEFINED_CONTROL | SERVICE_QUERY_CONFIG) : nullptr);
  if (!service) {
    std::printf("Could not open service '%s' (error %lu).\n", name, static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  // What the command reports is the service's own record of its last dump,
  // read only from a directory that nobody else can write.
  std::string dir = threadDumpDirectory();
  std::string account = serviceAccount(service.get());
  LastThreadDump before;
  std::string why;
  if (!readLastThreadDump(dir, serviceState().name, account, before, why)) {
    std::printf("No thread dump of service '%s': %s.\n", name, why.c_str());
    return 1;
  }
  // The service writes at most one dump per interval; saying so here beats
  // a request that is quietly ignored.
  ULONGLONG now = nowFileTime();
  ULONGLONG ageMs = now > before.writtenAt ? (now - before.writtenAt) / 10000 : 0;
  if (!before.name.empty() && ageMs < kThreadDumpIntervalMs) {
    std::printf("A thread dump of service '%s' was written %llu seconds ago (%s%s); the service writes at "
                "most one every %llu seconds, please try again in %llu seconds.\n",
                name, ageMs / 1000, dir.c_str(), before.name.c_str(), kThreadDumpIntervalMs / 1000,
                (kThreadDumpIntervalMs - ageMs + 999) / 1000);
    return 1;
  }
  if (!askForDump(service.get(), *settings.threadDumpControlCode, name)) return 1;
  for (DWORD waited = 0; waited < kDumpWaitMs; waited += kDumpPollMs) {
    LastThreadDump last;
    if (readLastThreadDump(dir, serviceState().name, account, last, why) && !last.name.empty() &&
        last.name != before.name) {
      std::printf("Thread dump of service '%s' written to %s%s\n", name, dir.c_str(), last.name.c_str());
      return 0;
    }
    Sleep(kDumpPollMs);
  }
  std::printf("Service '%s' was asked for a thread dump, but recorded no new one in %s within %lu seconds; "
              "its log and the event log say why.\n",
              name, dir.c_str(), static_cast<unsigned long>(kDumpWaitMs / 1000));
  return 1;
}
