// The install settings' calls against the system's service control manager:
// every setting is either what the system shows back afterwards or named in
// a refusal line with the system's error (Wine refuses some; see
// docs/operations.md).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/handles_win.h"
#include "service/service_commands_win.h"

namespace {

constexpr wchar_t kServiceName[] = L"KernoGlueSettings";

std::vector<BYTE> queryConfig2(SC_HANDLE service, DWORD level) {
  std::vector<BYTE> buffer(8192);
  DWORD needed = 0;
  if (!QueryServiceConfig2W(service, level, buffer.data(), DWORD(buffer.size()), &needed)) return {};
  return buffer;
}

bool refused(const std::vector<std::string>& lines, const std::string& setting) {
  for (const std::string& line : lines) {
    if (line.rfind("Setting '" + setting + "' was refused by the system (error ", 0) == 0) return true;
  }
  return false;
}

TEST(ServiceSettingsGlue, EachSettingIsAppliedOrNamedWithTheSystemsError) {
  UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ASSERT_TRUE(manager);
  if (SC_HANDLE old = OpenServiceW(manager.get(), kServiceName, DELETE)) {
    DeleteService(old);
    CloseServiceHandle(old);
  }
  UniqueServiceHandle service(CreateServiceW(
      manager.get(), kServiceName, kServiceName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
      SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, L"C:\\windows\\system32\\cmd.exe", nullptr, nullptr,
      nullptr, nullptr, nullptr));
  ASSERT_TRUE(service) << GetLastError();

  // Nothing to set: no call, no line.
  EXPECT_TRUE(applyInstallSettings(service.get(), InstallPlan{}).empty());

  InstallPlan plan;
  plan.failureActions = FailureActionsPlan{7200, {{scm::kActionRestart, 5000}, {scm::kActionNone, 0}}};
  plan.delayedAutoStart = true;
  plan.preshutdownTimeoutMilliseconds = 90000;
  std::vector<std::string> lines = applyInstallSettings(service.get(), plan);
  for (const std::string& line : lines) {
    EXPECT_NE(line.find("); the service is installed without it."), std::string::npos) << line;
  }

  std::vector<BYTE> preshutdown = queryConfig2(service.get(), SERVICE_CONFIG_PRESHUTDOWN_INFO);
  if (!refused(lines, "preshutdownTimeoutSeconds")) {
    ASSERT_FALSE(preshutdown.empty());
    EXPECT_EQ(reinterpret_cast<SERVICE_PRESHUTDOWN_INFO*>(preshutdown.data())->dwPreshutdownTimeout,
              90000u);
  }
  std::vector<BYTE> delayed = queryConfig2(service.get(), SERVICE_CONFIG_DELAYED_AUTO_START_INFO);
  if (!refused(lines, "delayedAutoStart")) {
    ASSERT_FALSE(delayed.empty());
    EXPECT_TRUE(reinterpret_cast<SERVICE_DELAYED_AUTO_START_INFO*>(delayed.data())->fDelayedAutostart);
  }
  std::vector<BYTE> flag = queryConfig2(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG);
  if (!refused(lines, "recovery (failure-actions flag)") && !refused(lines, "recovery")) {
    ASSERT_FALSE(flag.empty());
    EXPECT_TRUE(reinterpret_cast<SERVICE_FAILURE_ACTIONS_FLAG*>(flag.data())->fFailureActionsOnNonCrashFailures);
  }
  // Where the system keeps failure actions, they are the plan's.
  std::vector<BYTE> actions = queryConfig2(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS);
  const auto* stored = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(actions.data());
  if (!refused(lines, "recovery") && !actions.empty() && stored->cActions != 0) {
    EXPECT_EQ(stored->dwResetPeriod, 7200u);
    ASSERT_EQ(stored->cActions, 2u);
    EXPECT_EQ(stored->lpsaActions[0].Type, SC_ACTION_RESTART);
    EXPECT_EQ(stored->lpsaActions[0].Delay, 5000u);
    EXPECT_EQ(stored->lpsaActions[1].Type, SC_ACTION_NONE);
  }
  EXPECT_TRUE(DeleteService(service.get()));
}

}  // namespace
