#include "service/thread_dump_command_win.h"

#include <windows.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "common/handles_win.h"
#include "config/config_state.h"
#include "service/service_state.h"
#include "service/watchdog_rules.h"
#include "service/watchdog_win.h"

namespace {

// How long the command waits for the new dump file to appear.
constexpr DWORD kDumpWaitMs = 30000;
constexpr DWORD kDumpPollMs = 200;

struct DumpFile {
  std::string name;
  ULONGLONG created = 0;  // FILETIME units
};

// This service's dump files in the dump directory.
std::vector<DumpFile> listDumps(const std::string& dir) {
  std::vector<DumpFile> files;
  const std::string& service = serviceState().name;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((dir + threadDumpPrefix(service) + "*.txt").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return files;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && isThreadDumpFileName(service, found.cFileName)) {
      ULARGE_INTEGER t;
      t.LowPart = found.ftCreationTime.dwLowDateTime;
      t.HighPart = found.ftCreationTime.dwHighDateTime;
      files.push_back(DumpFile{found.cFileName, t.QuadPart});
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return files;
}

ULONGLONG nowFileTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER t;
  t.LowPart = now.dwLowDateTime;
  t.HighPart = now.dwHighDateTime;
  return t.QuadPart;
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
  std::string dir = threadDumpDirectory();
  std::vector<DumpFile> before = listDumps(dir);
  // The service writes at most one dump per interval; saying so here beats
  // a request that is quietly ignored.
  ULONGLONG now = nowFileTime();
  for (const DumpFile& f : before) {
    ULONGLONG ageMs = now > f.created ? (now - f.created) / 10000 : 0;
    if (ageMs < kThreadDumpIntervalMs) {
      std::printf("A thread dump of service '%s' was written %llu seconds ago (%s%s); the service writes at "
                  "most one every %llu seconds, please try again in %llu seconds.\n",
                  name, ageMs / 1000, dir.c_str(), f.name.c_str(), kThreadDumpIntervalMs / 1000,
                  (kThreadDumpIntervalMs - ageMs + 999) / 1000);
      return 1;
    }
  }
  UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  UniqueServiceHandle service(manager ? OpenServiceA(manager.get(), name, SERVICE_USER_DEFINED_CONTROL) : nullptr);
  if (!service) {
    std::printf("Could not open service '%s' (error %lu).\n", name, static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  SERVICE_STATUS status{};
  if (!ControlService(service.get(), *settings.threadDumpControlCode, &status)) {
    DWORD error = GetLastError();
    if (error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL) {
      std::printf("Service '%s' cannot take a thread dump request now: it is starting or stopping.\n", name);
    } else if (error == ERROR_SERVICE_NOT_ACTIVE) {
      std::printf("Service '%s' is not running: no thread dump.\n", name);
    } else {
      std::printf("Could not ask service '%s' for a thread dump (error %lu).\n", name,
                  static_cast<unsigned long>(error));
    }
    return 1;
  }
  std::set<std::string> old;
  for (const DumpFile& f : before) old.insert(f.name);
  for (DWORD waited = 0; waited < kDumpWaitMs; waited += kDumpPollMs) {
    for (const DumpFile& f : listDumps(dir)) {
      if (old.count(f.name)) continue;
      std::printf("Thread dump of service '%s' written to %s%s\n", name, dir.c_str(), f.name.c_str());
      return 0;
    }
    Sleep(kDumpPollMs);
  }
  std::printf("Service '%s' was asked for a thread dump, but no new file appeared in %s within %lu seconds; "
              "its log and the event log say why.\n",
              name, dir.c_str(), static_cast<unsigned long>(kDumpWaitMs / 1000));
  return 1;
}
