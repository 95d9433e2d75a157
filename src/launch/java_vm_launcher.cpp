#include "launch/java_vm_launcher.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <memory>

namespace {

// The initialisation record with everything it points at.
struct VmInitRecord {
  std::vector<std::string> options;
  std::vector<JavaVMOption> entries;
  JavaVMInitArgs args{};
};

std::string format(const char* fmt, va_list args) __attribute__((format(printf, 1, 0)));
std::string format(const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (length <= 0) return std::string();
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), fmt, args);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

void info(const VmLaunchHooks& hooks, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void info(const VmLaunchHooks& hooks, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string line = format(fmt, args);
  va_end(args);
  if (hooks.logInfo) hooks.logInfo(line);
}

void error(const VmLaunchHooks& hooks, const char* line) {
  if (hooks.logError) hooks.logError(line);
}

// Prints and clears a pending exception, if any (the VM's own description).
void describePending(JNIEnv* env) {
  jthrowable pending = env->ExceptionOccurred();
  if (pending == nullptr) return;
  env->ExceptionDescribe();
  env->DeleteLocalRef(pending);
}

// The VM ran out of memory while the parameters were handed over: the launch
// cannot go on.
bool outOfMemory(const VmLaunchHooks& hooks, JNIEnv* env, const char* what, const char* code) {
  describePending(env);
  error(hooks, what);
  hooks.showMessage(ConfigKey::MSG_INTERNAL_ERROR, kPlaceholderErrorCode, code);
  return false;
}

}  // namespace

bool launchProgram(const VmLaunchHooks& hooks, LaunchState& state) {
  info(hooks, "launching program");
  if (state.vm != nullptr) {
    error(hooks, "the JVM was already created");
    return false;
  }
  std::vector<std::string> properties = hooks.systemProperties();
  if (!createJvm(hooks, state, properties)) {
    error(hooks, "could not initialize JVM");
    return false;
  }
  info(hooks, "JVM created");
  if (!callMain(hooks, state)) {
    error(hooks, "could not call main");
    return false;
  }
  info(hooks, "launch done");
  return true;
}

bool createJvm(const VmLaunchHooks& hooks, LaunchState& state,
               const std::vector<std::string>& properties) {
  std::optional<std::vector<std::string>> options = hooks.vmOptions(properties);
  if (!options) return false;
  if (options->size() > static_cast<std::size_t>(INT_MAX)) return false;

  auto record = std::make_shared<VmInitRecord>();
  record->options = std::move(*options);
  if (hooks.exitHook != nullptr) record->options.push_back(kExitHookOption);
  record->entries.reserve(record->options.size());
  for (std::string& option : record->options) {
    record->entries.push_back(JavaVMOption{option.data(), nullptr});
  }
  if (hooks.exitHook != nullptr) {
    // The VM reads the function's address from extraInfo.
    record->entries.back().extraInfo = reinterpret_cast<void*>(hooks.exitHook);
  }
  record->args.version = JNI_VERSION_1_2;
  record->args.nOptions = static_cast<jint>(record->entries.size());
  record->args.options = record->entries.data();
  record->args.ignoreUnrecognized = JNI_TRUE;

  info(hooks, "vmoption count %d", static_cast<int>(record->args.nOptions));
  for (std::size_t i = 0; i < record->options.size(); ++i) {
    info(hooks, "vmoption %d: %s", static_cast<int>(i), record->options[i].c_str());
  }

  info(hooks, "Creating JVM");
  if (hooks.createJavaVm == nullptr) return false;
  JavaVM* vm = nullptr;
  void* env = nullptr;
  if (hooks.createJavaVm(&vm, &env, &record->args) != JNI_OK || vm == nullptr || env == nullptr) {
    return false;
  }
  state.vm = vm;
  state.env = static_cast<JNIEnv*>(env);
  state.vmInitRecord = std::move(record);
  return true;
}

FirstRunDecision runFirstRunHook(const VmLaunchHooks& hooks, LaunchState& state) {
  if (!hooks.firstRunMarkerExists()) return FirstRunDecision::goOn;
  JNIEnv* env = state.env;
  jclass cls = env->FindClass(kFirstRunClass);
  if (cls == nullptr) {
    describePending(env);
    hooks.fatal(ConfigKey::MSG_INTERNAL_ERROR, kPlaceholderErrorCode, kErrorFirstRunClass);
    return FirstRunDecision::failed;
  }
  jmethodID mid = env->GetStaticMethodID(cls, kFirstRunMethod, kFirstRunSignature);
  if (mid == nullptr) {
    describePending(env);
    hooks.fatal(ConfigKey::MSG_INTERNAL_ERROR, kPlaceholderErrorCode, kErrorFirstRunMethod);
    return FirstRunDecision::failed;
  }
  jboolean result = env->CallStaticBooleanMethodA(cls, mid, nullptr);
  jthrowable thrown = env->ExceptionOccurred();
  if (thrown != nullptr) {
    env->ExceptionDescribe();
    env->DeleteLocalRef(thrown);
    return FirstRunDecision::stop;
  }
  return result != JNI_FALSE ? FirstRunDecision::goOn : FirstRunDecision::stop;
}

