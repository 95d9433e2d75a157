// The service runtime's decisions: the status table, the production
// settings and their install plan, the dependency list and binary path, the
// event log texts and the console events.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common/system_error.h"
#include "config/service_settings.h"
#include "service/console_events.h"
#include "service/dependency_list.h"
#include "service/event_log.h"
#include "service/status_command.h"
#include "service/scm_status_table.h"
#include "service/watchdog_rules.h"
#include "startup/command_line.h"

namespace {

using namespace std::string_literals;
using E = ServiceEvent;

// stoppedCleanly: the step that ends a run with code 0 (the event log's stop entry).
struct Step { ServiceEvent event; uint32_t control, state, exitCode, checkPoint; bool report, signalStop, stoppedCleanly; };

// Walks one life cycle of the service runtime through the table.
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
    EXPECT_EQ(t.stoppedCleanly, s.stoppedCleanly) << name << " step " << i;
    record = t.record;
  }
}

TEST(ServiceStatus, LifeCyclesFromStartToStop) {
  const uint32_t run = svc::kRunning, pending = svc::kStopPending, stopped = svc::kStopped;
  walk("no Java; a later fatal error or the process end changes nothing",
       {{E::started, 0, run, 0, 0, true, false, false}, {E::launchFailed, 0, stopped, 1, 0, true, false, false},
        {E::fatalExit, 0, stopped, 1, 0, false, false, false}, {E::processExit, 0, stopped, 1, 0, false, false, false}});
  walk("stopped by the service control manager",
       {{E::started, 0, run, 0, 0, true, false, false}, {E::launchSucceeded, 0, run, 0, 0, true, false, false},
        {E::control, 4 /* interrogate */, run, 0, 0, true, false, false},
        {E::control, svc::kControlStop, pending, 0, 0, true, true, false}, {E::processExit, 0, stopped, 0, 0, true, false, true}});
  walk("shutdown counts a checkpoint",
       {{E::started, 0, run, 0, 0, true, false, false}, {E::control, svc::kControlShutdown, pending, 0, 1, true, true, false},
        {E::control, svc::kControlShutdown, pending, 0, 2, true, true, false},
        {E::vmExitReturned, 0, stopped, 0, 2, true, false, true}});
  walk("stop while main still runs stays pending",
       {{E::started, 0, run, 0, 0, true, false, false}, {E::control, svc::kControlStop, pending, 0, 0, true, true, false},
        {E::launchSucceeded, 0, pending, 0, 0, false, false, false}, {E::processExit, 0, stopped, 0, 0, true, false, true}});
  walk("a fatal error while running is a failure, not a clean stop",
       {{E::started, 0, run, 0, 0, true, false, false}, {E::fatalExit, 0, stopped, 1, 0, true, false, false}});
}

TEST(ServiceStatus, PreshutdownCountsCheckpointsUntilTheStopTimesOut) {
  const uint32_t run = svc::kRunning, pending = svc::kStopPending, stopped = svc::kStopped;
  walk("pre-shutdown, then the stop times out",
       {{E::started, 0, run, 0, 0, true, false, false}, {E::stopProgress, 0, run, 0, 0, false, false, false},  // nothing before a stop
        {E::control, svc::kControlPreshutdown, pending, 0, 0, true, true, false}, {E::stopProgress, 0, pending, 0, 1, true, false, false},
        {E::stopProgress, 0, pending, 0, 2, true, false, false}, {E::stopTimedOut, 0, stopped, svc::kExitStopTimedOut, 2, true, false, false}});
}

TEST(ServiceStatus, NothingChangesAStopTheExitPathReported) {
  const uint32_t run = svc::kRunning, pending = svc::kStopPending, stopped = svc::kStopped;
  walk("after the exit path reported a clean stop, neither changes it",
       {{E::started, 0, run, 0, 0, true, false, false}, {E::control, svc::kControlStop, pending, 0, 0, true, true, false},
        {E::processExit, 0, stopped, 0, 0, true, false, true}, {E::stopProgress, 0, stopped, 0, 0, false, false, false},
        {E::stopTimedOut, 0, stopped, 0, 0, false, false, false}});
}

TEST(ServiceStatus, ControlsAcceptedAreKeptAcrossTheStart) {
  EXPECT_EQ(acceptedControls(false), svc::kAcceptStopAndShutdown);
  ServiceStatusRecord r;
  r.controlsAccepted = acceptedControls(true);
  EXPECT_EQ(applyServiceEvent(r, E::started).record.controlsAccepted, 0x105u);
}

