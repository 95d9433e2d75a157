// The launcher's process-wide state, in one place. Start-up fills it on the
// main thread before any other thread exists; Win32 callbacks (the service
// main routine, the control handlers, the exit handler) reach it through
// launcher(). Nothing here takes a lock: see docs/architecture.md.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "config/config_block.h"

enum class MessageMode { messageBox, console };

struct MessageState {
  MessageMode mode = MessageMode::messageBox;
  bool firstDisplayDone = false;  // window activation skips the first message
  uint32_t targetProcessId = 0;   // process whose windows are being activated
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

struct ExtractionState {
  std::string extractionDirectory;  // empty when nothing is included
  std::vector<std::string> extractedFiles;
  std::vector<std::string> extractedDirs;
};

struct LauncherState {
  ConfigTables config;
  MessageState messages;
  LogState log;
  PathCache paths;
  ExtractionState extraction;
  std::string serviceName;
  char flavour = 0;  // 'e': kerno flavour, 'i': brindle flavour, 0: neither
};

LauncherState& launcher();
