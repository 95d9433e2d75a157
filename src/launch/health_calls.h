// The launcher's calls into the VM from threads of its own: attaching and
// detaching such a thread, the wait for the application's end
// (com.kerno.runtime.WinLauncher.awaitEnd), and the watchdog's: the thread dump of the runtime jar (com.kerno.runtime.
// ThreadDumps.dump) handed out in pieces, and the checks that need the VM
// (com.kerno.runtime.Health.check: deadlock, method, heartbeat, ready).
// Depends on jni.h only, so it also runs natively against a real HotSpot.
//
// JNI functions called (a JNI double must provide them): FindClass,
// GetStaticMethodID, CallStaticObjectMethodA, NewStringUTF, GetArrayLength,
// GetByteArrayRegion, GetStringUTFLength, GetStringUTFRegion,
// GetStringLength, ExceptionOccurred, ExceptionClear, DeleteLocalRef, and
// AttachCurrentThreadAsDaemon and DetachCurrentThread of the invocation
// interface.
#pragma once

#include <jni.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

inline constexpr const char* kHealthClass = "com/kerno/runtime/Health";
inline constexpr const char* kThreadDumpsClass = "com/kerno/runtime/ThreadDumps";
inline constexpr const char* kApplicationEndClass = "com/kerno/runtime/WinLauncher";
// The longest reason of a failed check that is kept (the log line's part).
inline constexpr size_t kMaxCheckReason = 1000;
// The pieces a dump is handed out in.
inline constexpr size_t kDumpPieceBytes = 64 * 1024;

// Attaches the calling thread to the VM as a daemon (it never holds the VM's
// exit) under `name`; nullptr when the VM refuses.
JNIEnv* attachLauncherThread(JavaVM* vm, const char* name);

// Detaches the calling thread, attached by attachLauncherThread, from the VM
// once its work is done: the VM's exit waits up to about 300 ms for attached
// threads that are in native code, and a thread idle in the launcher is.
void detachLauncherThread(JavaVM* vm);

// Asks the runtime jar for a thread dump and hands it to `write` in pieces
// of at most kDumpPieceBytes (UTF-8 text). False with `why` when the VM
// could not make it or `write` refused a piece.
bool streamThreadDump(JNIEnv* env, const std::function<bool(const char*, size_t)>& write,
                      std::string& why);

// Clears a pending exception; true when there was one.
bool clearPendingException(JNIEnv* env);

// A Java string as UTF-8 (modified: U+0000 as two bytes) of at most
// `maxBytes` bytes, cut at a character with "..." added; false when the VM
// failed to give it (its exception is cleared).
bool readJavaText(JNIEnv* env, jstring text, size_t maxBytes, std::string& out);

// One VM check ("deadlock", "ready", "heartbeat=<seconds>",
// "method=<pkg.Class.method>"): true when healthy, else false with `why`
// (at most kMaxCheckReason bytes).
bool runVmCheck(JNIEnv* env, std::string_view check, std::string& why);

// How the application ended, as WinLauncher.awaitEnd tells it.
struct ApplicationEnd {
  enum class Kind {
    finished,   // its main returned and no thread that is not a daemon is left
    threw,      // its main threw and no such thread is left; `text` says what
    unwatched,  // the runtime jar cannot tell (the call failed); `text` says why
  } kind = Kind::unwatched;
  std::string text;  // "class: message", at most kMaxCheckReason bytes
};

// On a thread attached to the VM: blocks until the application has ended
// (never, while it runs; never, once the VM is shutting down).
ApplicationEnd awaitApplicationEnd(JNIEnv* env);
