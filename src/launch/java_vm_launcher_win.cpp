#include "launch/java_vm_launcher_win.h"

#include "common/launcher_state.h"
#include "config/log_win.h"
#include "config/messages_win.h"
#include "launch/java_vm_launcher.h"
#include "launch/vm_options_win.h"

bool launchProgram(const std::vector<std::u16string>& launchArguments) {
  LauncherState& state = launcher();
  VmLaunchHooks hooks;
  // The search kept the entry point untyped; this is its JNI type.
  hooks.createJavaVm = reinterpret_cast<CreateJavaVmFunction>(state.jvm.createJavaVM);
  hooks.flavour = state.flavour;
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
    return std::optional<std::vector<std::string>>(buildVmOptions(properties, launchArguments));
  };
  hooks.firstRunMarkerExists = firstRunMarkerExists;
  hooks.mainParameters = [&launchArguments] {
    return std::optional<std::vector<std::u16string>>(buildMainParameterList(launchArguments));
  };
  hooks.textForLog = textForLog;
  return launchProgram(hooks, state.launch);
}

void requestVmExit() { requestVmExit(launcher().launch); }
