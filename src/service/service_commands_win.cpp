#include "service/service_commands_win.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/code_page_win.h"
#include "common/handles_win.h"
#include "common/system_error_win.h"
#include "config/access_rules.h"
#include "config/access_rules_win.h"
#include "config/config_state.h"
#include "config/config_store.h"
#include "config/log_win.h"
#include "config/paths_win.h"
#include "config/service_settings.h"
#include "jvm/search_sequence.h"
#include "jvm/win_loader_win.h"
#include "launch/vm_options.h"
#include "service/dependency_list.h"
#include "service/event_log_win.h"
#include "service/status_command.h"
#include "service/service_account_win.h"
#include "service/service_state.h"

namespace {

// Pause between two status queries while the service stops or starts.
constexpr DWORD kStopPollMilliseconds = 500;
// A start is given at least this long, whatever wait hint the service
// control manager shows before the service has reported one of its own.
constexpr DWORD kMinimumStartWaitMilliseconds = 2000;
// A stopped service's registration stays marked for deletion until its
// process has ended and every handle to it is closed: a new one of the same
// name is tried again for this long before the install gives up.
constexpr DWORD kMarkedForDeletionWaitMilliseconds = 5000;
constexpr DWORD kMarkedForDeletionPollMilliseconds = 100;

// Every result line goes out at once: the process may end right after it,
// and a caller reading the pipe sees the lines in order.
__attribute__((format(printf, 1, 2))) void say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

const char* serviceName() { return serviceState().name.c_str(); }

// The executable and the files and directories the configuration names
// beside it, which the launcher trusts as much as the executable itself: the
// VM options files, the installation directory with its location files, and the
// runtime homes given relative to the executable (with their bin).
std::vector<std::string> namedPlaces() {
  std::vector<std::string> named;
  std::string longPath;
  if (!getLongPathName(getExecutablePath(), longPath)) longPath = getExecutablePath();
  named = {longPath};  // the executable itself
  for (std::string& name : vmOptionsFileNames(longPath)) named.push_back(std::move(name));
  std::string installation = resolvePath(getConfigString(ConfigKey::installationDirectory), false);
  if (!installation.empty()) {
    named.push_back(installation);
    named.push_back(installation + "\\.brindle");
    named.push_back(installation + kPreferredLocationFile);
    named.push_back(installation + kInstallerLocationFile);
  }
  for (const SearchEntry& entry : splitSearchSequence(getConfigString(ConfigKey::jreSearchSequence))) {
    bool directory = entry.type == 'A' || entry.type == 'B' || entry.type == 'R';
    if (!directory || isAbsoluteEntryArgument(entry.argument)) continue;
    std::string home = resolvePath(entry.argument, false);
    if (home.empty()) continue;
    named.push_back(home);
    named.push_back(home + "\\bin");
  }
  return named;
}

// A fixed failure line, then the system's error code and text on a line of
// its own. `error` is GetLastError() of the call that failed, taken at once.
void sayFailure(const char* line, DWORD error) {
  say("%s\n%s\n", line, systemErrorLineFor(error).c_str());
}

// A path from the registry as a printed line shows it: control characters
// as '?', so that it cannot steer the console.
std::string printable(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return text;
}

// The event source of the service name belongs to another program: said in
// one line after the command's own, the key is left as it is.
void sayEventSourceLeftAlone(const std::u16string& registered) {
  say("The event source '%s' was left as it is: its message file is %s, not this executable.\n",
      serviceName(), registered.empty() ? "unreadable" : printable(fromUtf16(registered, CP_ACP)).c_str());
}

}  // namespace

bool registerOwnEventSource(const std::string& messageFile) {
  std::u16string registered;
  if (eventSourceOwner(serviceState().name, registered) == EventSourceOwner::other) {
    say("Could not register the event source of service '%s' (error %lu).\n", serviceName(),
        static_cast<unsigned long>(ERROR_ALREADY_EXISTS));
    sayEventSourceLeftAlone(registered);
    return false;
  }
  if (unsigned long error = registerEventSource(serviceState().name, messageFile); error != 0) {
    say("Could not register the event source of service '%s' (error %lu).\n", serviceName(), error);
    return false;
  }
  return true;
}

const QUERY_SERVICE_CONFIGA* readServiceConfig(SC_HANDLE service, std::vector<unsigned char>& buffer) {
  DWORD needed = 0;
  (void)QueryServiceConfigA(service, nullptr, 0, &needed);
  // The service control manager keeps a configuration below 8 KiB.
  constexpr DWORD kMaxConfigBytes = 65536;
  if (needed < sizeof(QUERY_SERVICE_CONFIGA) || needed > kMaxConfigBytes) return nullptr;
  buffer.assign(needed, 0);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  return QueryServiceConfigA(service, config, needed, &needed) ? config : nullptr;
}

