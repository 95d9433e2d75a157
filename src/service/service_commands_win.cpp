#include "service/service_commands_win.h"

// The service commands arrive with the service-control work; until then each
// word fails quietly with exit code 1.
int cmdInstall(DWORD) { return 1; }
int cmdUninstall(bool) { return 1; }
int cmdStop(bool) { return 1; }
int cmdStart() { return 1; }
