#include "config/service_settings.h"

#include <cctype>

#include "config/config_store.h"

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

namespace {

constexpr std::string_view kLocalSystem = "LocalSystem";
constexpr std::string_view kLocalService = "LocalService";
constexpr std::string_view kNetworkService = "NetworkService";
constexpr std::string_view kVirtual = "virtual";

// Characters an account name may not contain (besides controls, blanks and
// anything outside ASCII).
bool isForbiddenInName(char c) {
  return std::string_view("\"/\\[]:;|=,+*?<>@%").find(c) != std::string_view::npos;
}

bool isDomainCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

bool isPlainAscii(char c) { return c > ' ' && c < 0x7F; }

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// The pieces of "a,b,c"; exactly `count` of them or none.
std::vector<std::string_view> splitFixed(std::string_view text, size_t count) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (parts.size() < count) {
    size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma == std::string_view::npos ? std::string_view::npos
                                                                        : comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
    if (parts.size() == count) return {};  // more pieces than expected
  }
  if (parts.size() != count) return {};
  return parts;
}

}  // namespace

namespace {

const char* const kAccountForms =
    "; give \"LocalSystem\", \"LocalService\", \"NetworkService\", \"virtual\", a group managed "
    "service account \"DOMAIN\\\\name$\" or a user account \"DOMAIN\\\\user\", \".\\\\user\" or "
    "\"user@domain\"";

// 1 to 255 letters, digits, '.', '-' or '_', with a letter or digit.
bool isDomainName(std::string_view domain) {
  bool ok = !domain.empty() && domain.size() <= kMaxAccountDomain;
  bool hasAlnum = false;
  for (char c : domain) {
    ok = ok && isDomainCharacter(c);
    hasAlnum = hasAlnum || std::isalnum(static_cast<unsigned char>(c));
  }
  return ok && hasAlnum;
}

// 1 to 256 printable ASCII characters, none of those account names forbid.
bool isAccountName(std::string_view name) {
  bool ok = !name.empty() && name.size() <= kMaxAccountName;
  for (char c : name) ok = ok && isPlainAscii(c) && !isForbiddenInName(c) && c != '$';
  return ok;
}

}  // namespace

bool parseServiceAccount(std::string_view text, ServiceAccount& out, std::string& why) {
  const std::pair<std::string_view, AccountKind> keywords[] = {
      {kLocalSystem, AccountKind::localSystem},
      {kLocalService, AccountKind::localService},
      {kNetworkService, AccountKind::networkService},
      {kVirtual, AccountKind::virtualAccount},
  };
  for (const auto& [word, kind] : keywords) {
    if (equalsIgnoringCase(text, word)) {
      out = ServiceAccount{kind, {}};
      return true;
    }
  }
  size_t slash = text.find('\\');
  size_t at = text.find('@');
  if (slash == std::string_view::npos && at != std::string_view::npos) {
    // user@domain: the domain is a DNS name.
    if (!isAccountName(text.substr(0, at)) || !isDomainName(text.substr(at + 1))) {
      why = quoted(text) + " is not a user account \"user@domain\" the service can run as" + kAccountForms;
      return false;
    }
    out = ServiceAccount{AccountKind::user, std::string(text)};
    return true;
  }
  if (slash == std::string_view::npos || text.find('\\', slash + 1) != std::string_view::npos) {
    why = quoted(text) + " is not an account the service can run as" + kAccountForms;
    return false;
  }
  std::string_view domain = text.substr(0, slash);
  bool managed = !text.empty() && text.back() == '$';
  std::string_view name = text.substr(slash + 1, text.size() - slash - 1 - (managed ? 1 : 0));
  if (!(domain == "." && !managed) && !isDomainName(domain)) {
    why = "the domain of " + quoted(text) +
          " must be 1 to 255 letters, digits, '.', '-' or '_', with a letter or digit (or \".\" for this "
          "computer's own user accounts)" + kAccountForms;
    return false;
  }
  if (!isAccountName(name)) {
    why = "the account name of " + quoted(text) +
          " must be 1 to 256 printable ASCII characters without blanks or \"/\\[]:;|=,+*?<>@%$" +
          (managed ? ", followed by '$'" : "") + kAccountForms;
    return false;
  }
  out = ServiceAccount{managed ? AccountKind::managed : AccountKind::user, std::string(text)};
  return true;
}

bool parseFlagSetting(std::string_view text, bool& out, std::string& why) {
  if (text == "1" || text == "0") {
    out = text == "1";
    return true;
  }
  why = quoted(text) + " is neither 1 (true) nor 0 (false)";
  return false;
}

bool parseBoundedNumber(std::string_view text, uint64_t min, uint64_t max, uint64_t& out,
                        std::string& why) {
  bool digits = !text.empty() && text.size() <= 20 && !(text.size() > 1 && text[0] == '0');
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') {
      digits = false;
      break;
    }
    unsigned d = unsigned(c - '0');
    if (v > (UINT64_MAX - d) / 10) {
      digits = false;
      break;
    }
    v = v * 10 + d;
  }
  if (!digits) {
    why = quoted(text) + " is not a plain decimal number";
    return false;
  }
  if (v < min || v > max) {
    why = std::string(text) + " is outside " + std::to_string(min) + ".." + std::to_string(max);
    return false;
  }
  out = v;
  return true;
}

