// Loading the configuration block from the launcher's own executable.
#pragma once

#include "common/handles_win.h"

// Opens the launcher's own executable for reading (sharing read and write).
// On failure logs "Could not open <path>" and ends the process with the fixed
// media-file message; never returns an invalid handle.
UniqueHandle openMediaFile();

// Reads the configuration block into the process-wide store, then switches
// messages to the console unless key 107 is 1 or 5. A damaged block ends the
// process with its fixed text, shown in a message box.
void loadConfig();
