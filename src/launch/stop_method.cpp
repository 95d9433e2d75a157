#include "launch/stop_method.h"

#include <chrono>
#include <climits>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "launch/health_calls.h"

namespace {

StopMethodOutcome outcome(StopMethodResult result, std::string detail) {
  return StopMethodOutcome{result, std::move(detail)};
}

// The arguments as a String[]; nullptr when the VM is out of memory.
jobjectArray argumentArray(JNIEnv* env, const std::vector<std::u16string>& arguments) {
  if (arguments.size() > size_t(INT_MAX)) return nullptr;
  jclass stringClass = env->FindClass("java/lang/String");
  if (stringClass == nullptr) return nullptr;
  jobjectArray array = env->NewObjectArray(jsize(arguments.size()), stringClass, nullptr);
  env->DeleteLocalRef(stringClass);
  for (size_t i = 0; array != nullptr && i < arguments.size(); ++i) {
    if (arguments[i].size() > size_t(INT_MAX)) return nullptr;
    jstring text = env->NewString(reinterpret_cast<const jchar*>(arguments[i].data()), jsize(arguments[i].size()));
    if (text == nullptr) {
      env->DeleteLocalRef(array);
      return nullptr;
    }
    env->SetObjectArrayElement(array, jsize(i), text);
    env->DeleteLocalRef(text);
  }
  return array;
}

// What the throwable says of itself (its toString, through String.valueOf).
std::string thrownText(JNIEnv* env, jthrowable thrown) {
  std::string text = "an exception whose description could not be read";
  jclass stringClass = env->FindClass("java/lang/String");
  jmethodID valueOf = stringClass != nullptr
                          ? env->GetStaticMethodID(stringClass, "valueOf", "(Ljava/lang/Object;)Ljava/lang/String;")
                          : nullptr;
  if (valueOf == nullptr) {
    clearPendingException(env);
  } else {
    jvalue argument;
    argument.l = thrown;
    jobject described = env->CallStaticObjectMethodA(stringClass, valueOf, &argument);
    std::string read;
    if (!clearPendingException(env) && described != nullptr &&
        readJavaText(env, static_cast<jstring>(described), kMaxThrownText, read)) {
      text = read;
    }
    if (described != nullptr) env->DeleteLocalRef(described);
  }
  if (stringClass != nullptr) env->DeleteLocalRef(stringClass);
  return text;
}

struct Waiting {
  std::mutex lock;
  std::condition_variable done;
  bool finished = false;
  StopMethodOutcome outcome;
};

}  // namespace

StopMethodOutcome invokeStopMethod(JNIEnv* env, const StopMethodCall& call) {
  const StopMethodSetting& s = call.setting;
  jclass cls = env->FindClass(stopMethodClassPath(s).c_str());
  if (cls == nullptr) {
    clearPendingException(env);
    return outcome(StopMethodResult::notFound, "the class " + s.className + " is not on the class path");
  }
  jmethodID method = env->GetStaticMethodID(cls, s.method.c_str(), stopMethodSignature(s));
  if (method == nullptr) {
    clearPendingException(env);
    env->DeleteLocalRef(cls);
    return outcome(StopMethodResult::notFound, "the class " + s.className + " has no static method " + s.method +
                                                   stopMethodSignature(s));
  }
  jvalue argument;
  jvalue* arguments = nullptr;
  if (!s.arguments.empty()) {
    argument.l = argumentArray(env, call.arguments);
    if (argument.l == nullptr) {
      clearPendingException(env);
      env->DeleteLocalRef(cls);
      return outcome(StopMethodResult::failed, "the VM could not make its arguments (out of memory)");
    }
    arguments = &argument;
  }
  env->CallStaticVoidMethodA(cls, method, arguments);
  if (arguments != nullptr) env->DeleteLocalRef(argument.l);
  env->DeleteLocalRef(cls);
  jthrowable thrown = env->ExceptionOccurred();
  if (thrown == nullptr) return outcome(StopMethodResult::returned, "");
  env->ExceptionDescribe();  // with its stack, where System.err goes
  std::string text = thrownText(env, thrown);
  env->DeleteLocalRef(thrown);
  return outcome(StopMethodResult::threw, text);
}

StopMethodOutcome callStopMethod(JavaVM* vm, const StopMethodCall& call) {
  auto waiting = std::make_shared<Waiting>();
  try {
    std::thread([vm, call, waiting] {
      StopMethodOutcome result;
      if (JNIEnv* env = attachLauncherThread(vm, kStopMethodThreadName)) {
        result = invokeStopMethod(env, call);
        detachLauncherThread(vm);
      } else {
        result = outcome(StopMethodResult::failed, "the VM did not attach a thread for it");
      }
      std::lock_guard<std::mutex> held(waiting->lock);
      waiting->outcome = std::move(result);
      waiting->finished = true;
      waiting->done.notify_all();
    }).detach();
  } catch (const std::system_error& e) {
    return outcome(StopMethodResult::failed, std::string("no thread could be started for it (") + e.what() + ")");
  }
  std::unique_lock<std::mutex> held(waiting->lock);
  if (!waiting->done.wait_for(held, std::chrono::seconds(call.setting.timeoutSeconds),
                              [&] { return waiting->finished; })) {
    return outcome(StopMethodResult::timedOut, "");
  }
  return waiting->outcome;
}

std::string stopMethodOutcomeLine(const StopMethodSetting& s, const StopMethodOutcome& o) {
  std::string name = "the stop method " + s.className + "." + s.method;
  switch (o.result) {
    case StopMethodResult::returned: return std::string();
    case StopMethodResult::threw: return name + " threw " + o.detail + "; stopping all the same";
    case StopMethodResult::timedOut:
      return name + " did not return within its time-out of " + std::to_string(s.timeoutSeconds) +
             " seconds; stopping all the same";
    case StopMethodResult::notFound:
    case StopMethodResult::failed: return name + " could not be called: " + o.detail + "; stopping all the same";
  }
  return std::string();
}