bool parseRecovery(std::string_view text, RecoverySetting& out, std::string& why) {
  std::vector<std::string_view> parts = splitFixed(text, 3);
  if (parts.empty()) {
    why = quoted(text) + " is not three numbers: restart delay, restarts, reset period";
    return false;
  }
  uint64_t delay = 0, restarts = 0, hours = 0;
  std::string detail;
  if (!parseBoundedNumber(parts[0], 0, kMaxRestartDelaySeconds, delay, detail)) {
    why = "restartDelaySeconds: " + detail;
    return false;
  }
  if (!parseBoundedNumber(parts[1], 1, kMaxRestarts, restarts, detail)) {
    why = "maxRestarts: " + detail;
    return false;
  }
  if (!parseBoundedNumber(parts[2], 1, kMaxResetPeriodHours, hours, detail)) {
    why = "resetPeriodHours: " + detail;
    return false;
  }
  out = RecoverySetting{uint32_t(delay), uint32_t(restarts), uint32_t(hours)};
  return true;
}

const char* rotationPeriodName(RotationPeriod period) {
  switch (period) {
    case RotationPeriod::day: return "day";
    case RotationPeriod::hour: return "hour";
    case RotationPeriod::none: break;
  }
  return nullptr;
}

bool parseOutputRotation(std::string_view text, OutputRotationSetting& out, std::string& why) {
  std::vector<std::string_view> parts = splitFixed(text, 2);
  if (parts.empty()) parts = splitFixed(text, 3);
  if (parts.empty()) {
    why = quoted(text) + " is not two numbers (size limit, files kept) with an optional day or hour";
    return false;
  }
  RotationPeriod every = RotationPeriod::none;
  if (parts.size() == 3) {
    if (parts[2] == "day") every = RotationPeriod::day;
    else if (parts[2] == "hour") every = RotationPeriod::hour;
    else {
      why = "every: " + quoted(parts[2]) + " is neither \"day\" nor \"hour\"";
      return false;
    }
  }
  uint64_t bytes = 0, keep = 0;
  std::string detail;
  // A time rule may stand alone: no size limit is 0.
  if (!(every != RotationPeriod::none && parts[0] == "0") &&
      !parseBoundedNumber(parts[0], kMinRotationBytes, kMaxRotationBytes, bytes, detail)) {
    why = "maxBytes: " + detail;
    return false;
  }
  if (!parseBoundedNumber(parts[1], 1, kMaxRotationKeep, keep, detail)) {
    why = "keep: " + detail;
    return false;
  }
  out = OutputRotationSetting{bytes, uint32_t(keep), every};
  return true;
}

bool checkDisplayName(std::u16string_view name, std::string& why) {
  if (name.empty() || name.size() > kMaxDisplayName) {
    why = "a display name must be 1 to " + std::to_string(kMaxDisplayName) + " characters long";
    return false;
  }
  for (char16_t c : name) {
    if (c < 0x20 || c == 0x7F) {
      why = "a display name cannot hold a control character";
      return false;
    }
  }
  return true;
}

std::string serviceAccountText(const ServiceAccount& account) {
  switch (account.kind) {
    case AccountKind::localSystem: return std::string(kLocalSystem);
    case AccountKind::localService: return std::string(kLocalService);
    case AccountKind::networkService: return std::string(kNetworkService);
    case AccountKind::virtualAccount: return std::string(kVirtual);
    case AccountKind::managed:
    case AccountKind::user: return account.name;
  }
  return std::string();
}

std::string recoveryText(const RecoverySetting& r) {
  return std::to_string(r.restartDelaySeconds) + "," + std::to_string(r.maxRestarts) + "," +
         std::to_string(r.resetPeriodHours);
}

std::string outputRotationText(const OutputRotationSetting& r) {
  std::string text = std::to_string(r.maxBytes) + "," + std::to_string(r.keep);
  if (const char* every = rotationPeriodName(r.every)) text += std::string(",") + every;
  return text;
}

bool parseTimeoutSetting(ConfigKey key, std::string_view text, uint32_t& out, std::string& why) {
  bool stop = key == ConfigKey::stopTimeoutSeconds;
  uint64_t n = 0;
  if (!parseBoundedNumber(text, stop ? 0 : 1, stop ? kMaxStopTimeoutSeconds : kMaxPreshutdownTimeoutSeconds,
                          n, why))
    return false;
  out = uint32_t(n);
  return true;
}

const std::string* storedSetting(const ConfigTables& config, ConfigKey key) {
  auto it = config.narrow.find(int32_t(key));
  return it == config.narrow.end() ? nullptr : &it->second;
}

