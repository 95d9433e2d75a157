// The stop method: a static method of the application that the launcher
// calls at a stop before System.exit(0) (key 30029 `stopMethod`), on a thread
// of its own attached to the VM as a daemon, waited for at most its
// time-out. Depends on jni.h only, so it also runs natively against a real
// HotSpot.
//
// JNI functions called (a JNI double must provide them): FindClass,
// GetStaticMethodID, NewObjectArray, NewString, SetObjectArrayElement,
// DeleteLocalRef, CallStaticVoidMethodA, CallStaticObjectMethodA,
// ExceptionOccurred, ExceptionDescribe, ExceptionClear, GetStringLength,
// GetStringUTFRegion, and AttachCurrentThreadAsDaemon and
// DetachCurrentThread of the invocation interface.
#pragma once

#include <jni.h>

#include <cstdint>
#include <string>
#include <vector>

#include "config/stop_method_setting.h"

// The name the stop method's thread has in the VM (thread dumps show it).
inline constexpr const char* kStopMethodThreadName = "kerno stop method";
// The longest description of what the stop method threw that is kept.
inline constexpr size_t kMaxThrownText = 2000;

struct StopMethodCall {
  StopMethodSetting setting;
  std::vector<std::u16string> arguments;  // the setting's, as the VM gets them
};

enum class StopMethodResult { returned, threw, notFound, failed, timedOut };

struct StopMethodOutcome {
  StopMethodResult result = StopMethodResult::failed;
  std::string detail;  // what was thrown, what is missing, what failed
};

// Calls the method on a new thread and waits for it at most
// setting.timeoutSeconds; a call still running then is left to itself (its
// thread holds nothing the VM's exit waits for). What it threw is also
// described by the VM on its standard error stream.
StopMethodOutcome callStopMethod(JavaVM* vm, const StopMethodCall& call);

// The call on the calling thread, attached to the VM already.
StopMethodOutcome invokeStopMethod(JNIEnv* env, const StopMethodCall& call);

// The line the log and the event log get about an outcome; empty when the
// method returned.
std::string stopMethodOutcomeLine(const StopMethodSetting& setting, const StopMethodOutcome& outcome);