bool serviceStartsThisExecutable(SC_HANDLE service, std::string& image) {
  image.clear();
  std::vector<unsigned char> buffer;
  const QUERY_SERVICE_CONFIGA* config = readServiceConfig(service, buffer);
  if (config != nullptr && config->lpBinaryPathName != nullptr) image = config->lpBinaryPathName;
  bool ours = !image.empty() && namesThisExecutable(toUtf16(imageFileOfCommandLine(image), CP_ACP));
  image = printable(image);
  return ours;
}

std::string otherProgramsServiceLine(const std::string& image) {
  return "Service '" + std::string(serviceName()) + "' exists and starts " +
         (image.empty() ? std::string("a program whose path cannot be read") : image) +
         ", not this executable; it was left as it is.";
}

// Everything beside the executable is trusted (options files, relative
// runtimes and class-path entries, the location files), so a place there
// that others may write to, or a directory above it in which they may
// replace what lies there, gives them the service's rights: one warning for
// each. Named places that do not exist are passed over.
std::vector<std::string> unsafeInstallWarnings() {
  std::string directory = appendExeRelative("");
  if (directory.size() > 3 && directory.back() == '\\') directory.pop_back();
  std::string installer;
  (void)processAccountSid(installer);
  std::vector<std::string> warnings;
  for (const CheckedPlace& place : installCheckedPlaces(directory, namedPlaces())) {
    DWORD attributes = GetFileAttributesA(place.path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES && place.path != directory && !place.parent) continue;
    DirectoryAccess access;
    if (!readAccess(place.path, access)) {
      logError("cannot read the access list of %s", place.path.c_str());
      continue;
    }
    PlaceKind kind = place.parent ? PlaceKind::parentDirectory
                     : (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
                         ? PlaceKind::file
                         : PlaceKind::directory;
    std::vector<std::string> writers = untrustedWriters(access, installer, kind);
    if (!writers.empty()) warnings.push_back(unsafeDirectoryWarning(place.path, writers, kind));
  }
  return warnings;
}

namespace {

// An existing service of the name that starts another program is not this
// executable's to replace: /install must neither stop nor delete it. False
// (the lines printed) when it exists and its image path does not name this
// executable, or cannot be read; true when the name is free or ours.
bool existingServiceIsOurs() {
  UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return true;  // the install's own connection reports it
  UniqueServiceHandle service(OpenServiceA(manager.get(), serviceName(), SERVICE_QUERY_CONFIG));
  std::string image;
  if (!service) {
    if (GetLastError() != ERROR_ACCESS_DENIED) return true;  // none of that name
  } else if (serviceStartsThisExecutable(service.get(), image)) {
    return true;
  }
  say("Could not create service.\n");
  say("%s\n", otherProgramsServiceLine(image).c_str());
  return false;
}

UniqueServiceHandle openManager(DWORD access) {
  return UniqueServiceHandle(OpenSCManagerA(nullptr, nullptr, access));
}

UniqueServiceHandle openService(const UniqueServiceHandle& manager, DWORD access) {
  return UniqueServiceHandle(OpenServiceA(manager.get(), serviceName(), access));
}

// ANSI text to UTF-16 the way the system's A functions convert it.
std::wstring widen(std::string_view text) { return widenText(text, CP_ACP); }

// The dependency list in UTF-16, converted name by name so that no NUL can
// be swallowed by a broken double-byte character before it.
std::wstring widenList(const std::string& list) {
  std::wstring out;
  for (size_t start = 0; start < list.size() && list[start] != '\0';) {
    size_t end = list.find('\0', start);
    out += widen(std::string_view(list).substr(start, end - start));
    out.push_back(L'\0');
    start = end + 1;
  }
  out.push_back(L'\0');
  return out;
}

using ChangeServiceConfig2WFunction = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPVOID);

// Looked up at run time: a system without it installs without description.
ChangeServiceConfig2WFunction changeServiceConfig2W() {
  HMODULE advapi = GetModuleHandleA("advapi32.dll");
  if (advapi == nullptr) return nullptr;
  FARPROC proc = GetProcAddress(advapi, "ChangeServiceConfig2W");
  // Through void(*)() so that the compiler accepts the change of signature.
  return reinterpret_cast<ChangeServiceConfig2WFunction>(reinterpret_cast<void (*)()>(proc));
}

// Key 20017, when it is not empty; the result of the call is not examined.
void setDescription(SC_HANDLE service) {
  std::u16string text = getConfigWString(WideKey::serviceDescription);
  if (text.empty()) return;
  ChangeServiceConfig2WFunction change = changeServiceConfig2W();
  if (change == nullptr) return;
  std::wstring description(text.begin(), text.end());
  SERVICE_DESCRIPTIONW record{};
  record.lpDescription = description.data();
  change(service, SERVICE_CONFIG_DESCRIPTION, &record);
}

// One ChangeServiceConfig2W call; false with the system's error code.
bool changeConfig(SC_HANDLE service, DWORD level, void* info, DWORD& error) {
  ChangeServiceConfig2WFunction change = changeServiceConfig2W();
  if (change == nullptr) {
    error = ERROR_CALL_NOT_IMPLEMENTED;
    return false;
  }
  if (change(service, level, info)) return true;
  error = GetLastError();
  return false;
}

}  // namespace

