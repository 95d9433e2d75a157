// Settings all three peers share, mapped the same way whichever names them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "import/import_result.h"

// The account a service runs as, as a peer writes it (a password is never
// asked for here): the built-in accounts by their keywords, NT SERVICE\<name>
// as "virtual", a group managed account ("DOMAIN\\name$") and a user account
// as given.
void importAccount(const std::string& setting, const std::string& account, const std::string& serviceName,
                   ImportResult& r);

// A password setting: never carried over, never shown.
void dropPassword(const std::string& setting, ImportResult& r);

// How the service starts, by the service manager's start type (2 automatic,
// 3 on demand, 4 disabled) and the delayed flag.
void importStartType(const std::string& setting, const std::string& given, uint32_t startType, bool delayed,
                     ImportResult& r);

// Failure actions: restart after `delaySeconds`, at most `maxRestarts` times
// (0: for ever) within `resetHours`.
void importRestarts(const std::string& setting, const std::string& given, uint64_t delaySeconds,
                    uint32_t maxRestarts, uint64_t resetHours, const std::string& reason, ImportResult& r);

// Milliseconds as whole seconds, rounded up.
uint64_t secondsFromMilliseconds(uint64_t ms);

// Reads a decimal number; false for anything else or more than 2^53.
bool readNumber(const std::string& text, uint64_t& value);

// Takes the setting `key` out of `settings` into `out`, so that what is left
// at the end can be reported as not carried over; false when it is not there.
template <typename Setting>
bool takeSetting(std::map<std::string, Setting>& settings, const std::string& key, Setting& out) {
  auto it = settings.find(key);
  if (it == settings.end()) return false;
  out = it->second;
  settings.erase(it);
  return true;
}