// The application's own end is the service's: each row starts from a
// running service, applies the events and checks the last transition.
TEST(ServiceStatus, TheApplicationsOwnEndIsTheServicesEnd) {
  struct Row {
    const char* name;
    std::vector<std::pair<ServiceEvent, uint32_t>> events;
    uint32_t state, win32, specific;
    bool applicationEnded, stoppedCleanly;
  };
  const uint32_t pending = svc::kStopPending, stopped = svc::kStopped;
  const Row rows[] = {
      {"System.exit(3) by the application", {{E::processExit, 3}}, stopped, 1066, 3, true, false},
      {"System.exit(0) by the application", {{E::processExit, 0}}, stopped, 0, 0, true, false},
      {"our stop, whatever the status", {{E::control, svc::kControlStop}, {E::processExit, 3}}, stopped, 0, 0, false, true},
      {"main threw: stop pending first", {{E::applicationFailed, 0}}, pending, 1066, 1103, false, false},
      {"main threw, then the exit", {{E::applicationFailed, 0}, {E::processExit, 1103}}, stopped, 1066, 1103, false, false},
      {"finished, then the exit", {{E::applicationFinished, 0}, {E::processExit, 0}}, stopped, 0, 0, false, true},
      {"an end after our stop changes nothing", {{E::control, svc::kControlStop}, {E::applicationFailed, 0}}, pending, 0, 0, false, false},
  };
  for (const Row& row : rows) {
    ServiceStatusRecord record;
    ServiceTransition t;
    for (const auto& [event, code] : row.events) {
      t = applyServiceEvent(record, event, code);
      record = t.record;
    }
    EXPECT_EQ(t.record.currentState, row.state) << row.name;
    EXPECT_EQ(t.record.win32ExitCode, row.win32) << row.name;
    EXPECT_EQ(t.record.serviceSpecificExitCode, row.specific) << row.name;
    EXPECT_EQ(t.applicationEnded, row.applicationEnded) << row.name;
    EXPECT_EQ(t.stoppedCleanly, row.stoppedCleanly) << row.name;
  }
}

TEST(ServiceSettings, AccountForms) {
  const std::pair<const char*, const char*> cases[] = {  // objectName nullptr: refused
      {"LocalSystem", "LocalSystem"}, {"localservice", "NT AUTHORITY\\LocalService"},
      {"NetworkService", "NT AUTHORITY\\NetworkService"}, {"virtual", "NT SERVICE\\Svc"},
      {"corp.example.com\\svc-app_1$", "corp.example.com\\svc-app_1$"},
      // User accounts, whose password is asked for at install.
      {"CORP\\web", "CORP\\web"}, {".\\web", ".\\web"}, {"web@corp.example.com", "web@corp.example.com"},
      // Not accounts at all.
      {"web", nullptr}, {"web@", nullptr}, {"@corp", nullptr}, {"a@b@c", nullptr}, {"..\\web", nullptr},
      {"web$", nullptr}, {"", nullptr}, {"a\\b\\c$", nullptr}, {"\\web$", nullptr},
      {".\\web$", nullptr}, {"CORP\\$", nullptr}, {"CO@RP\\web$", nullptr}, {"CORP\\we b$", nullptr},
      {"CORP\\we@b$", nullptr}, {"CORP\\w$b$", nullptr}, {"CORP\\caf\xE9$", nullptr}, {"LocalSystem ", nullptr},
  };
  for (const auto& [text, objectName] : cases) {
    ServiceAccount a;
    std::string why;
    EXPECT_EQ(parseServiceAccount(text, a, why), objectName != nullptr) << text << ": " << why;
    if (objectName) {
      // What the packer stores parses back to the same account.
      ServiceAccount again;
      ASSERT_TRUE(parseServiceAccount(serviceAccountText(a), again, why));
      EXPECT_EQ(accountObjectName(again, "Svc"), objectName);
    } else {
      EXPECT_NE(why.find("\"DOMAIN\\\\name$\""), std::string::npos) << why;
    }
  }
}

TEST(ServiceSettings, LocalSystemNamesAsTheServiceManagerShowsThem) {
  for (const char* name : {"", "LocalSystem", "localsystem", ".\\LocalSystem", "NT AUTHORITY\\SYSTEM", "nt authority\\system"})
    EXPECT_TRUE(isLocalSystemName(name)) << name;
  for (const char* name : {"NT AUTHORITY\\LocalService", "NT SERVICE\\LocalSystem", "LocalSystem ", "SYSTEM", "CORP\\LocalSystem"})
    EXPECT_FALSE(isLocalSystemName(name)) << name;
}

