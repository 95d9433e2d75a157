// What `/status` prints about an installed service, and its exit code: the
// pure half. The Win32 side (service/status_command_win.cpp) gathers the
// facts from the service control manager, the registry and the installed
// executable; the lines and the exit code are made here. See
// docs/service-commands.md.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_block.h"
#include "config/service_settings.h"

// The exit codes of `/status`, for scripts.
inline constexpr int kStatusRunning = 0;
inline constexpr int kStatusQueryFailed = 1;  // the manager or the service could not be queried
inline constexpr int kStatusNotInstalled = 2;
inline constexpr int kStatusStopped = 3;
inline constexpr int kStatusPending = 4;  // start, stop, pause or continue pending, or paused

// The service control manager's states and start types, repeated so that
// the rules need no system headers.
namespace scmState {
inline constexpr uint32_t kStopped = 1;
inline constexpr uint32_t kStartPending = 2;
inline constexpr uint32_t kStopPending = 3;
inline constexpr uint32_t kRunning = 4;
inline constexpr uint32_t kContinuePending = 5;
inline constexpr uint32_t kPausePending = 6;
inline constexpr uint32_t kPaused = 7;
inline constexpr uint32_t kAutoStart = 2;
inline constexpr uint32_t kDemandStart = 3;
inline constexpr uint32_t kDisabled = 4;
}  // namespace scmState

// The exit code for a service in `state` (an unknown state counts as pending).
int statusExitCode(uint32_t state);

// "running", "stopped", "start pending", ...; "state <n>" for others.
std::string serviceStateName(uint32_t state);

// "automatic", "automatic, delayed", "on demand", "disabled", "boot",
// "system"; "start type <n>" for others. `delayed` is what the system
// stores; unknown (nullopt) and false both show plain "automatic".
std::string startTypeName(uint32_t startType, std::optional<bool> delayed);

// The failure actions as the system stores them: "none", or each action
// ("restart after 60 s", "reboot after 0 s", "run the command after 5 s",
// "none") separated by ", ", then "; failure count reset after N s".
std::string failureActionsText(const FailureActionsPlan& actions);

// Where the service's standard output and error go, from the installed
// executable's configuration block: keys 102-105 (a relative name taken
// from `exeDirectory`, which ends in a backslash) and key 30007's rotation.
// One text each for output and error: the path, "not redirected", and the
// rotation when there is one ("..., rotated at N bytes, keeping .1 to .K").
struct OutputFiles {
  std::string output;
  std::string error;
};
OutputFiles outputFilesText(const ConfigTables& block, std::string_view exeDirectory);

// The diagnostic log of the service's process as the machine environment
// decides it (KERNO_LOG or BRINDLE_LOG exactly "yes"): off, or its file
// name pattern in `tempDirectory` (the process id filled in when `processId`
// is not 0) with the fallback c:\brd_nlog. An empty `tempDirectory` stands
// for the TMP directory of `account`, which cannot be read from here.
std::string diagnosticLogText(bool on, std::string_view tempDirectory, std::string_view account,
                              uint32_t processId);

// The image path as registered, cut to the executable's file name: the text
// inside leading double quotes, else everything up to and including the
// first ".exe" (any case) that ends the text or is followed by a blank, else
// the whole text.
std::string imageFileOfCommandLine(std::string_view imagePath);

// Everything `/status` found out. A field left empty with its `...Problem`
// set is shown as "unknown (<problem>)".
struct StatusCommandFacts {
  std::string name;
  uint32_t state = 0;
  uint32_t processId = 0;
  uint32_t win32ExitCode = 0;
  uint32_t startType = 0;
  std::optional<bool> delayedAutoStart;
  std::string account;
  std::optional<FailureActionsPlan> failureActions;
  std::string failureActionsProblem;
  std::string imagePath;
  std::string madeFrom;
  std::string madeFromProblem;
  std::string diagnosticLog;
  bool eventLogKnown = false;  // the block could be read
  bool eventLog = false;       // key 30020 is on
  std::optional<OutputFiles> outputFiles;
  std::string blockProblem;    // why the block could not be read
  bool startCache = false;     // key 30032 is on
  // The service's class-data archives and their sizes in bytes.
  std::vector<std::pair<std::string, uint64_t>> startCacheArchives;
};

// "off", "on, no archive yet", or each archive with its size in KiB or MiB
// ("C:\ProgramData\kerno-start-cache-Svc\Svc-0123456789abcdef.jsa, 4.5 MiB").
std::string startCacheText(bool on, const std::vector<std::pair<std::string, uint64_t>>& archives);

// The lines (without line ends) `/status` prints.
std::vector<std::string> formatStatusCommand(const StatusCommandFacts& report);
