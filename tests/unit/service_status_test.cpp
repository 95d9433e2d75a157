#include "service/service_status.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Step {
  ServiceEvent event;
  uint32_t control;
  uint32_t state;
  uint32_t exitCode;
  uint32_t checkPoint;
  bool report;
  bool signalStop;
};

// Walks the service runtime's life cycles through the table.
void walk(const char* name, const std::vector<Step>& steps) {
  ServiceStatusRecord record;
  record.currentState = 0;  // not registered yet
  for (size_t i = 0; i < steps.size(); ++i) {
    const Step& s = steps[i];
    ServiceTransition t = applyServiceEvent(record, s.event, s.control);
    EXPECT_EQ(t.record.currentState, s.state) << name << " step " << i;
    EXPECT_EQ(t.record.win32ExitCode, s.exitCode) << name << " step " << i;
    EXPECT_EQ(t.record.checkPoint, s.checkPoint) << name << " step " << i;
    EXPECT_EQ(t.report, s.report) << name << " step " << i;
    EXPECT_EQ(t.signalStop, s.signalStop) << name << " step " << i;
    EXPECT_EQ(t.cleanupFiles, s.signalStop) << name << " step " << i;
    EXPECT_EQ(t.record.controlsAccepted, svc::kAcceptStopAndShutdown);
    EXPECT_EQ(t.record.waitHint, svc::kWaitHintMs);
    EXPECT_EQ(t.record.serviceType, svc::kWin32);
    // The event log's stop entry: only the step that ends a run with code 0.
    bool cleanStop = record.currentState != svc::kStopped &&
                     t.record.currentState == svc::kStopped && t.record.win32ExitCode == 0;
    EXPECT_EQ(t.stoppedCleanly, cleanStop) << name << " step " << i;
    record = t.record;
  }
}

using E = ServiceEvent;
constexpr uint32_t kInterrogate = 4, kPause = 2;

TEST(ServiceStatus, LifeCycles) {
  walk("no Java", {
      {E::started, 0, svc::kRunning, 0, 0, true, false},
      {E::launchFailed, 0, svc::kStopped, 1, 0, true, false},
      // The dispatcher returns and the process ends: nothing more to report.
      {E::processExit, 0, svc::kStopped, 1, 0, false, false},
  });
  walk("stopped by the service control manager", {
      {E::started, 0, svc::kRunning, 0, 0, true, false},
      {E::launchSucceeded, 0, svc::kRunning, 0, 0, true, false},
      {E::control, kInterrogate, svc::kRunning, 0, 0, true, false},
      {E::control, kPause, svc::kRunning, 0, 0, true, false},
      {E::control, svc::kControlStop, svc::kStopPending, 0, 0, true, true},
      {E::processExit, 0, svc::kStopped, 0, 0, true, false},
  });
  walk("shutdown counts a checkpoint", {
      {E::started, 0, svc::kRunning, 0, 0, true, false},
      {E::launchSucceeded, 0, svc::kRunning, 0, 0, true, false},
      {E::control, svc::kControlShutdown, svc::kStopPending, 0, 1, true, true},
      {E::control, svc::kControlShutdown, svc::kStopPending, 0, 2, true, true},
      {E::vmExitReturned, 0, svc::kStopped, 0, 2, true, false},
  });
  walk("stop while main still runs stays pending", {
      {E::started, 0, svc::kRunning, 0, 0, true, false},
      {E::control, svc::kControlStop, svc::kStopPending, 0, 0, true, true},
      {E::launchSucceeded, 0, svc::kStopPending, 0, 0, false, false},
      {E::processExit, 0, svc::kStopped, 0, 0, true, false},
  });
  walk("a fatal error while running is a failure, not a clean stop", {
      {E::started, 0, svc::kRunning, 0, 0, true, false},
      {E::fatalExit, 0, svc::kStopped, 1, 0, true, false},
      {E::processExit, 0, svc::kStopped, 1, 0, false, false},
  });
  walk("a fatal error after a stop was reported changes nothing", {
      {E::started, 0, svc::kRunning, 0, 0, true, false},
      {E::launchFailed, 0, svc::kStopped, 1, 0, true, false},
      {E::fatalExit, 0, svc::kStopped, 1, 0, false, false},
  });
  walk("the application exits by itself", {
      {E::started, 0, svc::kRunning, 0, 0, true, false},
      {E::launchSucceeded, 0, svc::kRunning, 0, 0, true, false},
      {E::processExit, 0, svc::kStopped, 0, 0, true, false},
  });
}

}  // namespace
