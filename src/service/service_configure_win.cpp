#include "service/service_configure_win.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/handles_win.h"
#include "config/config_state.h"
#include "config/paths_win.h"
#include "config/service_settings.h"
#include "service/event_log_win.h"
#include "service/service_commands_win.h"
#include "service/service_state.h"

namespace {

void sayLine(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// The service's start type, from its registration; SERVICE_DEMAND_START
// when it cannot be read (delayed start is then not asked for).
DWORD startTypeOf(SC_HANDLE service) {
  DWORD needed = 0;
  QueryServiceConfigW(service, nullptr, 0, &needed);
  if (needed == 0 || needed > 64 * 1024) return SERVICE_DEMAND_START;
  std::vector<unsigned char> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!QueryServiceConfigW(service, config, needed, &needed)) return SERVICE_DEMAND_START;
  return config->dwStartType;
}

// The executable's path in long form: an installer may start it by its short
// name, and the event source names the file as /install would.
std::string longExecutablePath() {
  const std::string& path = getExecutablePath();
  char buffer[MAX_PATH];
  DWORD n = GetLongPathNameA(path.c_str(), buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(buffer, n) : path;
}

// The install warnings, for whoever runs /configure without a console (an
// installer keeps standard error in its log) and for the administrator
// afterwards (the event log, unless the source is another program's).
void warnIfUnsafe(const std::string& name) {
  std::vector<std::string> warnings = unsafeInstallWarnings();
  for (std::string& warning : warnings) {
    std::fputs(warning.c_str(), stderr);
    if (!warning.empty() && warning.back() == '\n') warning.pop_back();
  }
  std::fflush(stderr);
  std::u16string registered;
  if (eventSourceOwner(name, registered) != EventSourceOwner::other) reportWarningEvents(warnings);
}

}  // namespace

int cmdConfigure() {
  const std::string& name = serviceState().name;
  UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    sayLine("Could not open SCManager.");
    return 1;
  }
  // SERVICE_START: the system asks for it to set restart actions.
  UniqueServiceHandle service(
      OpenServiceA(manager.get(), name.c_str(), SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG | SERVICE_START));
  if (!service) {
    sayLine(GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST
                ? "Could not configure service: service '" + name + "' is not installed."
                : std::string("Could not open service."));
    return 1;
  }
  // Another program's service of the same name is left as it is.
  std::string image;
  if (!serviceStartsThisExecutable(service.get(), image)) {
    sayLine("Could not configure service.");
    sayLine(otherProgramsServiceLine(image));
    return 1;
  }
  std::vector<DamagedSetting> damaged;
  ServiceSettings settings = readServiceSettings(configTables(), damaged);
  for (const DamagedSetting& d : damaged) sayLine(damagedSettingLine(d) + ".");
  InstallPlan plan = planServiceInstall(settings, name, startTypeOf(service.get()) == SERVICE_AUTO_START);
  for (const std::string& line : applyInstallSettings(service.get(), plan)) sayLine(line);
  if (settings.eventLog.value_or(false)) (void)registerOwnEventSource(longExecutablePath());
  sayLine("Configured service '" + name + "'.");
  warnIfUnsafe(name);
  return 0;
}