std::vector<std::string> applyInstallSettings(SC_HANDLE service, const InstallPlan& plan) {
  std::vector<std::string> refused;
  auto refuse = [&refused](const char* setting, DWORD error) {
    refused.push_back("Setting '" + std::string(setting) + "' was refused by the system (error " +
                      std::to_string(error) + "); the service is installed without it.");
  };
  DWORD error = 0;
  if (plan.failureActions) {
    std::vector<SC_ACTION> actions;
    for (const FailureAction& a : plan.failureActions->actions) {
      SC_ACTION action{};
      action.Type = static_cast<SC_ACTION_TYPE>(a.type);
      action.Delay = a.delayMilliseconds;
      actions.push_back(action);
    }
    SERVICE_FAILURE_ACTIONSW info{};
    info.dwResetPeriod = plan.failureActions->resetPeriodSeconds;
    info.cActions = static_cast<DWORD>(actions.size());
    info.lpsaActions = actions.data();
    if (!changeConfig(service, SERVICE_CONFIG_FAILURE_ACTIONS, &info, error)) {
      refuse("recovery", error);
    } else {
      // A launch that fails reports stopped with exit code 1 and does not
      // crash: without the flag the system would not count it.
      SERVICE_FAILURE_ACTIONS_FLAG flag{};
      flag.fFailureActionsOnNonCrashFailures = TRUE;
      if (!changeConfig(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag, error))
        refuse("recovery (failure-actions flag)", error);
    }
  }
  if (plan.delayedAutoStart) {
    SERVICE_DELAYED_AUTO_START_INFO info{};
    info.fDelayedAutostart = TRUE;
    if (!changeConfig(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &info, error))
      refuse("delayedAutoStart", error);
  }
  if (plan.preshutdownTimeoutMilliseconds) {
    SERVICE_PRESHUTDOWN_INFO info{};
    info.dwPreshutdownTimeout = *plan.preshutdownTimeoutMilliseconds;
    if (!changeConfig(service, SERVICE_CONFIG_PRESHUTDOWN_INFO, &info, error))
      refuse("preshutdownTimeoutSeconds", error);
  }
  return refused;
}

namespace {

// Waits while the service reports `pending`, for as long as the wait hint it
// reports (at least `minimumHint`), counted from its last checkpoint change.
// False when its status cannot be queried; `status` is the last one read.
bool waitWhilePending(SC_HANDLE service, DWORD pending, DWORD minimumHint, SERVICE_STATUS& status) {
  if (!QueryServiceStatus(service, &status)) return false;
  DWORD start = GetTickCount();
  DWORD checkpoint = status.dwCheckPoint;
  while (status.dwCurrentState == pending) {
    Sleep(kStopPollMilliseconds);
    if (!QueryServiceStatus(service, &status)) return false;
    if (status.dwCheckPoint > checkpoint) {
      // The service made progress: its wait hint counts from here.
      start = GetTickCount();
      checkpoint = status.dwCheckPoint;
      continue;
    }
    // Unsigned difference: right across the tick counter's wrap as well.
    DWORD hint = status.dwWaitHint > minimumHint ? status.dwWaitHint : minimumHint;
    if (GetTickCount() - start > hint) break;
  }
  return true;
}

}  // namespace

bool waitForServiceStopped(SC_HANDLE service) {
  SERVICE_STATUS status{};
  return waitWhilePending(service, SERVICE_STOP_PENDING, 0, status) &&
         status.dwCurrentState == SERVICE_STOPPED;
}

