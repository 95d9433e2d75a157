#include "config/messages_win.h"

#include <windows.h>

#include <cstdio>

#include "common/launcher_state.h"
#include "common/system_library_win.h"
#include "config/config_store.h"
#include "config/log_win.h"
#include "config/messages.h"
#include "config/window_activation_win.h"
#include "files/extraction_win.h"
#include "files/paths_win.h"
#include "service/service_main_win.h"

void useConsoleMessages() { launcher().messages.mode = MessageMode::console; }

void showMessage(const std::string& text) {
  cleanupExtractedFiles();
  prepareMessageDisplay();

  std::string output;
  if (const std::string* logName = logFileName()) {
    std::string longName;
    if (!getLongPathName(*logName, longName)) longName = *logName;
    output = composeMessage(text, &longName);
  } else {
    output = composeMessage(text, nullptr);
  }

  if (launcher().messages.mode == MessageMode::messageBox) {
    std::string caption = getConfigString(ConfigKey::MSG_ERROR_CAPTION);
    ondemand::MessageBoxA(nullptr, output.c_str(), caption.c_str(), MB_ICONERROR);
  } else {
    std::fprintf(stderr, "%s\n", output.c_str());
    std::fflush(stderr);
  }
}

void showMessageByKey(ConfigKey key, std::string_view placeholder, std::string_view value) {
  showMessage(fillPlaceholder(getConfigString(key), placeholder, value));
}

namespace {
[[noreturn]] void endAfterFatalError() {
  reportServiceFailedOnFatalExit();
  std::fflush(nullptr);
  ExitProcess(1);
}
}  // namespace

void fatalError(const std::string& text) {
  showMessage(text);
  endAfterFatalError();
}

void fatalErrorByKey(ConfigKey key, std::string_view placeholder, std::string_view value) {
  showMessageByKey(key, placeholder, value);
  endAfterFatalError();
}

void exitLauncher(int exitCode) {
  if (exitCode != 0) reportServiceFailedOnFatalExit();
  cleanupExtractedFiles();
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(exitCode));
}