TEST(ServiceSettings, NumbersAndPairsArePlainAndBounded) {
  uint64_t n = 0;
  std::string why;
  for (const char* good : {"0", "86400"}) EXPECT_TRUE(parseBoundedNumber(good, 0, 86400, n, why)) << good;
  for (const char* bad : {"86401", "-1", "01", " 1", "", "99999999999999999999"})
    EXPECT_FALSE(parseBoundedNumber(bad, 0, 86400, n, why)) << bad;
  RecoverySetting r;
  EXPECT_TRUE(parseRecovery("60,3,24", r, why));
  EXPECT_EQ(recoveryText(r), "60,3,24");
  for (const char* bad : {"60,3", "60,3,24,1", "x,3,24", "60,0,24", "60,3,0"}) EXPECT_FALSE(parseRecovery(bad, r, why)) << bad;
  OutputRotationSetting o;
  for (const char* good : {"1048576,5", "1048576,5,day", "0,7,hour", "1024,999,day"}) {
    EXPECT_TRUE(parseOutputRotation(good, o, why)) << good;
    EXPECT_EQ(outputRotationText(o), good);
  }
  // A size of 0 only beside a time rule; the time rule's words are exact.
  for (const char* bad : {"1023,5", "1048576,0", "1048576", "0,5", "0,5,Day", "1048576,5,week", "0,5,day,1",
                          "1048576,5,"})
    EXPECT_FALSE(parseOutputRotation(bad, o, why)) << bad;
}

TEST(ServiceSettings, TheLauncherReadsDamagedValuesAsAbsent) {
  ConfigTables good;
  good.narrow = {{30001, "virtual"}, {30002, "0"},  {30003, "5,2,1"}, {30004, "1"},
                 {30005, "120"},     {30006, "30"}, {30007, "4096,3"}};
  std::vector<DamagedSetting> damaged;
  ServiceSettings s = readServiceSettings(good, damaged);
  EXPECT_TRUE(damaged.empty());
  ASSERT_TRUE(s.account && s.interactive && s.recovery && s.delayedAutoStart && s.outputRotation);
  EXPECT_EQ(s.account->kind, AccountKind::virtualAccount);
  EXPECT_FALSE(*s.interactive);
  EXPECT_EQ(s.recovery->maxRestarts, 2u);
  EXPECT_EQ(s.preshutdownTimeoutSeconds, std::optional<uint32_t>(120));
  EXPECT_EQ(s.stopTimeoutSeconds, std::optional<uint32_t>(30));
  EXPECT_EQ(s.outputRotation->keep, 3u);

  ConfigTables bad;
  bad.narrow = {{30001, "user"}, {30002, "yes"}, {30003, "5,2"}, {30004, ""}, {30005, "0"}, {30006, "-5"}, {30007, "10,3"}};
  damaged.clear();
  s = readServiceSettings(bad, damaged);
  EXPECT_FALSE(s.account || s.interactive || s.recovery || s.delayedAutoStart || s.preshutdownTimeoutSeconds ||
               s.stopTimeoutSeconds || s.outputRotation);
  std::vector<std::string_view> names;
  for (const DamagedSetting& d : damaged) names.push_back(d.name);
  EXPECT_EQ(names, (std::vector<std::string_view>{"serviceAccount", "interactive", "recovery", "delayedAutoStart",
                                                  "preshutdownTimeoutSeconds", "stopTimeoutSeconds", "outputRotation"}));
  std::vector<DamagedSetting> noDamage;
  ServiceSettings none = readServiceSettings(ConfigTables{}, noDamage);  // a block without them
  EXPECT_TRUE(noDamage.empty());
  EXPECT_FALSE(none.account || none.interactive || none.recovery || none.delayedAutoStart ||
               none.preshutdownTimeoutSeconds || none.stopTimeoutSeconds || none.outputRotation);
  EXPECT_EQ(damagedSettingLine(damaged[5]),
            "setting stopTimeoutSeconds ignored, its stored value is damaged: \"-5\" is not a plain decimal number");
}