int cmdStart() {
  UniqueServiceHandle manager = openManager(SC_MANAGER_CONNECT);
  if (!manager) {
    sayFailure("Could not open SCManager.", GetLastError());
    return 1;
  }
  UniqueServiceHandle service = openService(manager, SERVICE_START);
  if (!service || !StartServiceA(service.get(), 0, nullptr)) {
    sayFailure("Could not start service.", GetLastError());
    return 1;
  }
  say("Starting service '%s'.\n", serviceName());
  return 0;
}

int cmdStop(bool verbose) {
  UniqueServiceHandle manager = openManager(SC_MANAGER_CONNECT);
  if (!manager) {
    if (verbose) sayFailure("Could not open SCManager.", GetLastError());
    return 1;
  }
  UniqueServiceHandle service = openService(manager, SERVICE_STOP | SERVICE_QUERY_STATUS);
  SERVICE_STATUS status{};
  if (!service || !ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    if (verbose) sayFailure("Could not stop service.", GetLastError());
    return 1;
  }
  say("Stopping service '%s'.\n", serviceName());
  if (waitForServiceStopped(service.get())) {
    say("Service stopped\n");
    return 0;
  }
  // A service still running is a failed stop, whoever asked for it.
  say("Error while stopping service\n");
  return 1;
}

int cmdUninstall(bool verbose) {
  (void)cmdStop(false);  // a service that does not run is removed all the same
  UniqueServiceHandle manager = openManager(SC_MANAGER_ALL_ACCESS);
  if (!manager) {
    if (verbose) sayFailure("Could not open SCManager.", GetLastError());
    return 1;
  }
  UniqueServiceHandle service = openService(manager, DELETE);
  if (!service || !DeleteService(service.get())) {
    if (verbose) sayFailure("Could not delete service.", GetLastError());
    return 1;
  }
  // The service is gone (or goes once stopped): its event source goes now;
  // nothing is left to report under that name. Another program's source of
  // the same name stays.
  std::u16string registered;
  EventSourceOwner owner = eventSourceOwner(serviceState().name, registered);
  if (owner == EventSourceOwner::thisExecutable) (void)removeEventSource(serviceState().name);
  if (verbose) say("Uninstalled service '%s'.\n", serviceName());
  if (verbose && owner == EventSourceOwner::other) sayEventSourceLeftAlone(registered);
  return 0;
}

namespace {

// Creates the service, trying the name again while the old service's
// process ends: a service that reported stopped keeps its name marked for
// deletion a moment longer. Null with `error` set when it cannot.
UniqueServiceHandle createService(const UniqueServiceHandle& manager, const InstallPlan& plan,
                                  DWORD startType, const Password& password, DWORD& error) {
  std::string binaryPath = serviceBinaryPath(getExecutablePath());
  std::optional<std::string> dependencies =
      buildDependencyList(getConfigString(ConfigKey::serviceDependencies));
  // The UTF-16 call with the texts converted as CreateServiceA would convert
  // them: Wine's CreateServiceA keeps only the first name of a dependency
  // list, the UTF-16 call takes all of them.
  std::wstring name = widen(serviceState().name);
  std::wstring displayName = plan.displayName.empty() ? name
                                                      : std::wstring(plan.displayName.begin(), plan.displayName.end());
  std::wstring path = widen(binaryPath);
  std::wstring dependencyList = dependencies ? widenList(*dependencies) : std::wstring();
  // A password only for a user account, which needs one.
  std::wstring account = widen(plan.accountName);
  auto create = [&] {
    return UniqueServiceHandle(
        CreateServiceW(manager.get(), name.c_str(), displayName.c_str(), SERVICE_ALL_ACCESS, plan.serviceType,
                       startType, SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr,
                       dependencies ? dependencyList.c_str() : nullptr,
                       plan.accountName.empty() ? nullptr : account.c_str(),
                       plan.needsPassword ? password.c_str() : nullptr));
  };
  UniqueServiceHandle service = create();
  error = service ? ERROR_SUCCESS : GetLastError();
  for (DWORD waited = 0; !service && error == ERROR_SERVICE_MARKED_FOR_DELETE &&
                         waited < kMarkedForDeletionWaitMilliseconds;
       waited += kMarkedForDeletionPollMilliseconds) {
    Sleep(kMarkedForDeletionPollMilliseconds);
    service = create();
    error = service ? ERROR_SUCCESS : GetLastError();
  }
  return service;
}

}  // namespace

PasswordInput askAccountPassword(const InstallPlan& plan, const char* command, Password& password) {
  if (!plan.needsPassword) return PasswordInput::given;
  std::string why;
  PasswordInput input = readPassword(plan.accountName, password, why);
  if (input == PasswordInput::refused) say("Could not %s service: %s.\n", command, why.c_str());
  return input;
}

