#include "config/messages_win.h"

#include <windows.h>

#include <cstdio>

#include "common/system_library_win.h"
#include "config/config_state.h"
#include "config/config_store.h"
#include "config/exit_duties.h"
#include "config/log_win.h"
#include "config/messages.h"
#include "config/paths_win.h"
#include "config/window_activation_win.h"

void useConsoleMessages() { messageState().mode = MessageMode::console; }

void registerExitDuty(ExitDuty duty, ExitDutyFunction function) {
  setExitDuty(messageState().exitDuties, duty, function);
}

void registerMessageListener(MessageListener listener) {
  messageState().listener = listener;
}

void showMessage(const std::string& text) {
  runExitDuties(messageState().exitDuties, ExitMoment::message);
  prepareMessageDisplay();

  std::string output;
  if (const std::string* logName = logFileName()) {
    std::string longName;
    if (!getLongPathName(*logName, longName)) longName = *logName;
    output = composeMessage(text, &longName);
  } else {
    output = composeMessage(text, nullptr);
  }
  // Before the box: a box in a service process may wait for ever on a
  // desktop nobody sees, and the event log is where an operator looks.
  if (MessageListener listener = messageState().listener) listener(output);

  if (messageState().mode == MessageMode::messageBox) {
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
  runExitDuties(messageState().exitDuties, ExitMoment::fatalEnd);
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
  runExitDuties(messageState().exitDuties,
                exitCode == 0 ? ExitMoment::exitSuccess : ExitMoment::exitFailure);
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(exitCode));
}
