#include "launch/java_vm_launcher_win.h"

#include "common/code_page_win.h"
#include "config/config_state.h"
#include "config/log_win.h"
#include "config/messages_win.h"
#include "jvm/jvm_state.h"
#include "launch/java_vm_launcher.h"
#include "launch/launch_state.h"
#include "launch/start_cache_win.h"
#include "launch/vm_options_win.h"

bool launchProgram(const std::vector<std::u16string>& launchArguments) {
  VmLaunchHooks hooks;
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

void requestVmExit() { requestVmExit(launchState()); }