TEST(ServiceSettings, InstallPlan) {
  const std::tuple<std::optional<AccountKind>, std::optional<bool>, uint32_t, const char*> cases[] = {
      {std::nullopt, std::nullopt, 0x110, ""},  // the install of old
      {AccountKind::localSystem, true, 0x110, ""},
      {AccountKind::localSystem, false, 0x10, ""},
      {std::nullopt, false, 0x10, ""},
      // A damaged block cannot make the system refuse the install.
      {AccountKind::networkService, true, 0x10, "NT AUTHORITY\\NetworkService"},
      {AccountKind::managed, std::nullopt, 0x10, "CORP\\web$"},
      {AccountKind::user, true, 0x10, "CORP\\web$"},
  };
  for (const auto& [account, interactive, type, accountName] : cases) {
    ServiceSettings s;
    if (account) s.account = ServiceAccount{*account, "CORP\\web$"};
    s.interactive = interactive;
    InstallPlan plan = planServiceInstall(s, "Svc", true);
    EXPECT_EQ(plan.serviceType, type) << accountName;
    EXPECT_EQ(plan.accountName, accountName);
    EXPECT_EQ(plan.needsPassword, account == AccountKind::user);
    EXPECT_FALSE(plan.failureActions || plan.delayedAutoStart || plan.preshutdownTimeoutMilliseconds);
  }
  ServiceSettings s;
  s.recovery = RecoverySetting{30, 2, 24};
  s.delayedAutoStart = true;
  s.preshutdownTimeoutSeconds = 90;
  InstallPlan automatic = planServiceInstall(s, "Svc", true);
  ASSERT_TRUE(automatic.failureActions);
  EXPECT_EQ(automatic.failureActions->resetPeriodSeconds, 86400u);
  // Two restarts 30 s apart, then the service stays stopped.
  EXPECT_EQ(automatic.failureActions->actions,
            (std::vector<FailureAction>{{scm::kActionRestart, 30000}, {scm::kActionRestart, 30000}, {scm::kActionNone, 0}}));
  EXPECT_TRUE(automatic.delayedAutoStart);
  EXPECT_EQ(automatic.preshutdownTimeoutMilliseconds, std::optional<uint32_t>(90000));
  EXPECT_FALSE(planServiceInstall(s, "Svc", false).delayedAutoStart);  // nothing for a start on demand
  // The largest values still fit the system's 32-bit fields.
  s.recovery = RecoverySetting{kMaxRestartDelaySeconds, kMaxRestarts, kMaxResetPeriodHours};
  InstallPlan big = planServiceInstall(s, "Svc", true);
  EXPECT_EQ(big.failureActions->resetPeriodSeconds, 8760u * 3600u);
  EXPECT_EQ(big.failureActions->actions.size(), kMaxRestarts + 1);
  EXPECT_EQ(big.failureActions->actions[0].delayMilliseconds, 86400000u);
}

TEST(DependencyList, NamesEndWithANulAtAnyLength) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"a", "a\0\0"s}, {",a,,b,", "a\0b\0\0"s}, {" a , b ", " a \0 b \0\0"s},  // names taken as they are
      {"", std::nullopt}, {",,,", std::nullopt},  // no dependencies at all
  };
  for (const auto& [text, list] : cases) EXPECT_EQ(buildDependencyList(text), list) << text;
  // Far beyond the 8192 bytes the list was once built in.
  std::string text, expected;
  for (int i = 0; i < 3000; ++i) text += "svc" + std::to_string(i) + ",", expected += "svc" + std::to_string(i) + '\0';
  EXPECT_EQ(buildDependencyList(text), expected + '\0');
}

TEST(ServiceBinaryPath, QuotedExactlyWhenItHoldsASpace) {
  const char* cases[][2] = {
      {"c:\\progra~1\\app\\svc.exe", "c:\\progra~1\\app\\svc.exe"},
      {"c:\\program files\\app\\svc.exe", "\"c:\\program files\\app\\svc.exe\""},
      {" c:\\svc.exe", "\" c:\\svc.exe\""}, {"", ""},
  };
  for (auto& c : cases) {
    EXPECT_EQ(serviceBinaryPath(c[0]), c[1]) << c[0];
    // Started as a command line, the whole path is the program name: the
    // launcher finds an empty command tail and becomes the service.
    EXPECT_EQ(commandTail(serviceBinaryPath(c[0])), "") << c[0];
  }
}

TEST(EventLog, SourceKeyIsTheServiceNameBelowTheApplicationLog) {
  EXPECT_EQ(eventSourceKeyPath("My Svc"), "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\My Svc");
  // A name that would reach another key (or the log itself) is refused.
  for (const char* bad : {"", "a\\b", "a/b"}) EXPECT_FALSE(eventSourceKeyPath(bad).has_value()) << bad;
}

TEST(EventLog, TextsGetWindowsLineEndsAndAreCutBetweenLines) {
  const char* texts[][2] = {{"a\nb", "a\r\nb"}, {"a\r\nb", "a\r\nb"}, {"\n\n", "\r\n\r\n"}, {"", ""}};
  for (auto& t : texts) EXPECT_EQ(eventText(t[0]), t[1]) << t[0];
  std::string lines;
  while (lines.size() < 2 * kMaxEventTextBytes) lines += "x\n";
  std::string cut = eventText(lines);
  EXPECT_LE(cut.size(), kMaxEventTextBytes);
  EXPECT_GE(cut.size(), kMaxEventTextBytes - 2);
  EXPECT_NE(cut.back(), '\r');  // never half a line break
  std::string crlf = "x";  // puts a CR on the last byte that fits
  while (crlf.size() < 2 * kMaxEventTextBytes) crlf += "ab\r\n";
  EXPECT_NE(eventText(crlf).back(), '\r');
  // The started and stopped texts are compared whole end to end (test_service_run), with the
  // paths the search found.
}

