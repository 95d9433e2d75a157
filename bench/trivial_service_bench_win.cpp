// The yardstick of the start-up benchmark (bench/service_start.d): a
// service that does nothing. ServiceMain takes the performance counter
// first, reports running, writes the count to trivial-service.stamp beside
// the executable and reports stopped.
#include <windows.h>

#include <cstdio>
#include <string>

#include "../tests/standins/standin_common_win.h"

namespace {

wchar_t serviceName[] = L"KernoTrivialBench";
SERVICE_STATUS_HANDLE statusHandle = nullptr;

void WINAPI controlHandler(DWORD) {}

void report(DWORD state) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  SetServiceStatus(statusHandle, &status);
}

void WINAPI serviceMain(DWORD, LPWSTR*) {
  LARGE_INTEGER entered;
  QueryPerformanceCounter(&entered);
  statusHandle = RegisterServiceCtrlHandlerW(serviceName, controlHandler);
  if (statusHandle == nullptr) return;
  report(SERVICE_RUNNING);
  writeStamp(moduleDirectory(nullptr) + "trivial-service.stamp", entered.QuadPart);
  report(SERVICE_STOPPED);
}

}  // namespace

int main() {
  SERVICE_TABLE_ENTRYW table[] = {{serviceName, serviceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    std::fprintf(stderr, "trivial service: not started by the service manager\n");
    return 1;
  }
  return 0;
}
