#include "service/scm_status_win.h"

#include <windows.h>

void sendScmStatus(void* statusHandle, const ServiceStatusRecord& record) {
  if (statusHandle == nullptr) return;
  SERVICE_STATUS status{};
  status.dwServiceType = record.serviceType;
  status.dwCurrentState = record.currentState;
  status.dwControlsAccepted = record.controlsAccepted;
  status.dwWin32ExitCode = record.win32ExitCode;
  status.dwServiceSpecificExitCode = record.serviceSpecificExitCode;
  status.dwCheckPoint = record.checkPoint;
  status.dwWaitHint = record.waitHint;
  SetServiceStatus(static_cast<SERVICE_STATUS_HANDLE>(statusHandle), &status);
}