TEST(ConsoleEvents, WhichStopTheServiceAndWhichWaitForItsExit) {
  const std::tuple<uint32_t, bool, bool> events[] = {
      {console_event::kCtrlC, true, false}, {console_event::kCtrlBreak, true, false}, {console_event::kClose, true, true},
      {console_event::kLogoff, true, true}, {console_event::kShutdown, true, true},    {3, false, false}};
  for (const auto& [event, stop, wait] : events) {
    EXPECT_EQ(consoleEventAction(event).stop, stop) << event;
    EXPECT_EQ(consoleEventAction(event).waitForExit, wait) << event;
  }
}

TEST(ConsoleEvents, WithThreadDumpsOnCtrlBreakDumpsInsteadOfStopping) {
  const std::tuple<uint32_t, bool, bool> events[] = {  // event, stop, dump
      {console_event::kCtrlC, true, false}, {console_event::kCtrlBreak, false, true}, {console_event::kClose, true, false},
      {console_event::kLogoff, true, false}, {console_event::kShutdown, true, false}, {3, false, false}};
  for (const auto& [event, stop, dump] : events) {
    ConsoleEventAction dumping = consoleEventAction(event, true);
    EXPECT_EQ(dumping.stop, stop) << event;
    EXPECT_EQ(dumping.threadDump, dump) << event;
  }
}

}  // namespace

namespace {

// One call of the watchdog's schedule: at `at` ms, with a finished probe
// ('+' healthy, '-' failed, ' ' none), and what it must decide.
struct WatchStep {
  uint64_t at;
  char finished;
  const char* expect;  // letters: p start probe, s startup progress, r ready, t trip, n never ready
  uint64_t wakeAt;
  WatchdogPhase phase;
};

void watch(const char* name, const WatchdogSettings& settings, const std::vector<WatchStep>& steps) {
  WatchdogState state = startWatchdog(settings, 0);
  for (size_t i = 0; i < steps.size(); ++i) {
    const WatchStep& s = steps[i];
    ProbeOutcome outcome{s.finished == '+', s.finished == '-' ? "refused" : ""};
    WatchdogStep step = advanceWatchdog(state, settings, s.at, s.finished == ' ' ? nullptr : &outcome);
    std::string got = std::string(step.startProbe ? "p" : "") + (step.startupProgress ? "s" : "") +
                      (step.ready ? "r" : "") + (step.trip ? "t" : "") + (step.neverReady ? "n" : "");
    EXPECT_EQ(got, s.expect) << name << " step " << i;
    EXPECT_EQ(step.wakeAtMs, s.wakeAt) << name << " step " << i;
    EXPECT_EQ(state.phase, s.phase) << name << " step " << i;
  }
}

ProbeSetting probe(uint32_t delay, uint32_t period, uint32_t timeout, uint32_t threshold) {
  ProbeSetting p;
  p.checks = {ProbeCheck{CheckKind::tcpSocket, 80, ""}};
  p.initialDelaySeconds = delay, p.periodSeconds = period, p.timeoutSeconds = timeout, p.failureThreshold = threshold;
  return p;
}

}  // namespace

TEST(Watchdog, ScheduleCountsConsecutiveFailuresAndTimeOuts) {
  using P = WatchdogPhase;
  WatchdogSettings live;
  live.livenessProbe = probe(10, 5, 2, 3);
  watch("initial delay, then a failure streak broken by a success, then three in a row trip",
        live,
        {{0, ' ', "", 10000, P::liveness}, {9999, ' ', "", 10000, P::liveness},
         {10000, ' ', "p", 12000, P::liveness}, {10100, '-', "", 15000, P::liveness},
         {15000, ' ', "p", 17000, P::liveness}, {15100, '-', "", 20000, P::liveness},
         {20000, ' ', "p", 22000, P::liveness}, {20100, '+', "", 25000, P::liveness},
         {25000, ' ', "p", 27000, P::liveness}, {25100, '-', "", 30000, P::liveness},
         {30000, ' ', "p", 32000, P::liveness}, {30100, '-', "", 35000, P::liveness},
         {35000, ' ', "p", 37000, P::liveness}, {35100, '-', "t", 0, P::ended}});
  watch("a probe past its time-out fails; its late answer is dropped; a hung worker fails each period",
        live,
        {{10000, ' ', "p", 12000, P::liveness}, {12000, ' ', "", 15000, P::liveness},
         {13000, '+', "", 15000, P::liveness},  // late: still one failure
         {15000, ' ', "p", 17000, P::liveness}, {17000, ' ', "", 20000, P::liveness},
         {20000, ' ', "t", 0, P::ended}});  // still running: the third failure
  WatchdogSettings both = live;
  both.startupProbe = probe(0, 2, 1, 2);
  watch("start pending with progress until ready, then liveness after its delay", both,
        {{0, ' ', "ps", 1000, P::startup}, {500, '-', "", 2000, P::startup},
         {2000, ' ', "ps", 3000, P::startup}, {2500, '+', "r", 12500, P::liveness},
         {12500, ' ', "p", 14500, P::liveness}});
  watch("never ready", both,
        {{0, ' ', "ps", 1000, P::startup}, {1000, ' ', "", 2000, P::startup},
         {2000, ' ', "sn", 0, P::ended}});
  WatchdogSettings startupOnly;
  startupOnly.startupProbe = probe(0, 2, 1, 2);
  watch("startup only: off once ready", startupOnly,
        {{0, ' ', "ps", 1000, P::startup}, {10, '+', "r", 0, P::off}, {5000, ' ', "", 0, P::off}});
  watch("nothing configured", WatchdogSettings{}, {{0, ' ', "", 0, P::off}});
  EXPECT_GT(startupWaitHintMs(probe(0, 30, 20, 1)), 50000u);
}

