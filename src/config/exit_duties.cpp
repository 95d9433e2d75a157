#include "config/exit_duties.h"

namespace {

// The order of the duties: the one place that states it.
constexpr ExitDuty kExitDutyOrder[] = {ExitDuty::handOverExtractedFiles,
                                       ExitDuty::reportServiceFailed};
static_assert(sizeof kExitDutyOrder / sizeof kExitDutyOrder[0] == kExitDutyCount);

bool dueAt(ExitDuty duty, ExitMoment moment) {
  switch (duty) {
    // After a fatal message the files were handed over just before it.
    case ExitDuty::handOverExtractedFiles: return moment != ExitMoment::fatalEnd;
    // Only an end that is a failure reports the service stopped with code 1;
    // a message alone leaves it running.
    case ExitDuty::reportServiceFailed:
      return moment == ExitMoment::fatalEnd || moment == ExitMoment::exitFailure;
  }
  return false;
}

}  // namespace

void setExitDuty(ExitDutyTable& table, ExitDuty duty, ExitDutyFunction function) {
  table.functions[static_cast<std::size_t>(duty)] = function;
}

void runExitDuties(const ExitDutyTable& table, ExitMoment moment) {
  for (ExitDuty duty : kExitDutyOrder) {
    ExitDutyFunction function = table.functions[static_cast<std::size_t>(duty)];
    if (function && dueAt(duty, moment)) function();
  }
}
