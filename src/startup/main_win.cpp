// Process entry: prepares the process, then runs one command word or hands
// the main thread to the service dispatcher.
#include <windows.h>

#include <string>
#include <vector>

#include "config/config_state.h"
#include "config/config_store.h"
#include "config/log_win.h"
#include "config/messages_win.h"
#include "config/service_settings.h"
#include "files/extraction_win.h"
#include "files/files_state.h"
#include "service/event_log_win.h"
#include "service/service_main_win.h"
#include "service/service_state.h"
#include "startup/command_line.h"
#include "startup/startup_win.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandTailText, int) {
  // Reading the tail decides nothing yet; the console run only needs to know
  // before the first line is logged or shown.
  ParsedCommand command = parseCommandTail(commandTailText);
  if (command.word == CommandWord::console) {
    useStandardErrorLog();
    useConsoleMessages();
  }
  initLauncher();
  serviceState().name = getConfigString(ConfigKey::serviceName);
  if (command.overridesServiceName) serviceState().name = command.serviceName;
  // A process without a command word is the service process: from here on its
  // messages go to the event log too, when the block asks for it (key 30020;
  // a damaged value is logged by the service runtime and reads as off).
  // Command processes write nothing there.
  if (command.word == CommandWord::none) {
    std::vector<DamagedSetting> damaged;
    if (readServiceSettings(configTables(), damaged).eventLog.value_or(false)) enableEventLog();
  }
  if (extractsIncludedFiles(command.word) && !extractIncludedFiles(extractionState().extractionDirectory)) {
    fatalErrorByKey(ConfigKey::MSG_INTERNAL_ERROR, kPlaceholderErrorCode, "16");
  }
  if (command.word != CommandWord::none) return runCommand(command.word);

  // Run from a console, the dispatcher call fails at once and we end with 0.
  std::string name = serviceState().name;
  SERVICE_TABLE_ENTRYA table[] = {{name.data(), ServiceMain}, {nullptr, nullptr}};
  StartServiceCtrlDispatcherA(table);
  return 0;
}

// A console program enters here; the tail is taken from the raw command line
// with the C runtime's WinMain rules, so both entries behave the same.
int main() {
  std::string tail(commandTail(GetCommandLineA()));
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
  return WinMain(GetModuleHandleA(nullptr), nullptr, tail.data(), show);
}
