#include "import/import_common.h"

#include <algorithm>

#include "import/reg_export.h"

namespace {

constexpr uint32_t kMostRestarts = 100;
constexpr uint64_t kMostRestartDelaySeconds = 86400;
constexpr uint64_t kMostResetHours = 8760;

// The keyword of a built-in account, or empty.
std::string builtInAccount(const std::string& lower) {
  std::string name = lower;
  for (const char* prefix : {"nt authority\\", ".\\"}) {
    if (name.rfind(prefix, 0) == 0) name = name.substr(std::string(prefix).size());
  }
  if (name == "localsystem" || name == "system") return "LocalSystem";
  if (name == "localservice" || name == "local service") return "LocalService";
  if (name == "networkservice" || name == "network service") return "NetworkService";
  return {};
}

}  // namespace

bool readNumber(const std::string& text, uint64_t& value) {
  if (text.empty() || text.size() > 15) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + uint64_t(c - '0');
  }
  return true;
}

uint64_t secondsFromMilliseconds(uint64_t ms) { return ms / 1000 + (ms % 1000 != 0 ? 1 : 0); }

void importAccount(const std::string& setting, const std::string& account, const std::string& serviceName,
                   ImportResult& r) {
  std::string lower = asciiLower(account);
  std::string keyword = builtInAccount(lower);
  if (!keyword.empty()) return r.keep(setting, account, "serviceAccount", keyword);
  if (lower.rfind("nt service\\", 0) == 0) {
    std::string name = account.substr(11);
    if (asciiLower(name) == asciiLower(serviceName)) return r.keep(setting, account, "serviceAccount", "virtual");
    return r.change(setting, account, "serviceAccount", "virtual",
                    "a virtual account is always NT SERVICE\\ and the service's own name");
  }
  if (!account.empty() && account.back() == '$') return r.keep(setting, account, "serviceAccount", account);
  r.change(setting, account, "serviceAccount", account,
           "a user account: its password is never carried over; /install and /configure ask for it");
}

void dropPassword(const std::string& setting, ImportResult& r) {
  r.drop(setting, "(hidden)", "a password is never carried over or stored; /install and /configure ask for it");
}

void importStartType(const std::string& setting, const std::string& given, uint32_t startType, bool delayed,
                     ImportResult& r) {
  if (startType == 2) {
    r.keep(setting, given, "executableType", 4);
    if (delayed) r.keep(setting, given, "delayedAutoStart", true);
  } else if (startType == 3) {
    r.keep(setting, given, "executableType", 3);
  } else if (startType == 4) {
    r.change(setting, given, "executableType", 3,
             "installed for start on demand: disable it after /install (sc config NAME start= disabled)");
  } else {
    r.drop(setting, given, "a start type for drivers, which a service cannot have");
  }
}

void importRestarts(const std::string& setting, const std::string& given, uint64_t delaySeconds,
                    uint32_t maxRestarts, uint64_t resetHours, const std::string& reason, ImportResult& r) {
  std::string why = reason;
  auto add = [&why](const std::string& s) { why += (why.empty() ? "" : "; ") + s; };
  if (maxRestarts == 0 || maxRestarts > kMostRestarts) {
    add("restarts at most 100 times within the reset period, not for ever");
    maxRestarts = kMostRestarts;
  }
  if (delaySeconds > kMostRestartDelaySeconds) {
    add("the restart delay is at most one day");
    delaySeconds = kMostRestartDelaySeconds;
  }
  uint64_t hours = std::clamp<uint64_t>(resetHours, 1, kMostResetHours);
  if (hours != resetHours) add("the reset period is 1 to 8760 hours");
  ImportJson v = {{"restartDelaySeconds", delaySeconds}, {"maxRestarts", maxRestarts}, {"resetPeriodHours", hours}};
  if (why.empty()) return r.keep(setting, given, "recovery", v);
  r.change(setting, given, "recovery", v, why);
}
