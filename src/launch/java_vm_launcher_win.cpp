#include "launch/java_vm_launcher_win.h"

#include "config/config_state.h"
#include "config/log_win.h"
#include "config/messages_win.h"
#include "jvm/jvm_state.h"
#include "launch/java_vm_launcher.h"
#include "launch/launch_state.h"
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
    return std::optional<std::vector<std::string>>(buildVmOptions(properties, launchArguments));
  };
  hooks.firstRunMarkerExists = firstRunMarkerExists;
  hooks.mainParameters = [&launchArguments] {
    return std::optional<std::vector<std::u16string>>(buildMainParameterList(launchArguments));
  };
  hooks.textForLog = textForLog;
  return launchProgram(hooks, launchState());
}

void requestVmExit(int status) { requestVmExit(launchState(), status); }

std::optional<int> vmExitStatus() {
  const LaunchState& state = launchState();
  if (!state.vmExiting.load()) return std::nullopt;
  return state.vmExitStatus.load();
}
