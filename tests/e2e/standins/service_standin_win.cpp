// A stand-in Windows service for the end-to-end tests of the service
// commands. The launcher's own service cannot stay running without a Java
// runtime, so the tests register this program instead where they need a
// service that runs and then stops in a chosen way. The way is the first
// word after the program name in the registered binary path:
//
//   (none)    stops at once when asked: stop pending, then stopped
//   slow FILE stays stop pending past its short wait hint (1 s) until FILE
//             exists (the test lets it go), so a caller gives up waiting
//             first however slow the machine; at most 10 minutes
//   progress  stays stop pending for about 8 s with a wait hint of 5 s,
//             but advances its checkpoint every 200 ms: a caller that
//             counts the hint from the last checkpoint waits it out even
//             when a busy machine stalls either side for seconds
#include <windows.h>

#include <cstring>

namespace {

enum class Mode { prompt, slow, progress };

constexpr DWORD kProgressWaitHint = 5000;

Mode gMode = Mode::prompt;
SERVICE_STATUS_HANDLE gHandle = nullptr;
SERVICE_STATUS gStatus{};
HANDLE gStopEvent = nullptr;
const char* gReleaseFile = "";

void report(DWORD state, DWORD checkpoint, DWORD waitHint) {
  gStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  gStatus.dwCurrentState = state;
  gStatus.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  gStatus.dwWin32ExitCode = NO_ERROR;
  gStatus.dwCheckPoint = checkpoint;
  gStatus.dwWaitHint = waitHint;
  SetServiceStatus(gHandle, &gStatus);
}

DWORD WINAPI controlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
  if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
    report(SERVICE_STOP_PENDING, 1, gMode == Mode::slow ? 1000 : kProgressWaitHint);
    SetEvent(gStopEvent);
    return NO_ERROR;
  }
  SetServiceStatus(gHandle, &gStatus);
  return NO_ERROR;
}

void WINAPI standinMain(DWORD, LPSTR* argv) {
  gHandle = RegisterServiceCtrlHandlerExA(argv[0], controlHandler, nullptr);
  if (!gHandle) return;
  gStopEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  report(SERVICE_RUNNING, 0, 0);
  WaitForSingleObject(gStopEvent, INFINITE);
  switch (gMode) {
    case Mode::prompt: break;
    case Mode::slow:
      for (int i = 0; i < 6000 && GetFileAttributesA(gReleaseFile) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
      break;
    case Mode::progress:
      for (DWORD checkpoint = 2; checkpoint <= 41; ++checkpoint) {
        Sleep(200);
        report(SERVICE_STOP_PENDING, checkpoint, kProgressWaitHint);
      }
      break;
  }
  report(SERVICE_STOPPED, 0, 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "slow") == 0) {
    gMode = Mode::slow;
    gReleaseFile = argv[2];
  }
  if (argc > 1 && std::strcmp(argv[1], "progress") == 0) gMode = Mode::progress;
  char name[] = "";  // an own-process service may leave its table name empty
  SERVICE_TABLE_ENTRYA table[] = {{name, standinMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