void sayNoPassword(const InstallPlan& plan, const char* command) {
  say("Could not %s service: account '%s' needs its password; type it when asked, or give it as "
      "one line on standard input.\n", command, plan.accountName.c_str());
}

bool ensureServiceLogonRight(const InstallPlan& plan) {
  if (!plan.needsPassword) return true;
  bool granted = false;
  DWORD error = grantServiceLogonRight(plan.accountName, granted);
  if (error != ERROR_SUCCESS) {
    say("Could not grant account '%s' the right to log on as a service; the service cannot start "
        "until it has it.\n%s\n", plan.accountName.c_str(), systemErrorLineFor(error).c_str());
    return false;
  }
  if (granted) say("Granted account '%s' the right to log on as a service.\n", plan.accountName.c_str());
  return true;
}

int cmdInstall(DWORD startType) {
  if (!existingServiceIsOurs()) return 1;
  std::vector<DamagedSetting> damaged;
  ServiceSettings settings = readServiceSettings(configTables(), damaged);
  for (const DamagedSetting& d : damaged) say("%s.\n", damagedSettingLine(d).c_str());
  InstallPlan plan = planServiceInstall(settings, serviceState().name, startType == SERVICE_AUTO_START);
  // Asked before the old registration goes, so that a missing password
  // leaves it in place.
  Password password;
  PasswordInput input = askAccountPassword(plan, "install", password);
  if (input != PasswordInput::given) {
    if (input == PasswordInput::none) sayNoPassword(plan, "install");
    return 1;
  }
  (void)cmdUninstall(false);  // installing again replaces the registration
  UniqueServiceHandle manager = openManager(SC_MANAGER_ALL_ACCESS);
  if (!manager) {
    sayFailure("Could not open SCManager.", GetLastError());
    return 1;
  }
  DWORD error = 0;
  UniqueServiceHandle service = createService(manager, plan, startType, password, error);
  if (!service) {
    if (error == ERROR_SERVICE_MARKED_FOR_DELETE) {
      say("Could not create service: the old service '%s' is still marked for deletion, because "
          "it has not stopped yet or a program holds it open; close the Services console, Event "
          "Viewer and any other program holding a handle to the service, then install again.\n",
          serviceName());
      say("%s\n", systemErrorLineFor(error).c_str());
    } else {
      sayFailure("Could not create service.", error);
    }
    return 1;
  }
  setDescription(service.get());
  for (const std::string& line : applyInstallSettings(service.get(), plan)) say("%s\n", line.c_str());
  if (settings.eventLog.value_or(false)) (void)registerOwnEventSource(getExecutablePath());
  say("Installed service '%s'.\n", serviceName());
  bool logonRight = ensureServiceLogonRight(plan);
  for (const std::string& warning : unsafeInstallWarnings()) say("%s", warning.c_str());
  return logonRight ? 0 : 1;
}

int cmdRestart() {
  UniqueServiceHandle manager = openManager(SC_MANAGER_CONNECT);
  if (!manager) {
    sayFailure("Could not open SCManager.", GetLastError());
    return 1;
  }
  UniqueServiceHandle service =
      openService(manager, SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS);
  if (!service) {
    sayFailure("Could not stop service.", GetLastError());
    return 1;
  }
  SERVICE_STATUS status{};
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    say("Stopping service '%s'.\n", serviceName());
    if (!waitForServiceStopped(service.get())) {
      say("Error while stopping service\n");
      return 1;
    }
    say("Service stopped\n");
  } else if (DWORD error = GetLastError(); error != ERROR_SERVICE_NOT_ACTIVE) {
    sayFailure("Could not stop service.", error);
    return 1;
  }  // a service that does not run has nothing to stop: it is started
  if (!StartServiceA(service.get(), 0, nullptr)) {
    sayFailure("Could not start service.", GetLastError());
    return 1;
  }
  say("Starting service '%s'.\n", serviceName());
  if (waitWhilePending(service.get(), SERVICE_START_PENDING, kMinimumStartWaitMilliseconds,
                       status) &&
      status.dwCurrentState == SERVICE_RUNNING) {
    say("Service started\n");
    return 0;
  }
  // Stopped again at once (a failed launch), still pending, or unreadable:
  // the exit code the service reported, when it reported one.
  say("Error while starting service\n");
  if (status.dwCurrentState == SERVICE_STOPPED && status.dwWin32ExitCode != 0)
    say("%s\n", systemErrorLineFor(status.dwWin32ExitCode).c_str());
  return 1;
}