TEST(ServiceStatus, AStartStaysPendingUntilTheStartupProbePasses) {
  const uint32_t pending = svc::kStartPending, run = svc::kRunning;
  walk("a start that waits for its startup probe; a stop while it waits",
       {{E::startedPending, 0, pending, 0, 1, true, false, false},
        {E::launchSucceeded, 0, pending, 0, 1, false, false, false},
        {E::startupProgress, 0, pending, 0, 2, true, false, false}, {E::ready, 0, run, 0, 0, true, false, false},
        {E::startupProgress, 0, run, 0, 0, false, false, false}, {E::ready, 0, run, 0, 0, false, false, false}});
  walk("stopped while start pending", {{E::startedPending, 0, pending, 0, 1, true, false, false},
        {E::control, svc::kControlStop, svc::kStopPending, 0, 1, true, true, false},
        {E::ready, 0, svc::kStopPending, 0, 1, false, false, false}});
}

TEST(Watchdog, StoredProbeTextsParseBackOrSayWhatIsWrong) {
  const std::tuple<const char*, bool, const char*> cases[] = {
      {"deadlock", false, nullptr}, {"  heartbeat   periodSeconds=7 ", false, nullptr},
      {"httpGet=65535", false, nullptr}, {"ready", true, nullptr},
      {"ready", false, "\"ready\" is not a check or timing field of the liveness probe"},
      {"", false, "no check is given"}, {"periodSeconds=5", false, "no check is given"},
      {"deadlock deadlock", false, "\"deadlock\" is given twice"},
      {"deadlock=1", false, "deadlock takes no value"}, {"tcpSocket", false, "tcpSocket needs a value"},
      {"tcpSocket=0", false, "tcpSocket: port 0 is outside 1..65535"},
      {"tcpSocket=080", false, "not a plain decimal"}, {"httpGet=80x/", false, "httpGet: port"},
      {"httpGet=80/a\x7F", false, "httpGet: the path"}, {"method=a..b", false, "method: not"},
      {"method=1a.b", false, "method: not"}, {"method=Main", false, "method: not"},
      {"deadlock failureThreshold=0", false, "failureThreshold: 0 is outside 1..10000"},
      {"deadlock timeoutSeconds", false, "timeoutSeconds: has no value"},
  };
  for (const auto& [text, startup, error] : cases) {
    ProbeSetting p;
    std::string why;
    EXPECT_EQ(parseProbeSetting(text, startup, p, why), error == nullptr) << text;
    if (error) {
      EXPECT_NE(why.find(error), std::string::npos) << text << ": " << why;
    }
  }
  ProbeSetting p;
  std::string why;
  EXPECT_FALSE(parseProbeSetting("deadlock " + std::string(1100, ' '), false, p, why));
  ASSERT_TRUE(parseProbeSetting("httpGet=8080 periodSeconds=7", false, p, why)) << why;
  EXPECT_EQ(probeSettingText(p),
            "httpGet=8080/ initialDelaySeconds=60 periodSeconds=7 timeoutSeconds=10 failureThreshold=3");
}

TEST(Watchdog, ADamagedSettingIsNamedAndTheOthersStillRead) {
  ConfigTables config;
  config.narrow = {{30021, "127"}, {30023, "deadlock"}, {30024, "threadDumps=9"}};
  std::vector<DamagedSetting> damaged;
  WatchdogSettings s = readWatchdogSettings(config, damaged);
  ASSERT_EQ(damaged.size(), 1u);
  EXPECT_EQ(damaged[0].name, "threadDumpControlCode");
  EXPECT_FALSE(s.threadDumpControlCode || s.startupProbe);
  EXPECT_TRUE(s.livenessProbe && s.threadDumpsOnFailure == 9);
}

