#include "startup/startup_win.h"

#include <windows.h>

#include <cstdlib>

#include "common/environment_win.h"
#include "config/config_state.h"
#include "config/config_store.h"
#include "config/config_store_win.h"
#include "config/paths_win.h"
#include "jvm/dll_search_win.h"
#include "service/console_run_win.h"
#include "service/service_commands_win.h"
#include "service/service_configure_win.h"
#include "service/status_command_win.h"
#include "service/thread_dump_command_win.h"

void prefixSearchPath() {
  std::string prefix = resolvePathList(getConfigString(ConfigKey::pathPrefix));
  std::string path = prefixPathValue(prefix, environmentValue("PATH"));
  SetEnvironmentVariableA("PATH", path.c_str());
  std::string assignment = "PATH=" + path;
  _putenv(assignment.c_str());
}

void enterWorkingDirectory() {
  std::string dir = getConfigString(ConfigKey::workingDirectory);
  if (!dir.empty()) SetCurrentDirectoryA(resolvePath(dir, false).c_str());
}

void initLauncher() {
  loadConfig();
  launcherFlavour() = parseLauncherFlavour(getConfigString(ConfigKey::launcherFlavour));
  restrictDllSearch();
  prefixSearchPath();
  enterWorkingDirectory();
}

int runCommand(CommandWord word) {
  switch (word) {
    case CommandWord::install:
      return cmdInstall(getConfigInt(ConfigKey::executableType) == kExecutableTypeAutoStart
                            ? SERVICE_AUTO_START
                            : SERVICE_DEMAND_START);
    case CommandWord::installAuto: return cmdInstall(SERVICE_AUTO_START);
    case CommandWord::installDemand: return cmdInstall(SERVICE_DEMAND_START);
    case CommandWord::uninstall: return cmdUninstall(true);
    case CommandWord::stop: return cmdStop(true);
    case CommandWord::start: return cmdStart();
    case CommandWord::console: return runConsole();
    case CommandWord::status: return cmdStatus();
    case CommandWord::restart: return cmdRestart();
    case CommandWord::configure: return cmdConfigure();
    case CommandWord::threadDump: return cmdThreadDump();
    case CommandWord::none: break;
  }
  return 0;
}
