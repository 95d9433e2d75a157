// The VM inside the launcher's process: creation with the assembled options,
// the first-run hook, the call of com/kerno/runtime/WinLauncher.main with the
// parameter list, and the exit request at stop. Depends on jni.h only, so it
// compiles for Windows (mingw, x86 and x64) and natively, where the real-JVM
// tests drive it against HotSpot; what needs the system comes in through
// VmLaunchHooks (launch/java_vm_launcher_win.cpp fills them for the product).
//
// JNI functions called (a JNI double must provide them): FindClass,
// GetStaticMethodID, NewObjectArray, NewString, SetObjectArrayElement,
// DeleteLocalRef, CallStaticVoidMethodA, CallStaticBooleanMethodA,
// ExceptionOccurred, ExceptionDescribe, and DestroyJavaVM of the invocation
// interface. The A forms take the arguments as a jvalue array, so no variadic
// call crosses into the VM.
#pragma once

#include <jni.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_keys.h"
#include "launch/launch_state.h"

inline constexpr const char* kLauncherClass = "com/kerno/runtime/WinLauncher";
inline constexpr const char* kLauncherMethod = "main";
inline constexpr const char* kLauncherSignature = "([Ljava/lang/String;)V";
inline constexpr const char* kFirstRunClass = "com/brindle/runtime/FirstRun";
inline constexpr const char* kFirstRunMethod = "firstRun";
inline constexpr const char* kFirstRunSignature = "()Z";

// Internal error codes (message 1009) of this module. 14 and 15: the
// first-run marker exists but the hook class, or its firstRun method, is
// missing. 21 and 22: the VM could not allocate the parameter array, or one
// parameter string (it is out of memory); the launch then fails.
inline constexpr const char* kErrorFirstRunClass = "14";
inline constexpr const char* kErrorFirstRunMethod = "15";
inline constexpr const char* kErrorParameterArray = "21";
inline constexpr const char* kErrorParameterString = "22";

// JNI_CreateJavaVM with its calling convention (__stdcall on x86).
using CreateJavaVmFunction = jint(JNICALL*)(JavaVM**, void**, void*);

// The VM's exit hook (the "exit" option): called by the VM with the status
// of System.exit or Runtime.halt once the shutdown hooks have run, just
// before it ends the process.
using VmExitHook = void(JNICALL*)(jint status);

// The name of the option that carries the exit hook (in extraInfo).
inline constexpr const char* kExitHookOption = "exit";

struct VmLaunchHooks {
  CreateJavaVmFunction createJavaVm = nullptr;
  // Given to the VM after the other options when set.
  VmExitHook exitHook = nullptr;
  LauncherFlavour flavour = LauncherFlavour::none;  // brindle: the first-run hook applies

  // One line of the diagnostic log each.
  std::function<void(const std::string&)> logInfo;
  std::function<void(const std::string&)> logError;
  // A message by key; `fatal` ends the process in the product. Should it
  // return, the launch fails.
  std::function<void(ConfigKey, std::string_view placeholder, std::string_view value)> showMessage;
  std::function<void(ConfigKey, std::string_view placeholder, std::string_view value)> fatal;

  // The system properties (first of the options).
  std::function<std::vector<std::string>()> systemProperties;
  // The whole option list given the properties; nothing when it cannot be
  // built (the reason was reported; the product ends the process then).
  std::function<std::optional<std::vector<std::string>>(const std::vector<std::string>&)> vmOptions;
  // Whether the first-run marker exists (asked in the brindle flavour only).
  std::function<bool()> firstRunMarkerExists;
  // The parameters of WinLauncher.main; nothing when they cannot be built.
  std::function<std::optional<std::vector<std::u16string>>()> mainParameters;
  // A parameter as the log shows it (unrepresentable characters as '?').
  std::function<std::string(const std::u16string&)> textForLog;
};

// Creates the VM and calls WinLauncher.main. True: the VM runs and main
// returned normally, or the first-run hook declined to go on. The VM is not
// destroyed afterwards; it runs until requestVmExit. At most one launch per
// process: a second call fails.
[[nodiscard]] bool launchProgram(const VmLaunchHooks& hooks, LaunchState& state);

// Builds the options, fills the initialisation record and creates the VM;
// on success `state` holds the VM, the creating thread's environment and the
// record. A failed creation leaves `state` as it was.
[[nodiscard]] bool createJvm(const VmLaunchHooks& hooks, LaunchState& state,
                             const std::vector<std::string>& properties);

// The first-run hook (brindle flavour), then WinLauncher.main.
[[nodiscard]] bool callMain(const VmLaunchHooks& hooks, LaunchState& state);

enum class FirstRunDecision { goOn, stop, failed };

// Without the marker: go on, the hook class is not looked up. With it:
// FirstRun.firstRun decides; a throwing hook counts as false. A missing hook
// class or method is an internal error (14, 15) through `fatal`.
FirstRunDecision runFirstRunHook(const VmLaunchHooks& hooks, LaunchState& state);

// System.exit(status) on the calling thread, which must be the one that
// created the VM; should it return, the VM is destroyed (waiting for its
// non-daemon threads) and `state` cleared. Does nothing when no VM was
// created.
void requestVmExit(LaunchState& state, jint status = 0);