TEST(Watchdog, AnHttpCheckIsHealthyOnlyWithA2xxOr3xxStatus) {
  std::string why;
  const std::pair<const char*, const char*> replies[] = {
      {"HTTP/1.1 200 OK\r\n", nullptr}, {"HTTP/1.0 399", nullptr}, {"HTTP/1.1 503 Busy\r\n", "HTTP status 503"},
      {"HTTP/1.1 199 x", "HTTP status 199"}, {"", "no HTTP answer"}, {"SSH-2.0-x\r\n", "not an HTTP answer"},
      {"HTTP/1.1 2000", "not an HTTP answer"}, {"HTTP/1.1 2x0", "not an HTTP answer"}};
  for (const auto& [reply, error] : replies) {
    EXPECT_EQ(httpReplyHealthy(reply, why), error == nullptr) << reply;
    if (error) {
      EXPECT_NE(why.find(error), std::string::npos) << reply << ": " << why;
    }
  }
}

TEST(Watchdog, DumpFileNamesCarryTheServiceAndTheTime) {
  EXPECT_EQ(threadDumpFileName("Ord:ers\x01", 2026, 3, 4, 5, 6, 7, 8), "threaddump-Ord_ers_-20260304-050607-008.txt");
}

TEST(Watchdog, ThreadDumpsAreTenSecondsApart) {
  EXPECT_TRUE(threadDumpAllowed(false, 0, 0));
  EXPECT_FALSE(threadDumpAllowed(true, 5000, 14999));
  EXPECT_TRUE(threadDumpAllowed(true, 5000, 15000));
}

TEST(Watchdog, RetentionCountsAndDeletesOnlyTheServicesOwnDumps) {
  const std::string own = "S-1-5-18", admins = "S-1-5-32-544", user = "S-1-5-21-1-2-3-1001";
  std::vector<DumpDirectoryEntry> entries;
  // Twelve dumps of its own, seconds 12 down to 1.
  for (int i = 12; i >= 1; --i) {
    char name[64];
    std::snprintf(name, sizeof name, "threaddump-S-20260101-0000%02d-000.txt", i);
    entries.push_back({name, true, i % 2 ? own : admins});
  }
  // Planted: names dated far ahead owned by a user, a link and a directory
  // under dump names, a file without an owner, and names that are no dumps
  // of this service.
  entries.push_back({"threaddump-S-99991231-235959-999.txt", true, user});
  entries.push_back({"threaddump-S-99991231-235959-998.txt", false, own});
  entries.push_back({"threaddump-S-00000101-000000-000.txt", false, own});
  entries.push_back({"threaddump-S-00000101-000000-001.txt", true, ""});
  entries.push_back({"threaddump-S-x.txt", true, own});
  entries.push_back({"threaddump-S.last", true, own});
  entries.push_back({"threaddump-T-20260101-000000-000.txt", true, own});
  EXPECT_EQ(threadDumpsToDelete("S", entries, {own, admins}, 10),
            (std::vector<std::string>{"threaddump-S-20260101-000001-000.txt", "threaddump-S-20260101-000002-000.txt"}));
  // Another owner's dumps are not the service's, whatever their names say.
  EXPECT_EQ(threadDumpsToDelete("S", entries, {own}, 5),
            (std::vector<std::string>{"threaddump-S-20260101-000001-000.txt"}));
  EXPECT_EQ(threadDumpRecordName("S:1"), "threaddump-S_1.last");
}

TEST(Watchdog, TheMostSpecificListenerTakesALoopbackConnection) {
  using A = ListenAddress;
  const std::vector<TcpListener> all = {{A::any6, 80, 6}, {A::other, 80, 7}, {A::any4, 80, 4},
                                        {A::loopback4, 80, 1}, {A::loopback4, 81, 9}};
  EXPECT_EQ(loopbackListenerProcess(all, 80), 1u);
  EXPECT_EQ(loopbackListenerProcess({all[0], all[1], all[2]}, 80), 4u);
  EXPECT_EQ(loopbackListenerProcess({all[0], all[1]}, 80), 6u);
  EXPECT_EQ(loopbackListenerProcess({all[1], all[4]}, 80), std::nullopt);
}

TEST(StatusCommandFacts, ExitCodeOfEachState) {
  const std::pair<uint32_t, int> codes[] = {{1, kStatusStopped},  {2, kStatusPending}, {3, kStatusPending},
                                            {4, kStatusRunning},  {7, kStatusPending}, {99, kStatusPending}};
  for (auto [state, code] : codes) EXPECT_EQ(statusExitCode(state), code) << state;
}

