// Loading the configuration block from the launcher's own executable.
#pragma once

#include <cstdint>
#include <string>

#include "common/handles_win.h"
#include "config/config_block.h"
#include "config/pe_version.h"

// Opens the launcher's own executable for reading (sharing read and write).
// On failure logs "Could not open <path>" and ends the process with the fixed
// media-file message; never returns an invalid handle.
UniqueHandle openMediaFile();

// Reads the configuration block into the process-wide store, then switches
// messages to the console unless key 107 is 1 or 5. A damaged block ends the
// process with its fixed text, shown in a message box.
void loadConfig();

// How much of another executable's image is read to find its version
// resource; a resource beyond it counts as missing.
inline constexpr uint64_t kMaxInspectedImageBytes = 64ull * 1024 * 1024;

// What the configuration block and the version resource of another
// executable (an installed service's) say. Nothing is fatal here: each part
// that cannot be read says why, in words that name the file.
struct ExecutableContents {
  std::string problem;       // the file cannot be read at all
  VersionInfo version;       // found false when it has none
  bool blockRead = false;
  std::string blockProblem;  // why the block could not be read
  ConfigTables block;
};
ExecutableContents readExecutableContents(const std::string& path);
