#include "import/installed_service.h"

InstalledService readInstalledService(const std::string& name) {
  InstalledService s;
  s.name = name;
  s.error = "--service reads the service registration of the machine it runs on, which only kernopack.exe on "
            "Windows can do; here, import a `reg export` of the service's key or its configuration file instead";
  return s;
}