ServiceSettings readServiceSettings(const ConfigTables& config, std::vector<DamagedSetting>& damaged) {
  ServiceSettings s;
  auto stored = [&](ConfigKey key) { return storedSetting(config, key); };
  auto damage = [&](ConfigKey key, std::string why) {
    damaged.push_back(DamagedSetting{findKeyByNumber(int32_t(key), false)->name, std::move(why)});
  };
  std::string why;
  if (const std::string* t = stored(ConfigKey::serviceAccount)) {
    ServiceAccount a;
    if (parseServiceAccount(*t, a, why)) s.account = a; else damage(ConfigKey::serviceAccount, why);
  }
  if (const std::string* t = stored(ConfigKey::interactive)) {
    bool b = false;
    if (parseFlagSetting(*t, b, why)) s.interactive = b; else damage(ConfigKey::interactive, why);
  }
  if (const std::string* t = stored(ConfigKey::recovery)) {
    RecoverySetting r;
    if (parseRecovery(*t, r, why)) s.recovery = r; else damage(ConfigKey::recovery, why);
  }
  if (const std::string* t = stored(ConfigKey::delayedAutoStart)) {
    bool b = false;
    if (parseFlagSetting(*t, b, why)) s.delayedAutoStart = b;
    else damage(ConfigKey::delayedAutoStart, why);
  }
  for (ConfigKey key : {ConfigKey::preshutdownTimeoutSeconds, ConfigKey::stopTimeoutSeconds}) {
    const std::string* t = stored(key);
    uint32_t n = 0;
    if (t == nullptr) continue;
    if (!parseTimeoutSetting(key, *t, n, why)) {
      damage(key, why);
    } else if (key == ConfigKey::stopTimeoutSeconds) {
      s.stopTimeoutSeconds = n;
    } else {
      s.preshutdownTimeoutSeconds = n;
    }
  }
  if (const std::string* t = stored(ConfigKey::outputRotation)) {
    OutputRotationSetting r;
    if (parseOutputRotation(*t, r, why)) s.outputRotation = r;
    else damage(ConfigKey::outputRotation, why);
  }
  if (const std::string* t = stored(ConfigKey::eventLog)) {
    bool b = false;
    if (parseFlagSetting(*t, b, why)) s.eventLog = b; else damage(ConfigKey::eventLog, why);
  }
  auto display = config.wide.find(int32_t(WideKey::displayName));
  if (display != config.wide.end()) {
    if (checkDisplayName(display->second, why)) s.displayName = display->second;
    else damaged.push_back(DamagedSetting{findKeyByNumber(display->first, true)->name, why});
  }
  return s;
}

std::string damagedSettingLine(const DamagedSetting& d) {
  return "setting " + std::string(d.name) + " ignored, its stored value is damaged: " + d.why;
}

bool isLocalSystemName(std::string_view account) {
  return account.empty() || equalsIgnoringCase(account, kLocalSystem) ||
         equalsIgnoringCase(account, ".\\LocalSystem") || equalsIgnoringCase(account, "NT AUTHORITY\\SYSTEM");
}

std::string accountObjectName(const ServiceAccount& account, std::string_view serviceName) {
  switch (account.kind) {
    case AccountKind::localSystem: return std::string(kLocalSystem);
    case AccountKind::localService: return "NT AUTHORITY\\LocalService";
    case AccountKind::networkService: return "NT AUTHORITY\\NetworkService";
    case AccountKind::virtualAccount: return "NT SERVICE\\" + std::string(serviceName);
    case AccountKind::managed:
    case AccountKind::user: return account.name;
  }
  return std::string();
}

InstallPlan planServiceInstall(const ServiceSettings& settings, std::string_view serviceName,
                               bool automaticStart) {
  InstallPlan plan;
  bool localSystem = !settings.account || settings.account->kind == AccountKind::localSystem;
  // The system refuses interactive services under any other account.
  bool interactive = localSystem && settings.interactive.value_or(true);
  plan.serviceType = scm::kOwnProcess | (interactive ? scm::kInteractiveProcess : 0);
  // LocalSystem is given as no account at all, as the launcher always did,
  // so that its registration stays what it was.
  if (!localSystem) plan.accountName = accountObjectName(*settings.account, serviceName);
  plan.needsPassword = !localSystem && settings.account->kind == AccountKind::user;
  plan.displayName = settings.displayName.value_or(std::u16string());
  if (settings.recovery) {
    const RecoverySetting& r = *settings.recovery;
    FailureActionsPlan f;
    f.resetPeriodSeconds = r.resetPeriodHours * 3600u;
    // One restart per allowed failure, then nothing: the system repeats the
    // last action for every later failure, so the service stays stopped
    // until the failure count is reset.
    f.actions.assign(r.maxRestarts, FailureAction{scm::kActionRestart, r.restartDelaySeconds * 1000u});
    f.actions.push_back(FailureAction{scm::kActionNone, 0});
    plan.failureActions = std::move(f);
  }
  plan.delayedAutoStart = automaticStart && settings.delayedAutoStart.value_or(false);
  if (settings.preshutdownTimeoutSeconds)
    plan.preshutdownTimeoutMilliseconds = *settings.preshutdownTimeoutSeconds * 1000u;
  return plan;
}
