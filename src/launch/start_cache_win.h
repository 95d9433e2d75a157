// The start cache's system side (the rules are in launch/start_cache.h): the
// private directory of a service's archives and the file calls the rules
// need.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// "kerno-start-cache-<service>" under %ProgramData%: created private (this
// account, SYSTEM and the administrators), or, when it exists, used only when
// it is a plain directory that nobody else may write to. Empty when there is
// no such place; `why` then says why (for the log).
std::string startCacheDirectory(const std::string& serviceName, bool create, std::string& why);

// Puts this start's class-data options into `options` at `position` (before
// the description's own options, which begin there), after removing an
// unsealed archive and the service's archives of other keys. Logs what it
// decided. Does nothing when key 30032 is off.
void applyStartCache(std::vector<std::string>& options, std::size_t position,
                     const std::string& serviceName);

// Once the VM runs: when its log says it refused the archive, logs that the
// archive was not used and removes it (and its seal), so that the next start
// makes a new one.
void checkStartCacheAfterCreate();

// For /status: the service's current archives (full paths) and their sizes.
struct StartCacheFile {
  std::string path;
  uint64_t size = 0;
};
std::vector<StartCacheFile> startCacheFiles(const std::string& serviceName);
