// Exit-time duties: work owned by subsystems above the message path that must
// be done when a message is shown or the process ends through the fatal-error
// path (handing the extracted files to deferred deletion, reporting the
// service stopped). Each owner registers its duty when it starts; the message
// path runs whatever is registered, in the one order kept here, and depends
// on none of the owners.
#pragma once

#include <array>
#include <cstddef>

enum class ExitDuty {
  handOverExtractedFiles,  // files/: extracted files to deferred deletion
  reportServiceFailed,     // service/: reported stopped with Win32 exit code 1
};
inline constexpr std::size_t kExitDutyCount = 2;

// When the message path runs duties.
enum class ExitMoment {
  message,      // before every message, fatal or not
  fatalEnd,     // after a fatal message, before the process ends with 1
  exitSuccess,  // exitLauncher with exit code 0
  exitFailure,  // exitLauncher with any other exit code
};

using ExitDutyFunction = void (*)();

// One function per duty; none until its owner registers it.
struct ExitDutyTable {
  std::array<ExitDutyFunction, kExitDutyCount> functions{};
};

// Registers the function of a duty, replacing an earlier one.
void setExitDuty(ExitDutyTable& table, ExitDuty duty, ExitDutyFunction function);

// Runs the registered duties that are due at `moment`. The files are always
// handed over before the service is reported stopped, so that the service
// manager hears of the stop only once the deletion list is written.
void runExitDuties(const ExitDutyTable& table, ExitMoment moment);
