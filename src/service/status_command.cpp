#include "service/status_command.h"

#include <cstddef>

#include "config/config_store.h"
#include "config/path_text.h"

int statusExitCode(uint32_t state) {
  switch (state) {
    case scmState::kRunning: return kStatusRunning;
    case scmState::kStopped: return kStatusStopped;
    default: return kStatusPending;
  }
}

std::string serviceStateName(uint32_t state) {
  switch (state) {
    case scmState::kStopped: return "stopped";
    case scmState::kStartPending: return "start pending";
    case scmState::kStopPending: return "stop pending";
    case scmState::kRunning: return "running";
    case scmState::kContinuePending: return "continue pending";
    case scmState::kPausePending: return "pause pending";
    case scmState::kPaused: return "paused";
    default: return "state " + std::to_string(state);
  }
}

std::string startTypeName(uint32_t startType, std::optional<bool> delayed) {
  switch (startType) {
    case 0: return "boot";
    case 1: return "system";
    case scmState::kAutoStart: return delayed.value_or(false) ? "automatic, delayed" : "automatic";
    case scmState::kDemandStart: return "on demand";
    case scmState::kDisabled: return "disabled";
    default: return "start type " + std::to_string(startType);
  }
}

std::string failureActionsText(const FailureActionsPlan& plan) {
  if (plan.actions.empty()) return "none";
  std::string out;
  for (const FailureAction& a : plan.actions) {
    if (!out.empty()) out += ", ";
    switch (a.type) {
      case scm::kActionNone: out += "none"; continue;
      case scm::kActionRestart: out += "restart"; break;
      case 2: out += "reboot"; break;
      case 3: out += "run the command"; break;
      default: out += "action " + std::to_string(a.type); break;
    }
    out += " after " + std::to_string(a.delayMilliseconds / 1000) + " s";
  }
  return out + "; failure count reset after " + std::to_string(plan.resetPeriodSeconds) + " s";
}

namespace {

// One redirected stream as the service run hands it to the Java side: the
// file when the redirect key is not 0 and a name is given.
std::string streamText(const ConfigTables& block, ConfigKey redirect, ConfigKey file,
                       std::string_view exeDirectory, const std::string& rotation) {
  std::string name = getConfigString(block, file);
  if (getConfigInt(block, redirect) == 0 || name.empty()) return "not redirected";
  return appendExeRelative(exeDirectory, name) + rotation;
}

}  // namespace

OutputFiles outputFilesText(const ConfigTables& block, std::string_view exeDirectory) {
  std::vector<DamagedSetting> damaged;
  ServiceSettings settings = readServiceSettings(block, damaged);
  std::string rotation;
  if (settings.outputRotation) {
    const OutputRotationSetting& r = *settings.outputRotation;
    std::string bytes = std::to_string(r.maxBytes) + " bytes";
    if (const char* every = rotationPeriodName(r.every)) {
      rotation = ", rotated every " + std::string(every) + (r.maxBytes ? " and at " + bytes : "") +
                 ", keeping " + std::to_string(r.keep) + " dated files";
    } else {
      rotation = ", rotated at " + bytes + ", keeping .1 to ." + std::to_string(r.keep);
    }
  }
  return OutputFiles{
      streamText(block, ConfigKey::stdoutRedirect, ConfigKey::stdoutFile, exeDirectory, rotation),
      streamText(block, ConfigKey::stderrRedirect, ConfigKey::stderrFile, exeDirectory, rotation)};
}

std::string diagnosticLogText(bool on, std::string_view tempDirectory, std::string_view account,
                              uint32_t processId) {
  if (!on) return "off (KERNO_LOG and BRINDLE_LOG are not \"yes\" in the machine environment)";
  std::string pid = processId != 0 ? std::to_string(processId) : std::string("<pid>");
  std::string directory = tempDirectory.empty()
                              ? "the TMP directory of " + std::string(account)
                              : std::string(tempDirectory);
  return "brd_nlog_" + pid + "_<n> in " + directory + ", else c:\\brd_nlog";
}

std::string imageFileOfCommandLine(std::string_view imagePath) {
  if (!imagePath.empty() && imagePath[0] == '"') {
    size_t close = imagePath.find('"', 1);
    return std::string(imagePath.substr(1, close == std::string_view::npos ? close : close - 1));
  }
  for (size_t i = 0; i + 4 <= imagePath.size(); ++i) {
    if (!hasExeSuffix(imagePath.substr(0, i + 4))) continue;
    if (i + 4 == imagePath.size() || imagePath[i + 4] == ' ' || imagePath[i + 4] == '\t')
      return std::string(imagePath.substr(0, i + 4));
  }
  return std::string(imagePath);
}

std::vector<std::string> formatStatusCommand(const StatusCommandFacts& r) {
  auto known = [](const std::string& value, const std::string& problem) {
    return value.empty() && !problem.empty() ? "unknown (" + problem + ")" : value;
  };
  std::string state = serviceStateName(r.state);
  if (r.state == scmState::kStopped && r.win32ExitCode != 0)
    state += " (exit code " + std::to_string(r.win32ExitCode) + ")";
  std::string failure = r.failureActions ? failureActionsText(*r.failureActions)
                                         : known("", r.failureActionsProblem);
  std::string unreadable = "unknown (" + r.blockProblem + ")";
  std::string eventLog = !r.eventLogKnown ? unreadable
                         : r.eventLog     ? "Application log, source '" + r.name + "'"
                                          : "off";
  return {
      "Service '" + r.name + "'",
      "  State:           " + state,
      "  Process id:      " + (r.processId != 0 ? std::to_string(r.processId) : "none"),
      "  Start type:      " + startTypeName(r.startType, r.delayedAutoStart),
      "  Account:         " + r.account,
      "  Failure actions: " + failure,
      "  Image path:      " + r.imagePath,
      "  Made from:       " + known(r.madeFrom, r.madeFromProblem),
      "  Diagnostic log:  " + r.diagnosticLog,
      "  Event log:       " + eventLog,
      "  Standard output: " + (r.outputFiles ? r.outputFiles->output : unreadable),
      "  Standard error:  " + (r.outputFiles ? r.outputFiles->error : unreadable),
  };
}
