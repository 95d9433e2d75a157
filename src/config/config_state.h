// The configuration layer's part of the process-wide state: the store, the
// launcher flavour, the message path, the log and the path cache. Start-up
// fills it on the main thread before any other thread exists; Win32
// callbacks reach it through these accessors. Nothing here takes a lock of
// its own: see docs/architecture.md ("Process-wide state").
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "config/config_block.h"
#include "config/config_keys.h"
#include "config/exit_duties.h"

enum class MessageMode { messageBox, console };

struct MessageState {
  MessageMode mode = MessageMode::messageBox;
  bool firstDisplayDone = false;  // window activation skips the first message
  uint32_t targetProcessId = 0;   // process whose windows are being activated
  ExitDutyTable exitDuties;       // registered by their owners at start
  void (*listener)(const std::string& text) = nullptr;  // sees every message (event log)
};

struct LogState {
  bool opened = false;      // the one-time opening was attempted
  bool hasName = false;     // a log file name was chosen
  std::string fileName;
  std::FILE* stream = nullptr;
};

enum class LongPathImpl { unresolved, system, emulated };

struct PathCache {
  bool executablePathComputed = false;
  std::string executablePath;  // short, lower case, backslashes collapsed
  bool exeDirectoryComputed = false;
  std::string exeDirectory;    // with its trailing backslash
  LongPathImpl longPath = LongPathImpl::unresolved;
};

ConfigTables& configTables();
LauncherFlavour& launcherFlavour();  // key 2001
MessageState& messageState();
LogState& logState();
PathCache& pathCache();
