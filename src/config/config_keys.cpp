#include "config/config_keys.h"

#include <iterator>

namespace {

constexpr ValueType T = ValueType::text;
constexpr ValueType I = ValueType::integer;
constexpr ValueType L = ValueType::list;
constexpr ValueType W = ValueType::wideText;
constexpr ValueType S = ValueType::setting;

// The shipped launcher's values, except the Java version bounds, which a new
// service leaves open so that it accepts any Java.
const KeyInfo kKeys[] = {
    {101, "serviceName", T, 0, nullptr},
    {102, "stdoutRedirect", I, 0, "1"},
    {103, "stdoutFile", T, 0, "logs\\service-output.log"},
    {104, "stderrRedirect", I, 0, "1"},
    {105, "stderrFile", T, 0, "logs\\service-output.log"},
    {106, "extraLauncherFlag", I, 0, "0"},
    {107, "executableType", I, 0, "3"},
    {121, "classPath", L, ';', nullptr},
    {122, "mainClass", T, 0, nullptr},
    {123, "vmParameters", T, 0, " -Xrs"},
    {124, "arguments", T, 0, ""},
    // Off for a new service: -J start parameters as VM options let whoever
    // may start the service run code with its rights (-J-javaagent:...).
    {125, "commandLineVmOptions", I, 0, "0"},
    {126, "minJavaVersion", T, 0, nullptr},
    {127, "maxJavaVersion", T, 0, nullptr},
    {128, "jreSearchSequence", L, ';', "B.\\jre;Y;EJAVA_HOME;EJDK_HOME;"},
    {130, "allowBetaJre", I, 0, "0"},
    {131, "requireJdk", I, 0, "0"},
    {146, "workingDirectory", T, 0, "."},
    {149, "serviceDependencies", L, ',', ""},
    {152, "preferredVmType", T, 0, "server"},
    {1000, "MSG_ERROR_CAPTION", T, 0, "Error"},
    {1001, "MSG_NO_JVM", T, 0,
     "No JVM could be found on your system.\r\nPlease define KERNO_JAVA_HOME\r\n"
     "to point to an installed JDK or JRE or download a JRE from https://adoptium.net/."},
    {1002, "MSG_PATH_JVM_DAMAGED", T, 0,
     "The JVM found in your path is damaged.\r\nPlease reinstall or define KERNO_JAVA_HOME\r\n"
     "to point to an installed JDK or JRE."},
    {1003, "MSG_ENV_VAR_JVM_INVALID", T, 0,
     "The %ENV_VAR_NAME% envionment variable does not\r\npoint to a working JDK or JRE."},
    {1004, "MSG_DEFINED_JVM_DAMAGED", T, 0,
     "The JVM found at %DEFINED_PATH% is damaged.\r\nPlease reinstall or define KERNO_JAVA_HOME\r\n"
     "to point to an installed JDK or JRE."},
    {1005, "MSG_JVM_START_FAILED", T, 0,
     "The JVM could not be started. The main method may have thrown an exception."},
    {1006, "MSG_FILE_NOT_FOUND", T, 0, "File or directory %FILE_NAME% not found or empty\r\n"},
    {1007, "MSG_WRONG_PARAMETERS", T, 0, "Wrong Parameter Usage"},
    {1008, "MSG_ENV_VAR_UNDEFINED", T, 0,
     "The environment variable %ENV_VAR_NAME% has to be defined"},
    {1009, "MSG_INTERNAL_ERROR", T, 0, "An internal error occurred (error code: %ERROR_CODE%)"},
    {1010, "MSG_MAIN_CLASS_NOT_LOADED", T, 0, "Couldn't load main class."},
    {1011, "MSG_MAIN_METHOD_NOT_FOUND", T, 0, "Main method not found."},
    {1012, "MSG_ERROR_DIALOG_CAPTION", T, 0, "Error"},
    {1013, "MSG_ERROR_DIALOG_OK", T, 0, "Ok"},
    // The packer appends the service name and ":" to this default.
    {1014, "MSG_ERROR_DIALOG_TEXT", T, 0, "An error occurred while starting up "},
    {2001, "launcherFlavour", T, 0, "i"},
    {2002, "includedFileCount", I, 0, "0"},
    {2003, "includedFileNames", L, ';', ""},
    {10003, "installationDirectory", T, 0, "."},
    {10004, "pathPrefix", L, ';', ""},
    {10005, "useProcessCommFile", I, 0, "0"},
    // No defaults but the event log's and recovery's: a block without them
    // behaves, and installs, as before; a new service gets the event log
    // and restarts after a failure (10 s, at most 3 times, reset after 24 h)
    // unless its description says otherwise (null: none; the launcher reads
    // an absent key as off).
    {30001, "serviceAccount", S, 0, nullptr},
    {30002, "interactive", S, 0, nullptr},
    {30003, "recovery", S, 0, "10,3,24"},
    {30004, "delayedAutoStart", S, 0, nullptr},
    {30005, "preshutdownTimeoutSeconds", S, 0, nullptr},
    {30006, "stopTimeoutSeconds", S, 0, nullptr},
    {30007, "outputRotation", S, 0, nullptr},
    {30020, "eventLog", S, 0, "1"},
    // Thread dumps cost nothing until asked for: on for packed services.
    {30021, "threadDumpControlCode", S, 0, "200"},
    {30022, "startupProbe", S, 0, nullptr},
    {30023, "livenessProbe", S, 0, nullptr},
    {30024, "onLivenessFailure", S, 0, nullptr},
    {30025, "environment", S, 0, nullptr},
    {30027, "vmOptions", S, 0, nullptr},
    {30029, "stopMethod", S, 0, nullptr},
    // A class-data archive per service: on for packed services.
    {30032, "startCache", S, 0, "1"},
    {20013, "wideErrorCaption", W, 0, nullptr},
    {20017, "serviceDescription", W, 0, ""},
    {30026, "displayName", W, 0, nullptr},
};

}  // namespace

const KeyInfo* keyTableBegin() { return std::begin(kKeys); }
const KeyInfo* keyTableEnd() { return std::end(kKeys); }

const KeyInfo* findKeyByName(std::string_view name) {
  for (const KeyInfo& k : kKeys) {
    if (k.name == name) return &k;
  }
  return nullptr;
}

const KeyInfo* findKeyByNumber(int32_t number, bool wide) {
  for (const KeyInfo& k : kKeys) {
    if (k.number == number && (k.type == ValueType::wideText) == wide) return &k;
  }
  return nullptr;
}

LauncherFlavour parseLauncherFlavour(std::string_view value) {
  if (value.empty()) return LauncherFlavour::none;
  switch (value[0]) {
    case 'e': return LauncherFlavour::kerno;
    case 'i': return LauncherFlavour::brindle;
    default: return LauncherFlavour::none;
  }
}
