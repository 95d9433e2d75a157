#include "service/status_command_win.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/code_page_win.h"
#include "common/handles_win.h"
#include "common/system_error_win.h"
#include "config/config_store_win.h"
#include "config/path_text.h"
#include "launch/start_cache_win.h"
#include "service/status_command.h"
#include "service/service_state.h"

namespace {

// The system's answers are read into buffers of at most this many bytes
// (the documented limit of a service's configuration is 8 KiB).
constexpr DWORD kMaxConfigBytes = 64 * 1024;
// Longest machine environment value read.
constexpr DWORD kMaxEnvironmentBytes = 32 * 1024;
constexpr char kMachineEnvironment[] =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

int fail(const char* line, DWORD error) {
  say(line);
  say(systemErrorLineFor(error));
  return kStatusQueryFailed;
}

// A two-call query (first the size, then the data), bounded; false with the
// system's error code in `error`.
template <typename Call>
bool querySized(std::vector<BYTE>& out, DWORD& error, Call call) {
  DWORD needed = 0;
  if (call(nullptr, 0, &needed)) return true;  // nothing to read
  error = GetLastError();
  if (error != ERROR_INSUFFICIENT_BUFFER) return false;
  if (needed == 0 || needed > kMaxConfigBytes) {
    error = ERROR_INVALID_DATA;
    return false;
  }
  out.assign(needed, 0);
  if (call(out.data(), needed, &needed)) return true;
  error = GetLastError();
  return false;
}

using QueryServiceConfig2WFunction = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPBYTE, DWORD, LPDWORD);

// Looked up at run time, as its twin ChangeServiceConfig2W is at install.
QueryServiceConfig2WFunction queryServiceConfig2W() {
  HMODULE advapi = GetModuleHandleA("advapi32.dll");
  if (advapi == nullptr) return nullptr;
  FARPROC proc = GetProcAddress(advapi, "QueryServiceConfig2W");
  return reinterpret_cast<QueryServiceConfig2WFunction>(reinterpret_cast<void (*)()>(proc));
}

bool queryConfig2(SC_HANDLE service, DWORD level, std::vector<BYTE>& out, DWORD& error) {
  QueryServiceConfig2WFunction query = queryServiceConfig2W();
  if (query == nullptr) {
    error = ERROR_CALL_NOT_IMPLEMENTED;
    return false;
  }
  return querySized(out, error, [&](BYTE* data, DWORD size, DWORD* needed) {
    return query(service, level, data, size, needed);
  });
}

void readFailureActions(SC_HANDLE service, StatusCommandFacts& report) {
  std::vector<BYTE> data;
  DWORD error = 0;
  if (!queryConfig2(service, SERVICE_CONFIG_FAILURE_ACTIONS, data, error)) {
    report.failureActionsProblem = systemErrorLineFor(error);
    return;
  }
  FailureActionsPlan plan;
  if (data.size() >= sizeof(SERVICE_FAILURE_ACTIONSW)) {
    const auto* info = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(data.data());
    plan.resetPeriodSeconds = info->dwResetPeriod;
    // The actions lie inside the buffer the system filled; anything that
    // points elsewhere is not read.
    const auto* first = reinterpret_cast<const BYTE*>(info->lpsaActions);
    size_t count = info->cActions;
    if (first != nullptr && count > 0 && first >= data.data() &&
        first <= data.data() + data.size() &&
        count <= size_t(data.data() + data.size() - first) / sizeof(SC_ACTION)) {
      const auto* actions = reinterpret_cast<const SC_ACTION*>(first);
      for (size_t i = 0; i < count; ++i)
        plan.actions.push_back(FailureAction{uint32_t(actions[i].Type), actions[i].Delay});
    }
  }
  report.failureActions = plan;
}

std::optional<bool> readDelayedStart(SC_HANDLE service) {
  std::vector<BYTE> data;
  DWORD error = 0;
  if (!queryConfig2(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, data, error) ||
      data.size() < sizeof(SERVICE_DELAYED_AUTO_START_INFO))
    return std::nullopt;  // not stored (Wine refuses the setting altogether)
  return reinterpret_cast<const SERVICE_DELAYED_AUTO_START_INFO*>(data.data())->fDelayedAutostart !=
         FALSE;
}

