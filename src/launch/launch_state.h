// The VM launch's part of the process-wide state: the VM that the launch
// created, for the exit request at stop, used only on the service main
// thread, which created it; and the status of the VM's exit. (jni.h's C++ names, declared here so that this
// header does not need jni.h.)
#pragma once

#include <atomic>
#include <memory>

struct JavaVM_;
struct JNIEnv_;
struct LaunchState {
  JavaVM_* vm = nullptr;   // none until JNI_CreateJavaVM succeeded
  JNIEnv_* env = nullptr;  // the creating thread's environment
  // The initialisation record and its option strings, which the VM was given
  // pointers into: kept for the life of the process (its type is private to
  // launch/java_vm_launcher.cpp).
  std::shared_ptr<void> vmInitRecord;
  // Set by the VM's exit hook (any thread): the status System.exit or
  // Runtime.halt was given, for the exit handlers that run after it.
  std::atomic<bool> vmExiting{false};
  std::atomic<int> vmExitStatus{0};
};

LaunchState& launchState();
