// The key table of the configuration block: every key the launcher or the
// packer knows, with its number, name, type and the packer's default.
#pragma once

#include <cstdint>
#include <string_view>

// Keys of the narrow section. Code reads keys by these names, never by number.
enum class ConfigKey : int32_t {
  serviceName = 101,
  stdoutRedirect = 102,
  stdoutFile = 103,
  stderrRedirect = 104,
  stderrFile = 105,
  extraLauncherFlag = 106,
  executableType = 107,
  classPath = 121,
  mainClass = 122,
  vmParameters = 123,
  arguments = 124,
  commandLineVmOptions = 125,
  minJavaVersion = 126,
  maxJavaVersion = 127,
  jreSearchSequence = 128,
  allowBetaJre = 130,
  requireJdk = 131,
  workingDirectory = 146,
  serviceDependencies = 149,
  preferredVmType = 152,
  MSG_ERROR_CAPTION = 1000,
  MSG_NO_JVM = 1001,
  MSG_PATH_JVM_DAMAGED = 1002,
  MSG_ENV_VAR_JVM_INVALID = 1003,
  MSG_DEFINED_JVM_DAMAGED = 1004,
  MSG_JVM_START_FAILED = 1005,
  MSG_FILE_NOT_FOUND = 1006,
  MSG_WRONG_PARAMETERS = 1007,
  MSG_ENV_VAR_UNDEFINED = 1008,
  MSG_INTERNAL_ERROR = 1009,
  MSG_MAIN_CLASS_NOT_LOADED = 1010,
  MSG_MAIN_METHOD_NOT_FOUND = 1011,
  MSG_ERROR_DIALOG_CAPTION = 1012,
  MSG_ERROR_DIALOG_OK = 1013,
  MSG_ERROR_DIALOG_TEXT = 1014,
  launcherFlavour = 2001,
  includedFileCount = 2002,
  includedFileNames = 2003,
  installationDirectory = 10003,
  pathPrefix = 10004,
  useProcessCommFile = 10005,
  // Production settings of the service (config/service_settings.h); no
  // record means today's behaviour.
  serviceAccount = 30001,
  interactive = 30002,
  recovery = 30003,
  delayedAutoStart = 30004,
  preshutdownTimeoutSeconds = 30005,
  stopTimeoutSeconds = 30006,
  outputRotation = 30007,
  eventLog = 30020,
  // The watchdog (service/watchdog_rules.h).
  threadDumpControlCode = 30021,
  startupProbe = 30022,
  livenessProbe = 30023,
  onLivenessFailure = 30024,
  // What the service process and its VM are given (config/launch_settings.h).
  environment = 30025,
  vmOptions = 30027,
  // The static method called at a stop (config/stop_method_setting.h).
  stopMethod = 30029,
};

// Keys of the wide (UTF-16) section.
enum class WideKey : int32_t {
  wideErrorCaption = 20013,
  serviceDescription = 20017,
  // The name the service manager shows; absent: the service name.
  displayName = 30026,
};

// `setting`: a narrow text with a form of its own, checked by
// config/service_settings.h; the service description gives it as JSON
// values of its own kind (booleans, numbers, objects).
enum class ValueType { text, integer, list, wideText, setting };

struct KeyInfo {
  int32_t number;
  std::string_view name;
  ValueType type;
  char separator;              // list keys only
  // What the packer writes when a service description leaves the key out;
  // nullptr: nothing is written. Default texts are given in UTF-8.
  const char* packDefault;
};

// All known keys, narrow ones first, then the wide ones; ordered by number
// within each section.
const KeyInfo* keyTableBegin();
const KeyInfo* keyTableEnd();

// Lookups; nullptr when the name or number is not in the table.
const KeyInfo* findKeyByName(std::string_view name);
const KeyInfo* findKeyByNumber(int32_t number, bool wide);

// Placeholders of the message texts.
inline constexpr std::string_view kPlaceholderErrorCode = "%ERROR_CODE%";
inline constexpr std::string_view kPlaceholderEnvVarName = "%ENV_VAR_NAME%";
inline constexpr std::string_view kPlaceholderDefinedPath = "%DEFINED_PATH%";
inline constexpr std::string_view kPlaceholderFileName = "%FILE_NAME%";

// Values of key 107 (executableType) that change behaviour.
inline constexpr int kExecutableTypeGui = 1;       // message boxes, javaw.exe probes
inline constexpr int kExecutableTypeAutoStart = 4; // bare "install" is automatic start
inline constexpr int kExecutableTypeMessageBox = 5;

// The launcher flavour, chosen by key 2001 (launcherFlavour). It picks the
// product-home variable, the brindle system property, runtime jar and
// first-run hook.
enum class LauncherFlavour { none, kerno, brindle };

// The flavour of a key 2001 value: its first character, 'e' for kerno and
// 'i' for brindle; anything else (an empty value too) is neither.
LauncherFlavour parseLauncherFlavour(std::string_view value);
