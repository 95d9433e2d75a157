// The production settings: the stored forms, what the launcher reads from a
// block (damaged values as absent), and what install hands the system.
#include "service/service_settings.h"

#include <gtest/gtest.h>

#include "service/service_status.h"

namespace {

TEST(ServiceSettings, AccountForms) {
  struct Case {
    const char* text;
    bool ok;
    const char* objectName;  // for the service "Svc"
  } cases[] = {
      {"LocalSystem", true, "LocalSystem"},
      {"localservice", true, "NT AUTHORITY\\LocalService"},
      {"NetworkService", true, "NT AUTHORITY\\NetworkService"},
      {"virtual", true, "NT SERVICE\\Svc"},
      {"CORP\\web$", true, "CORP\\web$"},
      {"corp.example.com\\svc-app_1$", true, "corp.example.com\\svc-app_1$"},
      // Accounts that would need a password, or are not accounts at all.
      {"CORP\\web", false, nullptr},
      {"web$", false, nullptr},
      {"user", false, nullptr},
      {"", false, nullptr},
      {"NT AUTHORITY\\LocalService", false, nullptr},
      {"a\\b\\c$", false, nullptr},
      {"\\web$", false, nullptr},
      {".\\web$", false, nullptr},
      {"CORP\\$", false, nullptr},
      {"CORP\\we b$", false, nullptr},
      {"CORP\\we@b$", false, nullptr},
      {"CORP\\w$b$", false, nullptr},
      {"CORP\\caf\xE9$", false, nullptr},
      {"LocalSystem ", false, nullptr},
  };
  for (const Case& c : cases) {
    ServiceAccount a;
    std::string why;
    EXPECT_EQ(parseServiceAccount(c.text, a, why), c.ok) << c.text << ": " << why;
    if (c.ok) {
      EXPECT_EQ(accountObjectName(a, "Svc"), c.objectName);
      // What the packer stores parses back to the same account.
      ServiceAccount again;
      ASSERT_TRUE(parseServiceAccount(serviceAccountText(a), again, why));
      EXPECT_EQ(accountObjectName(again, "Svc"), c.objectName);
    } else {
      EXPECT_NE(why.find("\"DOMAIN\\\\name$\""), std::string::npos) << why;
    }
  }
}

TEST(ServiceSettings, NumbersAndPairsArePlainAndBounded) {
  struct Case {
    const char* text;
    bool ok;
  };
  uint64_t n = 0;
  std::string why;
  for (const Case& c : {Case{"0", true}, Case{"86400", true}, Case{"86401", false}, Case{"-1", false},
                        Case{"+1", false}, Case{"01", false}, Case{" 1", false}, Case{"", false},
                        Case{"99999999999999999999", false}, Case{"1e3", false}}) {
    EXPECT_EQ(parseBoundedNumber(c.text, 0, 86400, n, why), c.ok) << c.text;
  }
  RecoverySetting r;
  EXPECT_TRUE(parseRecovery("60,3,24", r, why));
  EXPECT_EQ(recoveryText(r), "60,3,24");
  for (const char* bad : {"60,3", "60,3,24,1", "60,0,24", "60,3,0", "60,,24", "x", ""}) {
    EXPECT_FALSE(parseRecovery(bad, r, why)) << bad;
  }
  OutputRotationSetting o;
  EXPECT_TRUE(parseOutputRotation("1048576,5", o, why));
  EXPECT_EQ(o.maxBytes, 1048576u);
  EXPECT_EQ(outputRotationText(o), "1048576,5");
  for (const char* bad : {"1023,5", "1048576,0", "1048576", "1048576,5,1", "1048576,1000"}) {
    EXPECT_FALSE(parseOutputRotation(bad, o, why)) << bad;
  }
}

TEST(ServiceSettings, TheLauncherReadsDamagedValuesAsAbsent) {
  ConfigTables good;
  good.narrow = {{30001, "virtual"}, {30002, "0"},   {30003, "5,2,1"}, {30004, "1"},
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
  bad.narrow = {{30001, "user"}, {30002, "yes"}, {30003, "5,2"}, {30004, ""},
                {30005, "0"},    {30006, "-5"},  {30007, "10,3"}, {101, "Svc"}};
  damaged.clear();
  s = readServiceSettings(bad, damaged);
  EXPECT_FALSE(s.account || s.interactive || s.recovery || s.delayedAutoStart ||
               s.preshutdownTimeoutSeconds || s.stopTimeoutSeconds || s.outputRotation);
  std::vector<std::string_view> names;
  for (const DamagedSetting& d : damaged) names.push_back(d.name);
  std::vector<std::string_view> expected = {"serviceAccount", "interactive", "recovery",
                                            "delayedAutoStart", "preshutdownTimeoutSeconds",
                                            "stopTimeoutSeconds", "outputRotation"};
  EXPECT_EQ(names, expected);
  EXPECT_EQ(damagedSettingLine(damaged[5]),
            "setting stopTimeoutSeconds ignored, its stored value is damaged: \"-5\" is not a plain "
            "decimal number");

  // A block without them: nothing, and the install of old.
  damaged.clear();
  s = readServiceSettings(ConfigTables{}, damaged);
  EXPECT_TRUE(damaged.empty());
  InstallPlan plan = planServiceInstall(s, "Svc", true);
  EXPECT_EQ(plan.serviceType, 0x110u);
  EXPECT_EQ(plan.accountName, "");
  EXPECT_FALSE(plan.failureActions || plan.delayedAutoStart || plan.preshutdownTimeoutMilliseconds);
}

TEST(ServiceSettings, InstallPlanTypeAndAccount) {
  struct Case {
    std::optional<AccountKind> account;
    std::optional<bool> interactive;
    uint32_t type;
    const char* accountName;
  } cases[] = {
      {std::nullopt, std::nullopt, 0x110, ""},
      {AccountKind::localSystem, std::nullopt, 0x110, ""},
      {AccountKind::localSystem, true, 0x110, ""},
      {AccountKind::localSystem, false, 0x10, ""},
      {std::nullopt, false, 0x10, ""},
      {AccountKind::localService, std::nullopt, 0x10, "NT AUTHORITY\\LocalService"},
      // A damaged block cannot make the system refuse the install.
      {AccountKind::networkService, true, 0x10, "NT AUTHORITY\\NetworkService"},
      {AccountKind::virtualAccount, std::nullopt, 0x10, "NT SERVICE\\Svc"},
      {AccountKind::managed, std::nullopt, 0x10, "CORP\\web$"},
  };
  for (const Case& c : cases) {
    ServiceSettings s;
    if (c.account) s.account = ServiceAccount{*c.account, "CORP\\web$"};
    s.interactive = c.interactive;
    InstallPlan plan = planServiceInstall(s, "Svc", false);
    EXPECT_EQ(plan.serviceType, c.type) << c.accountName;
    EXPECT_EQ(plan.accountName, c.accountName);
  }
}

TEST(ServiceSettings, InstallPlanRecoveryDelayedStartAndPreshutdown) {
  ServiceSettings s;
  s.recovery = RecoverySetting{30, 2, 24};
  s.delayedAutoStart = true;
  s.preshutdownTimeoutSeconds = 90;
  InstallPlan automatic = planServiceInstall(s, "Svc", true);
  ASSERT_TRUE(automatic.failureActions);
  EXPECT_EQ(automatic.failureActions->resetPeriodSeconds, 86400u);
  // Two restarts 30 s apart, then the service stays stopped.
  std::vector<FailureAction> actions = {{scm::kActionRestart, 30000}, {scm::kActionRestart, 30000},
                                        {scm::kActionNone, 0}};
  EXPECT_EQ(automatic.failureActions->actions, actions);
  EXPECT_TRUE(automatic.delayedAutoStart);
  EXPECT_EQ(automatic.preshutdownTimeoutMilliseconds, std::optional<uint32_t>(90000));
  // Delayed start means nothing for a service started on demand.
  EXPECT_FALSE(planServiceInstall(s, "Svc", false).delayedAutoStart);
  // The largest values still fit the system's 32-bit fields.
  s.recovery = RecoverySetting{kMaxRestartDelaySeconds, kMaxRestarts, kMaxResetPeriodHours};
  s.preshutdownTimeoutSeconds = kMaxPreshutdownTimeoutSeconds;
  InstallPlan big = planServiceInstall(s, "Svc", true);
  EXPECT_EQ(big.failureActions->resetPeriodSeconds, 8760u * 3600u);
  EXPECT_EQ(big.failureActions->actions.size(), kMaxRestarts + 1);
  EXPECT_EQ(big.failureActions->actions[0].delayMilliseconds, 86400000u);
}

// The stop with a time-out and pre-shutdown, through the status table.
TEST(ServiceSettings, StatusTableHandlesPreshutdownAndTheStopTimeOut) {
  ServiceStatusRecord r;
  r.currentState = 0;
  r.controlsAccepted = acceptedControls(true);
  EXPECT_EQ(r.controlsAccepted, 0x105u);
  EXPECT_EQ(acceptedControls(false), svc::kAcceptStopAndShutdown);
  r = applyServiceEvent(r, ServiceEvent::started).record;
  EXPECT_EQ(r.controlsAccepted, 0x105u);  // kept across the start
  // Progress before any stop reports nothing.
  EXPECT_FALSE(applyServiceEvent(r, ServiceEvent::stopProgress).report);

  ServiceTransition t = applyServiceEvent(r, ServiceEvent::control, svc::kControlPreshutdown);
  EXPECT_EQ(t.record.currentState, svc::kStopPending);
  EXPECT_TRUE(t.signalStop && t.cleanupFiles && t.report);
  r = t.record;
  for (uint32_t i = 1; i <= 3; ++i) {
    t = applyServiceEvent(r, ServiceEvent::stopProgress);
    EXPECT_TRUE(t.report);
    EXPECT_EQ(t.record.checkPoint, i);
    EXPECT_EQ(t.record.currentState, svc::kStopPending);
    r = t.record;
  }
  t = applyServiceEvent(r, ServiceEvent::stopTimedOut);
  EXPECT_EQ(t.record.currentState, svc::kStopped);
  EXPECT_EQ(t.record.win32ExitCode, svc::kExitStopTimedOut);
  EXPECT_TRUE(t.report);
  // After the exit path reported a clean stop, neither changes it.
  ServiceStatusRecord stopped = applyServiceEvent(r, ServiceEvent::processExit).record;
  EXPECT_FALSE(applyServiceEvent(stopped, ServiceEvent::stopProgress).report);
  t = applyServiceEvent(stopped, ServiceEvent::stopTimedOut);
  EXPECT_FALSE(t.report);
  EXPECT_EQ(t.record.win32ExitCode, 0u);
}

}  // namespace
