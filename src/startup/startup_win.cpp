#include "startup/startup_win.h"

#include <windows.h>

#include <cstdlib>

#include "common/launcher_state.h"
#include "config/config_store.h"
#include "config/config_store_win.h"
#include "files/paths_win.h"
#include "jvm/dll_search_win.h"
#include "service/service_commands_win.h"

std::string readEnvironment(const char* name) {
  std::string value(256, '\0');
  for (;;) {
    DWORD n = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) return {};
    if (n < value.size()) {
      value.resize(n);
      return value;
    }
    value.assign(n, '\0');  // n is the size needed, terminator included
  }
}

void prefixSearchPath() {
  std::string prefix = resolvePathList(getConfigString(ConfigKey::pathPrefix));
  std::string path = prefixPathValue(prefix, readEnvironment("PATH"));
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
  std::string flavour = getConfigString(ConfigKey::launcherFlavour);
  launcher().flavour = flavour.empty() ? '\0' : flavour[0];
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
    case CommandWord::none: break;
  }
  return 0;
}
