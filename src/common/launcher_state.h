// The launcher's process-wide state, in one place. Start-up fills it on the
// main thread before any other thread exists; Win32 callbacks (the service
// main routine, the control handlers, the exit handler) reach it through
// launcher(). Nothing here takes a lock of its own (the service status is
// written under the service runtime's lock): see docs/architecture.md.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "config/config_block.h"
#include "config/config_keys.h"
#include "config/exit_duties.h"
#include "service/service_status.h"

enum class MessageMode { messageBox, console };

struct MessageState {
  MessageMode mode = MessageMode::messageBox;
  bool firstDisplayDone = false;  // window activation skips the first message
  uint32_t targetProcessId = 0;   // process whose windows are being activated
  ExitDutyTable exitDuties;       // registered by their owners at start
  void (*listener)(const std::string& text) = nullptr;  // sees every message (event log)
};

struct LogState {
  bool opened = false;      // the one-time opening was attempted
  bool hasName = false;     // a log file name was chosen
  std::string fileName;
  std::FILE* stream = nullptr;
};

enum class LongPathImpl { unresolved, system, emulated };

struct PathCache {
  bool executablePathComputed = false;
  std::string executablePath;  // short, lower case, backslashes collapsed
  bool exeDirectoryComputed = false;
  std::string exeDirectory;    // with its trailing backslash
  LongPathImpl longPath = LongPathImpl::unresolved;
};

struct ExtractionState {
  std::string extractionDirectory;  // empty when nothing is included
  // The launcher's private directory when nothing is included: made on first
  // use by the thread that runs the Java search and the launch.
  std::string workDirectory;
  // Guarded by extraction_win's lock once other threads exist.
  std::vector<std::string> extractedFiles;
  std::vector<std::string> extractedDirs;
  std::vector<std::string> launcherFiles;  // the launcher's own files in its private directory
};

// What the Java runtime search chose, for the VM launch. Written once by the
// search on the service main thread, read by the launch on the same thread.
struct JvmState {
  std::string javaExe;  // the accepted java executable (java.exe or javaw.exe)
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

// The VM that the launch created, for the exit request at stop. Used only on
// the service main thread, which created it. (jni.h's C++ names, declared
// here so that this header does not need jni.h.)
struct JavaVM_;
struct JNIEnv_;
struct LaunchState {
  JavaVM_* vm = nullptr;   // none until JNI_CreateJavaVM succeeded
  JNIEnv_* env = nullptr;  // the creating thread's environment
  // The initialisation record and its option strings, which the VM was given
  // pointers into: kept for the life of the process (its type is private to
  // launch/java_vm_launcher.cpp).
  std::shared_ptr<void> vmInitRecord;
};

// The service runtime's status record and the hand-over from the control
// handler to the service main routine. Written by ServiceMain, the control
// handler, the exit handler and the stop time-out's progress report, each
// reporting the whole record at once under the service runtime's one lock;
// the time-out's final report reads a lock-free snapshot instead and leaves
// the record alone.
struct ServiceState {
  ServiceStatusRecord record;
  void* statusHandle = nullptr;  // SERVICE_STATUS_HANDLE; none outside a service run
  void* stopEvent = nullptr;     // auto-reset event signalled by stop and shutdown
  uint32_t stopTimeoutSeconds = 0;  // key 30006; 0: a stop waits for ever
};

// The Application event log of the service process (service/event_log_win).
// Enabled on the main thread before any other thread exists; the source is
// registered by the first entry (the threads that show messages take turns:
// start-up, then the service main thread; the exit handler comes last).
struct EventLogState {
  bool enabled = false;      // a process that goes to the service dispatcher
  bool sourceTried = false;  // RegisterEventSourceW was called
  void* source = nullptr;    // its handle; none when the call failed
};

struct LauncherState {
  ConfigTables config;
  MessageState messages;
  LogState log;
  PathCache paths;
  ExtractionState extraction;
  JvmState jvm;
  LaunchState launch;
  ServiceState service;
  EventLogState eventLog;
  std::string serviceName;
  LauncherFlavour flavour = LauncherFlavour::none;  // key 2001
};

LauncherState& launcher();
