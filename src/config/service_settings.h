// The production settings of a service (keys 30001-30007): how their values
// are stored in the configuration block, the checks that the packer and the
// launcher share, and the pure rules that turn them into what the service
// control manager is given at install and what the service runtime accepts.
// See docs/operations.md.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_block.h"
#include "config/config_keys.h"

// ASCII letters compared without case (account keywords, field names).
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// Bounds of the settings; a value outside them is refused by the packer and
// read as absent by the launcher.
inline constexpr uint32_t kMaxRestartDelaySeconds = 86400;
inline constexpr uint32_t kMaxRestarts = 100;
inline constexpr uint32_t kMaxResetPeriodHours = 8760;
inline constexpr uint32_t kMaxPreshutdownTimeoutSeconds = 3600;
inline constexpr uint32_t kMaxStopTimeoutSeconds = 86400;
inline constexpr uint64_t kMinRotationBytes = 1024;
inline constexpr uint64_t kMaxRotationBytes = uint64_t(1) << 40;
inline constexpr uint32_t kMaxRotationKeep = 999;
// Longest domain and account name of a group managed service account.
inline constexpr size_t kMaxAccountDomain = 255;
inline constexpr size_t kMaxAccountName = 256;
// The service manager's limit of a display name, in UTF-16 code units.
inline constexpr size_t kMaxDisplayName = 256;

// `user`: an account with a password, which is asked for at install and
// never stored.
enum class AccountKind { localSystem, localService, networkService, virtualAccount, managed, user };

struct ServiceAccount {
  AccountKind kind = AccountKind::localSystem;
  // As given: "DOMAIN\name$" (managed); "DOMAIN\user", ".\user" or
  // "user@domain" (user). Empty for the other kinds.
  std::string name;
};

struct RecoverySetting {
  uint32_t restartDelaySeconds = 0;
  uint32_t maxRestarts = 0;
  uint32_t resetPeriodHours = 0;
};

// The time rule of the output rotation: a new file each local day or hour.
enum class RotationPeriod { none, day, hour };

// maxBytes 0: no size rule (only with a time rule, which then turns alone).
struct OutputRotationSetting {
  uint64_t maxBytes = 0;
  uint32_t keep = 0;
  RotationPeriod every = RotationPeriod::none;
};

// "day", "hour"; nullptr for RotationPeriod::none.
const char* rotationPeriodName(RotationPeriod period);

// Parsers of the stored texts. On failure they leave `out` alone and say in
// `why` what is wrong, in words that name no key (the caller does).
bool parseServiceAccount(std::string_view text, ServiceAccount& out, std::string& why);
bool parseFlagSetting(std::string_view text, bool& out, std::string& why);  // "1" or "0"
// Plain decimal (no sign, blank or leading zero) from `min` to `max`.
bool parseBoundedNumber(std::string_view text, uint64_t min, uint64_t max, uint64_t& out,
                        std::string& why);
// Key 30005 (1..kMaxPreshutdownTimeoutSeconds) or 30006 (0..kMaxStopTimeoutSeconds).
bool parseTimeoutSetting(ConfigKey key, std::string_view text, uint32_t& out, std::string& why);
bool parseRecovery(std::string_view text, RecoverySetting& out, std::string& why);
// Key 30007: "maxBytes,keep" (by size), "maxBytes,keep,day|hour" (by size
// and time) or "0,keep,day|hour" (by time alone).
bool parseOutputRotation(std::string_view text, OutputRotationSetting& out, std::string& why);
// Wide key 30026: 1 to kMaxDisplayName code units, no control character.
bool checkDisplayName(std::u16string_view name, std::string& why);

// The stored texts, as the packer writes them.
std::string serviceAccountText(const ServiceAccount& account);
std::string recoveryText(const RecoverySetting& recovery);
std::string outputRotationText(const OutputRotationSetting& rotation);

struct ServiceSettings {
  std::optional<ServiceAccount> account;
  std::optional<bool> interactive;
  std::optional<RecoverySetting> recovery;
  std::optional<bool> delayedAutoStart;
  std::optional<uint32_t> preshutdownTimeoutSeconds;
  std::optional<uint32_t> stopTimeoutSeconds;
  std::optional<OutputRotationSetting> outputRotation;
  std::optional<bool> eventLog;
  std::optional<std::u16string> displayName;  // wide key 30026
};

// A setting whose stored value cannot be used: read as absent.
struct DamagedSetting {
  std::string_view name;  // the key's name, as in the service description
  std::string why;
};

// The stored text of a setting's key; nullptr when the block has none.
const std::string* storedSetting(const ConfigTables& config, ConfigKey key);

// Reads keys 30001-30007, 30020 and the wide key 30026. A damaged value leaves its setting absent and is
// named in `damaged`, in key order.
ServiceSettings readServiceSettings(const ConfigTables& config, std::vector<DamagedSetting>& damaged);

// The one line the launcher writes about a damaged setting.
std::string damagedSettingLine(const DamagedSetting& d);


// --- What the service control manager is given --------------------------------

// The system's values, repeated so that the rules need no system headers.
namespace scm {
inline constexpr uint32_t kOwnProcess = 0x10;
inline constexpr uint32_t kInteractiveProcess = 0x100;
inline constexpr uint32_t kActionNone = 0;
inline constexpr uint32_t kActionRestart = 1;
}  // namespace scm

struct FailureAction {
  uint32_t type = scm::kActionNone;
  uint32_t delayMilliseconds = 0;
  bool operator==(const FailureAction& o) const {
    return type == o.type && delayMilliseconds == o.delayMilliseconds;
  }
};

struct FailureActionsPlan {
  uint32_t resetPeriodSeconds = 0;
  std::vector<FailureAction> actions;
};

struct InstallPlan {
  uint32_t serviceType = scm::kOwnProcess | scm::kInteractiveProcess;
  // The account given to CreateService; empty: none (LocalSystem, as always).
  std::string accountName;
  // A user account: its password is asked for and handed over with it.
  bool needsPassword = false;
  // The name the service manager shows; empty: the service name.
  std::u16string displayName;
  // Set with the failure-actions flag on, so that a stop with a non-zero
  // exit code (a failed launch) counts as a failure too.
  std::optional<FailureActionsPlan> failureActions;
  bool delayedAutoStart = false;
  std::optional<uint32_t> preshutdownTimeoutMilliseconds;
};

// What `cmdInstall` hands the system for these settings. Delayed start is
// asked for only with `automaticStart`: it means nothing for other services.
InstallPlan planServiceInstall(const ServiceSettings& settings, std::string_view serviceName,
                               bool automaticStart);

// True for the names the service control manager takes for LocalSystem
// ("LocalSystem", ".\LocalSystem", "NT AUTHORITY\SYSTEM", any letter case);
// an empty name is LocalSystem too (CreateService without an account).
bool isLocalSystemName(std::string_view account);

// The account text the system shows (the registry's ObjectName).
std::string accountObjectName(const ServiceAccount& account, std::string_view serviceName);