bool callMain(const VmLaunchHooks& hooks, LaunchState& state) {
  if (hooks.flavour == LauncherFlavour::brindle) {
    FirstRunDecision decision = runFirstRunHook(hooks, state);
    if (decision == FirstRunDecision::failed) return false;
    if (decision == FirstRunDecision::stop) {
      info(hooks, "checkFirstRun stopped further execution");
      return true;
    }
  }

  JNIEnv* env = state.env;
  info(hooks, "main class: %s", kLauncherClass);
  jclass cls = env->FindClass(kLauncherClass);
  if (cls == nullptr) {
    describePending(env);
    error(hooks, "could not find main class");
    hooks.fatal(ConfigKey::MSG_MAIN_CLASS_NOT_LOADED, {}, {});
    return false;
  }
  jmethodID mid = env->GetStaticMethodID(cls, kLauncherMethod, kLauncherSignature);
  if (mid == nullptr) {
    describePending(env);
    error(hooks, "could not find main method");
    hooks.fatal(ConfigKey::MSG_MAIN_METHOD_NOT_FOUND, {}, {});
    return false;
  }

  std::optional<std::vector<std::u16string>> parameters = hooks.mainParameters();
  if (!parameters) return false;
  if (parameters->size() > static_cast<std::size_t>(INT_MAX)) {
    return outOfMemory(hooks, env, "too many parameters", kErrorParameterArray);
  }
  jsize count = static_cast<jsize>(parameters->size());
  info(hooks, "param count: %d", static_cast<int>(count));

  jclass stringClass = env->FindClass("java/lang/String");
  jobjectArray array =
      stringClass != nullptr ? env->NewObjectArray(count, stringClass, nullptr) : nullptr;
  if (array == nullptr) {
    return outOfMemory(hooks, env, "could not create the parameter array", kErrorParameterArray);
  }
  for (jsize i = 0; i < count; ++i) {
    const std::u16string& parameter = (*parameters)[static_cast<std::size_t>(i)];
    info(hooks, "param %d: %s", static_cast<int>(i), hooks.textForLog(parameter).c_str());
    if (parameter.size() > static_cast<std::size_t>(INT_MAX)) {
      return outOfMemory(hooks, env, "could not create a parameter string", kErrorParameterString);
    }
    // char16_t and jchar are both 16-bit UTF-16 code units.
    jstring text = env->NewString(reinterpret_cast<const jchar*>(parameter.data()),
                                  static_cast<jsize>(parameter.size()));
    if (text == nullptr) {
      return outOfMemory(hooks, env, "could not create a parameter string", kErrorParameterString);
    }
    env->SetObjectArrayElement(array, i, text);
    // The array holds it now; the local reference would only fill the frame.
    env->DeleteLocalRef(text);
  }

  info(hooks, "calling main");
  jvalue argument;
  argument.l = array;
  env->CallStaticVoidMethodA(cls, mid, &argument);
  info(hooks, "main returned");
  jthrowable thrown = env->ExceptionOccurred();
  if (thrown != nullptr) {
    error(hooks, "an exception occured");
    env->ExceptionDescribe();
    env->DeleteLocalRef(thrown);
    return false;
  }
  return true;
}

void requestVmExit(LaunchState& state, jint exitStatus) {
  if (state.vm == nullptr || state.env == nullptr) return;
  JNIEnv* env = state.env;
  jclass cls = env->FindClass("java/lang/System");
  jmethodID mid = cls != nullptr ? env->GetStaticMethodID(cls, "exit", "(I)V") : nullptr;
  if (mid != nullptr) {
    jvalue status;
    status.i = exitStatus;
    env->CallStaticVoidMethodA(cls, mid, &status);
  }
  // Still here: the Java side refused to exit (or System.exit was missing).
  describePending(env);
  state.vm->DestroyJavaVM();
  state.vm = nullptr;
  state.env = nullptr;
}
