#include "service/service_configure_win.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/code_page_win.h"
#include "common/handles_win.h"
#include "common/system_error_win.h"
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

// What the registration holds of what /configure looks at. A registration
// that cannot be read reads as an on-demand, own-process service of no
// account: delayed start is then not asked for, nor the interactive flag.
struct Registration {
  DWORD startType = SERVICE_DEMAND_START;
  DWORD serviceType = SERVICE_WIN32_OWN_PROCESS;
  std::wstring account;
  bool localSystem = false;
};

Registration registrationOf(SC_HANDLE service) {
  Registration r;
  DWORD needed = 0;
  QueryServiceConfigW(service, nullptr, 0, &needed);
  if (needed < sizeof(QUERY_SERVICE_CONFIGW) || needed > 64 * 1024) return r;
  std::vector<unsigned char> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!QueryServiceConfigW(service, config, needed, &needed)) return r;
  r.startType = config->dwStartType;
  r.serviceType = config->dwServiceType;
  if (config->lpServiceStartName != nullptr) r.account = config->lpServiceStartName;
  r.localSystem = isLocalSystemName(fromUtf16(std::u16string(r.account.begin(), r.account.end()), CP_ACP));
  return r;
}

// An installer registers the service without the interactive flag, which
// the system refuses for any account but LocalSystem: it is added here when
// the block asks for it and the registration's account is LocalSystem.
void addInteractiveFlag(SC_HANDLE service, const Registration& registration, const InstallPlan& plan) {
  bool wanted = (plan.serviceType & SERVICE_INTERACTIVE_PROCESS) != 0;
  if (!wanted || !registration.localSystem || (registration.serviceType & SERVICE_INTERACTIVE_PROCESS)) return;
  if (!ChangeServiceConfigW(service, registration.serviceType | SERVICE_INTERACTIVE_PROCESS, SERVICE_NO_CHANGE,
                            SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) {
    sayLine("Setting 'interactive' was refused by the system (error " + std::to_string(GetLastError()) +
            "); the service is installed without it.");
  }
}

// The display name and, for a user account, the account with its password.
// Without a password the account stays as registered, which it must already
// be (an installer package registered it with its password). False (the
// lines said) on failure.
bool changeNameAndAccount(SC_HANDLE service, const InstallPlan& plan, const Registration& registered) {
  Password password;
  PasswordInput input = askAccountPassword(plan, "configure", password);
  if (input == PasswordInput::refused) return false;
  std::wstring account = widenText(plan.accountName, CP_ACP);
  bool changeAccount = plan.needsPassword && input == PasswordInput::given;
  if (plan.needsPassword && !changeAccount && _wcsicmp(account.c_str(), registered.account.c_str()) != 0) {
    sayNoPassword(plan, "configure");
    return false;
  }
  std::wstring display(plan.displayName.begin(), plan.displayName.end());
  if (!changeAccount && display.empty()) return true;
  if (!ChangeServiceConfigW(service, changeAccount ? plan.serviceType : SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                            SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr,
                            changeAccount ? account.c_str() : nullptr, changeAccount ? password.c_str() : nullptr,
                            display.empty() ? nullptr : display.c_str())) {
    DWORD error = GetLastError();
    sayLine("Could not configure service.");
    sayLine(systemErrorLineFor(error));
    return false;
  }
  return true;
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
  Registration registered = registrationOf(service.get());
  InstallPlan plan = planServiceInstall(settings, name, registered.startType == SERVICE_AUTO_START);
  if (!changeNameAndAccount(service.get(), plan, registered)) return 1;
  addInteractiveFlag(service.get(), registrationOf(service.get()), plan);
  for (const std::string& line : applyInstallSettings(service.get(), plan)) sayLine(line);
  if (settings.eventLog.value_or(false)) (void)registerOwnEventSource(longExecutablePath());
  sayLine("Configured service '" + name + "'.");
  bool logonRight = ensureServiceLogonRight(plan);
  warnIfUnsafe(name);
  return logonRight ? 0 : 1;
}
