#include "service/service_main_win.h"

#include "common/launcher_state.h"
#include "config/log_win.h"

namespace {
SERVICE_STATUS_HANDLE gStatusHandle = nullptr;

DWORD WINAPI controlHandler(DWORD, DWORD, LPVOID, LPVOID) { return NO_ERROR; }
}  // namespace

// Until the Java search and the VM launch exist, the service reports itself
// stopped at once with exit code 1: there is nothing to run yet.
void WINAPI ServiceMain(DWORD, LPSTR*) {
  gStatusHandle = RegisterServiceCtrlHandlerExA(launcher().serviceName.c_str(), controlHandler,
                                                nullptr);
  if (!gStatusHandle) return;
  logInfo("no Java runtime search yet; reporting the service stopped");
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = SERVICE_STOPPED;
  status.dwWin32ExitCode = ERROR_INVALID_FUNCTION;
  SetServiceStatus(gStatusHandle, &status);
}