// A value of the machine environment, expanded; empty when absent.
std::string machineEnvironmentValue(HKEY key, const char* name) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0 || size > kMaxEnvironmentBytes)
    return {};
  std::string value(size, '\0');
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) !=
      ERROR_SUCCESS)
    return {};
  value.resize(std::min<size_t>(size, value.size()));
  value = value.c_str();  // ends at the first NUL, whether or not one was stored
  if (type != REG_EXPAND_SZ) return value;
  std::string expanded(kMaxEnvironmentBytes, '\0');
  DWORD n = ExpandEnvironmentStringsA(value.c_str(), expanded.data(), kMaxEnvironmentBytes);
  if (n == 0 || n > kMaxEnvironmentBytes) return value;
  expanded.resize(n - 1);
  return expanded;
}

// The log switch and TMP directory a service process gets from the machine
// environment. TMP is the service's own only for LocalSystem; another
// account has its profile's.
std::string diagnosticLog(const std::string& account, uint32_t processId) {
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMachineEnvironment, 0, KEY_QUERY_VALUE, &raw) !=
      ERROR_SUCCESS)
    return "unknown (the machine environment cannot be read)";
  UniqueRegKey key(raw);
  bool on = machineEnvironmentValue(key.get(), "KERNO_LOG") == "yes" ||
            machineEnvironmentValue(key.get(), "BRINDLE_LOG") == "yes";
  bool localSystem = account.empty() || account == "LocalSystem" || account == ".\\LocalSystem";
  std::string temp = localSystem ? machineEnvironmentValue(key.get(), "TMP") : std::string();
  return diagnosticLogText(on, temp, account, processId);
}

void readExecutable(StatusCommandFacts& report) {
  std::string file = imageFileOfCommandLine(report.imagePath);
  ExecutableContents contents = readExecutableContents(file);
  if (!contents.problem.empty()) {
    report.madeFromProblem = report.blockProblem = contents.problem;
    return;
  }
  report.madeFrom = fromUtf16(madeFrom(contents.version), CP_ACP);
  if (report.madeFrom.empty()) report.madeFromProblem = "no version resource in " + file;
  if (!contents.blockRead) {
    report.blockProblem = contents.blockProblem;
    return;
  }
  std::vector<DamagedSetting> damaged;
  report.eventLogKnown = true;
  ServiceSettings settings = readServiceSettings(contents.block, damaged);
  report.eventLog = settings.eventLog.value_or(false);
  report.startCache = settings.startCache.value_or(false);
  for (const StartCacheFile& f : startCacheFiles(report.name)) {
    report.startCacheArchives.emplace_back(f.path, f.size);
  }
  size_t slash = file.find_last_of('\\');
  std::string directory = slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
  report.outputFiles = outputFilesText(contents.block, directory);
}

}  // namespace

int cmdStatus() {
  const std::string& name = serviceState().name;
  UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return fail("Could not open SCManager.", GetLastError());
  UniqueServiceHandle service(
      OpenServiceA(manager.get(), name.c_str(), SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
  if (!service) {
    DWORD error = GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
      say("Service '" + name + "' is not installed.");
      return kStatusNotInstalled;
    }
    return fail("Could not query service.", error);
  }
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                            sizeof status, &needed))
    return fail("Could not query service.", GetLastError());
  std::vector<BYTE> data;
  DWORD error = 0;
  if (!querySized(data, error, [&](BYTE* buffer, DWORD size, DWORD* got) {
        return QueryServiceConfigA(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer),
                                   size, got);
      }) ||
      data.size() < sizeof(QUERY_SERVICE_CONFIGA))
    return fail("Could not query service.", error != 0 ? error : ERROR_INVALID_DATA);
  const auto* config = reinterpret_cast<const QUERY_SERVICE_CONFIGA*>(data.data());

  StatusCommandFacts report;
  report.name = name;
  report.state = status.dwCurrentState;
  report.processId = status.dwProcessId;
  report.win32ExitCode = status.dwWin32ExitCode;
  report.startType = config->dwStartType;
  // The texts point into the buffer the system filled.
  report.account = config->lpServiceStartName != nullptr ? config->lpServiceStartName : "";
  report.imagePath = config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : "";
  if (report.startType == SERVICE_AUTO_START) report.delayedAutoStart = readDelayedStart(service.get());
  readFailureActions(service.get(), report);
  readExecutable(report);
  report.diagnosticLog = diagnosticLog(report.account, report.processId);
  for (const std::string& line : formatStatusCommand(report)) say(line);
  return statusExitCode(report.state);
}
