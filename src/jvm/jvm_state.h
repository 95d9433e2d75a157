// The Java runtime search's part of the process-wide state: what the search
// chose, for the VM launch. Written once by the search on the service main
// thread, read by the launch on the same thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct JvmState {
  std::string javaExe;  // the accepted java executable (java.exe or javaw.exe)
  // The version the probe found for each executable it accepted (the search
  // may accept several before it chooses): the start cache keys on it.
  std::map<std::string, std::string> acceptedVersions;
  std::string jvmHome;  // %KERNO_JVM_HOME%: the executable's directory plus ".."
  std::string vmLibrary;  // the JVM library that was loaded, for the event log
  // JNI_CreateJavaVM as exported by the loaded library, kept untyped here;
  // the launch casts it to the JNI invocation signature (JNICALL).
  void (*createJavaVM)() = nullptr;
  // The executables of runtimes the search skipped because their JVM
  // library is of another machine type, and the type of the first one (for
  // MSG_NO_JVM's note).
  std::vector<std::string> otherMachineRuntimes;
  uint16_t otherMachine = 0;
};

JvmState& jvmState();