TEST(StatusCommandFacts, SystemErrorsAreOneBoundedLine) {
  const std::pair<const char*, const char*> errors[] = {
      {"The service has not been started.\r\n", "Error 1062: The service has not been started."},
      {"  two\r\nlines\t here  ", "Error 1062: two lines here"}, {"\r\n", "Error 1062."}, {"", "Error 1062."}};
  for (auto [raw, line] : errors) EXPECT_EQ(systemErrorLine(1062, raw), line) << raw;
  EXPECT_EQ(tidySystemErrorText(std::string(2000, 'x')).size(), kMaxSystemErrorText);
}

TEST(StatusCommandFacts, ImageFileOfTheRegisteredCommandLine) {
  const std::pair<const char*, const char*> images[] = {
      {"c:\\apps\\svc.exe", "c:\\apps\\svc.exe"}, {"\"c:\\my apps\\svc.exe\" -x", "c:\\my apps\\svc.exe"},
      {"\"c:\\open", "c:\\open"}, {"c:\\a\\svc.EXE -run", "c:\\a\\svc.EXE"}, {"c:\\a.exe.d\\s.exe", "c:\\a.exe.d\\s.exe"},
      {"c:\\driver.sys", "c:\\driver.sys"}};
  for (auto [path, file] : images) EXPECT_EQ(imageFileOfCommandLine(path), file) << path;
}

TEST(StatusCommandFacts, LinesFromWhatWasFound) {
  ConfigTables block;
  block.narrow = {{102, "1"}, {103, "logs\\out.log"}, {104, "1"}, {105, "d:\\err.log"}, {30007, "1024,3"}, {30020, "1"}};
  OutputFiles files = outputFilesText(block, "c:\\apps\\");
  EXPECT_EQ(files.output, "c:\\apps\\logs\\out.log, rotated at 1024 bytes, keeping .1 to .3");
  EXPECT_EQ(files.error, "d:\\err.log, rotated at 1024 bytes, keeping .1 to .3");
  block.narrow = {{102, "1"}, {103, "o.log"}, {30007, "2048,3,hour"}};
  EXPECT_EQ(outputFilesText(block, "c:\\").output, "c:\\o.log, rotated every hour and at 2048 bytes, keeping 3 dated files");
  block.narrow = {{103, "out.log"}, {104, "1"}};  // no redirect flag; no name
  EXPECT_EQ(outputFilesText(block, "c:\\").output, "not redirected");
  EXPECT_EQ(outputFilesText(block, "c:\\").error, "not redirected");

  StatusCommandFacts r;
  r.name = "Svc";
  r.state = 1;
  r.win32ExitCode = 1;
  r.startType = 2;
  r.delayedAutoStart = true;
  r.account = "LocalSystem";
  r.failureActions = FailureActionsPlan{86400, {{1, 60000}, {0, 0}}};
  r.imagePath = "c:\\apps\\svc.exe";
  r.madeFromProblem = "no version resource in c:\\apps\\svc.exe";
  r.diagnosticLog = diagnosticLogText(true, "C:\\Windows\\Temp", "LocalSystem", 0);
  r.blockProblem = "the configuration block of c:\\apps\\svc.exe is damaged: Internal Error: readString";
  std::vector<std::string> lines = formatStatusCommand(r);
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[1], "  State:           stopped (exit code 1)");
  EXPECT_EQ(lines[2], "  Process id:      none");
  EXPECT_EQ(lines[3], "  Start type:      automatic, delayed");
  EXPECT_EQ(lines[5], "  Failure actions: restart after 60 s, none; failure count reset after 86400 s");
  EXPECT_EQ(lines[7], "  Made from:       unknown (no version resource in c:\\apps\\svc.exe)");
  EXPECT_EQ(lines[8], "  Diagnostic log:  brd_nlog_<pid>_<n> in C:\\Windows\\Temp, else c:\\brd_nlog");
  EXPECT_EQ(lines[9], "  Event log:       unknown (" + r.blockProblem + ")");
  EXPECT_EQ(lines[11], "  Standard error:  unknown (" + r.blockProblem + ")");
  EXPECT_EQ(lines[12], "  Start cache:     unknown (" + r.blockProblem + ")");
  r.state = 4;
  r.processId = 42;
  r.failureActions.reset();
  r.failureActionsProblem = "Error 124: The system call level is not correct.";
  r.eventLogKnown = r.eventLog = true;
  lines = formatStatusCommand(r);
  EXPECT_EQ(lines[1], "  State:           running");
  EXPECT_EQ(lines[5], "  Failure actions: unknown (Error 124: The system call level is not correct.)");
  EXPECT_EQ(lines[9], "  Event log:       Application log, source 'Svc'");
  EXPECT_EQ(diagnosticLogText(true, "", "NT AUTHORITY\\LocalService", 42),
            "brd_nlog_42_<n> in the TMP directory of NT AUTHORITY\\LocalService, else c:\\brd_nlog");
}
