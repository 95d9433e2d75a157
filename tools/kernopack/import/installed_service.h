// Reading an installed service's registration from this machine's
// registry (Windows; elsewhere a clear refusal).
#pragma once

#include <string>

#include "import/import_source.h"

InstalledService readInstalledService(const std::string& name);
