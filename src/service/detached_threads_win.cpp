#include "service/detached_threads_win.h"

#include "config/log_win.h"
#include "service/event_log_win.h"

namespace {

struct ErrorReport {
  std::string text;
  bool event = false;
};

DWORD WINAPI writeErrorReport(LPVOID parameter) {
  const ErrorReport* report = static_cast<const ErrorReport*>(parameter);
  logError("%s", report->text.c_str());
  if (report->event) reportErrorEvent(report->text);
  return 0;
}

}  // namespace

bool startDetachedThread(LPTHREAD_START_ROUTINE routine, void* parameter, const char* what) {
  HANDLE thread = CreateThread(nullptr, 0, routine, parameter, 0, nullptr);
  if (thread == nullptr) {
    logError("cannot start the %s thread (error %lu)", what, static_cast<unsigned long>(GetLastError()));
    return false;
  }
  CloseHandle(thread);
  return true;
}

void writeErrorWithin(std::string text, bool event, uint32_t waitMs) {
  // Kept for as long as the process lives: a writer that is still stuck
  // when the wait ends must not read freed memory.
  ErrorReport* report = new ErrorReport{std::move(text), event};
  if (HANDLE writer = CreateThread(nullptr, 0, writeErrorReport, report, 0, nullptr)) {
    WaitForSingleObject(writer, waitMs);
    CloseHandle(writer);
  }
}
