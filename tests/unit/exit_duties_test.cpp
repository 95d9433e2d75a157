#include "config/exit_duties.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string calls;
void handOver() { calls += 'F'; }  // files to deferred deletion
void reportFailed() { calls += 'S'; }  // service stopped with code 1

// What runs at each moment, in order, with both duties registered and with
// only one of them (outside a service run the service never registers).
TEST(ExitDuties, RunInTheirOrderWhenDueAndRegistered) {
  struct Case {
    ExitMoment moment;
    const char* both;
    const char* filesOnly;
  };
  const Case cases[] = {
      {ExitMoment::message, "F", "F"},
      {ExitMoment::fatalEnd, "S", ""},
      {ExitMoment::exitSuccess, "F", "F"},
      {ExitMoment::exitFailure, "FS", "F"},
  };
  for (const Case& c : cases) {
    ExitDutyTable table;
    // Registered in the opposite order: the order run is the table's own.
    setExitDuty(table, ExitDuty::reportServiceFailed, reportFailed);
    setExitDuty(table, ExitDuty::handOverExtractedFiles, handOver);
    calls.clear();
    runExitDuties(table, c.moment);
    EXPECT_EQ(calls, c.both) << static_cast<int>(c.moment);

    setExitDuty(table, ExitDuty::reportServiceFailed, nullptr);
    calls.clear();
    runExitDuties(table, c.moment);
    EXPECT_EQ(calls, c.filesOnly) << static_cast<int>(c.moment);
  }
  calls.clear();
  runExitDuties(ExitDutyTable{}, ExitMoment::exitFailure);
  EXPECT_EQ(calls, "");
}

}  // namespace
