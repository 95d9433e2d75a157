#include "launch/java_vm_launcher_win.h"

#include "common/code_page_win.h"
#include "config/config_state.h"
#include "config/log_win.h"
#include "config/messages_win.h"
#include "config/service_settings.h"
#include "config/stop_method_setting.h"
#include "jvm/jvm_state.h"
#include "launch/java_vm_launcher.h"
#include "launch/launch_state.h"
#include "launch/start_cache_win.h"
#include "launch/stop_method.h"
#include "launch/vm_options_win.h"

namespace {

// On the VM's thread, after the shutdown hooks: the exit handlers that the
// C runtime's exit runs next read the status.
void JNICALL noteVmExit(jint status) {
  launchState().vmExitStatus.store(status);
  launchState().vmExiting.store(true);
}

}  // namespace

bool launchProgram(const std::vector<std::u16string>& launchArguments) {
  VmLaunchHooks hooks;
  hooks.exitHook = noteVmExit;
  // The search kept the entry point untyped; this is its JNI type.
  hooks.createJavaVm = reinterpret_cast<CreateJavaVmFunction>(jvmState().createJavaVM);
  hooks.flavour = launcherFlavour();
  hooks.logInfo = [](const std::string& line) { logInfo("%s", line.c_str()); };
  hooks.logError = [](const std::string& line) { logError("%s", line.c_str()); };
  hooks.showMessage = [](ConfigKey key, std::string_view placeholder, std::string_view value) {
    showMessageByKey(key, placeholder, value);
  };
  hooks.fatal = [](ConfigKey key, std::string_view placeholder, std::string_view value) {
    fatalErrorByKey(key, placeholder, value);
  };
  hooks.systemProperties = buildSystemProperties;
  hooks.vmOptions = [&launchArguments](const std::vector<std::string>& properties) {
    std::vector<std::string> options = buildVmOptions(properties, launchArguments);
    // The cache's options go right after the launcher's own properties,
    // before everything the description and the start parameters give.
    if (!launchArguments.empty()) {
      applyStartCache(options, properties.size(), fromUtf16(launchArguments.front(), CP_ACP));
    }
    return std::optional<std::vector<std::string>>(std::move(options));
  };
  hooks.firstRunMarkerExists = firstRunMarkerExists;
  hooks.mainParameters = [&launchArguments] {
    return std::optional<std::vector<std::u16string>>(buildMainParameterList(launchArguments));
  };
  hooks.textForLog = textForLog;
  bool launched = launchProgram(hooks, launchState());
  if (launched) checkStartCacheAfterCreate();
  return launched;
}

std::optional<std::string> callConfiguredStopMethod() {
  const std::string* stored = storedSetting(configTables(), ConfigKey::stopMethod);
  if (stored == nullptr || launchState().vm == nullptr) return std::nullopt;
  StopMethodCall call;
  std::string why;
  if (!parseStopMethod(*stored, call.setting, why)) {
    std::string line = damagedSettingLine(DamagedSetting{"stopMethod", why});
    logError("%s", line.c_str());
    return line;
  }
  // The block's texts are in the ANSI code page, as the application's arguments.
  for (const std::string& argument : call.setting.arguments) call.arguments.push_back(toUtf16(argument, CP_ACP));
  logInfo("calling the stop method %s.%s (time-out %u seconds)", call.setting.className.c_str(),
          call.setting.method.c_str(), static_cast<unsigned>(call.setting.timeoutSeconds));
  std::string line = stopMethodOutcomeLine(call.setting, callStopMethod(launchState().vm, call));
  if (line.empty()) {
    logInfo("the stop method returned");
    return std::nullopt;
  }
  logError("%s", line.c_str());
  return line;
}

void requestVmExit(int status) { requestVmExit(launchState(), status); }

std::optional<int> vmExitStatus() {
  const LaunchState& state = launchState();
  if (!state.vmExiting.load()) return std::nullopt;
  return state.vmExitStatus.load();
}
