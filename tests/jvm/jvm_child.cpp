// One launch against a real HotSpot, in a process of its own (a VM can be
// created once per process): the launch code of launch/java_vm_launcher.cpp
// with the option and parameter rules of launch/vm_options.cpp, fed from the
// command line instead of a configuration block. jvm_launch_test.cpp runs it
// and reads what it leaves behind.
//
//   kerno_jvm_child --libjvm PATH --class-path CP [--flavour e|i]
//       [--main-class NAME] [--stdout FILE] [--stderr FILE] [--arguments TEXT]
//       [--vm-parameters TEXT] [--marker 0|1] [--j-options 0|1]
//       [--exit-marker FILE] [--await 0|1] [--output-rotation MAXBYTES,KEEP]
//       [--health DUMPFILE] [--checks CHECK,...] [--stop-method STORED-TEXT]
//       [--until-end 0|1] [--stop-file FILE] [--start-cache DIR --java-version VERSION]
//       -- LAUNCH-ARGUMENTS...
//
// Log lines go to standard output as "INFO: ..." and "ERROR: ...", messages
// as "MESSAGE: <key> <value>" and "FATAL: <key> <value>". Exit codes: the
// VM's (0 after requestVmExit), 1 after a fatal message, 3 for a failed
// launch, 4 when requestVmExit returned. With --health, after the
// application's main the watchdog's VM calls run on threads of their own
// (launch/health_calls.cpp): a thread dump to DUMPFILE, then each check of
// kHealthChecks with a deadline, reported as "CHECK <check>: ok", "...:
// failed: <why>" or "...: no answer within the time-out"; --checks names
// the checks instead. Every attached thread detaches when its call is done.
// --stop-method: the stop method before the exit request, logged as the
// product logs it (not after the application's end).
//
// With --until-end 1 a thread of its own waits for the application's end
// (awaitApplicationEnd): "INFO: the application finished" and the exit
// request with 0, or "ERROR: the application's main threw <what>" and the
// exit request with svc::kExitMainThrew (1103; the process's exit code is
// its low byte). With --stop-file the launch thread waits until FILE exists
// (or that end) before the health calls and the exit request. The VM's exit
// hook writes "INFO: exit hook: status N" and "TIME: exit request to exit
// hook: N us" (the benchmark bench/stop_after_dump.sh reads it).
// With --start-cache, the start cache of launch/start_cache.cpp keeps the
// service's class-data archive in DIR (which the caller made private), for a
// runtime of VERSION.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <memory>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <mutex>
#include <optional>

#include "launch/health_calls.h"
#include "launch/java_vm_launcher.h"
#include "launch/start_cache.h"
#include "launch/stop_method.h"
#include "launch/vm_options.h"
#include "service/scm_status_table.h"

namespace {

constexpr int kExitFatal = 1;
constexpr int kExitLaunchFailed = 3;
constexpr int kExitVmExitReturned = 4;
// HotSpot wants room on the thread that creates it, as the service main
// thread of the dispatcher gives it.
constexpr size_t kLaunchThreadStack = 16u << 20;

std::map<std::string, std::string> gOptions;
std::vector<std::u16string> gLaunchArguments;
LaunchState gState;
StartCacheRun gStartCache;

std::string option(const std::string& name, const std::string& fallback = "") {
  auto it = gOptions.find(name);
  return it == gOptions.end() ? fallback : it->second;
}

void say(const char* kind, const std::string& text) {
  std::printf("%s: %s\n", kind, text.c_str());
  std::fflush(stdout);
}

[[noreturn]] void leave(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(code);
}

std::u16string fromUtf8(const std::string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    char32_t code = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra && i + static_cast<size_t>(k) < text.size(); ++k) {
      code = (code << 6) | (static_cast<unsigned char>(text[i + static_cast<size_t>(k)]) & 0x3F);
    }
    i += static_cast<size_t>(extra) + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return out;
}

// ASCII as it is, everything else '?': the log's view of a parameter.
std::string asciiOrQuestionMark(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

void exitHandler() {
  std::string marker = option("--exit-marker");
  if (marker.empty()) return;
  if (std::FILE* file = std::fopen(marker.c_str(), "w")) {
    std::fputs("exit handler ran\n", file);
    std::fclose(file);
  }
}

// The start cache's file calls, over POSIX.
StartCacheSystem startCacheSystem() {
  StartCacheSystem sys;
  sys.separator = '/';
  sys.pathListSeparator = ':';
  sys.fileFacts = [](const std::string& path, uint64_t& size, uint64_t& lastWrite) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    size = static_cast<uint64_t>(st.st_size);
    lastWrite = static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000u +
                static_cast<uint64_t>(st.st_mtim.tv_nsec);
    return true;
  };
  sys.exists = [](const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
  };
  sys.readFile = [](const std::string& path, size_t limit) {
    std::string text;
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW);
    if (fd < 0) return text;
    text.resize(limit);
    ssize_t got = read(fd, text.data(), limit);
    close(fd);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
  };
  sys.writeNewFile = [](const std::string& path, const std::string& text) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return close(fd) == 0 && ok;
  };
  sys.removeFile = [](const std::string& path) { unlink(path.c_str()); };
  sys.listDirectory = [](const std::string& directory) {
    std::vector<std::string> names;
    if (DIR* d = opendir(directory.c_str())) {
      while (dirent* e = readdir(d)) names.emplace_back(e->d_name);
      closedir(d);
    }
    return names;
  };
  sys.logInfo = [](const std::string& line) { say("INFO", line); };
  sys.logError = [](const std::string& line) { say("ERROR", line); };
  return sys;
}

std::atomic<long long> gExitRequestedUs{0};

long long nowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch()).count();
}

void JNICALL exitHook(jint status) {
  long long requested = gExitRequestedUs.load();
  say("INFO", "exit hook: status " + std::to_string(status));
  if (requested != 0) say("TIME", "exit request to exit hook: " + std::to_string(nowUs() - requested) + " us");
}

VmLaunchHooks makeHooks() {
  VmLaunchHooks hooks;
  hooks.exitHook = exitHook;
  void* library = dlopen(option("--libjvm").c_str(), RTLD_NOW);
  if (library == nullptr) {
    say("ERROR", std::string("dlopen: ") + dlerror());
    leave(kExitLaunchFailed);
  }
  hooks.createJavaVm = reinterpret_cast<CreateJavaVmFunction>(dlsym(library, "JNI_CreateJavaVM"));
  hooks.flavour = parseLauncherFlavour(option("--flavour", "e"));
  hooks.logInfo = [](const std::string& line) { say("INFO", line); };
  hooks.logError = [](const std::string& line) { say("ERROR", line); };
  hooks.showMessage = [](ConfigKey key, std::string_view, std::string_view value) {
    say("MESSAGE", std::to_string(static_cast<int>(key)) + " " + std::string(value));
  };
  hooks.fatal = [](ConfigKey key, std::string_view, std::string_view value) {
    say("FATAL", std::to_string(static_cast<int>(key)) + " " + std::string(value));
    leave(kExitFatal);
  };
  hooks.systemProperties = [] {
    SystemPropertyInputs in;
    in.flavour = parseLauncherFlavour(option("--flavour", "e"));
    in.executablePath = "/opt/kerno/kernotest.exe";
    in.outputRotation = option("--output-rotation");
    return systemPropertyOptions(in);
  };
  hooks.vmOptions =
      [](const std::vector<std::string>& properties) -> std::optional<std::vector<std::string>> {
    VmOptionSources sources;
    sources.systemProperties = properties;
    sources.classPathOption = std::string(kClassPathOptionPrefix) + option("--class-path");
    sources.vmParameters = fromUtf8(option("--vm-parameters"));
    sources.commandLineVmOptions = option("--j-options", "0") == "1";
    sources.launchArguments = gLaunchArguments;
    // The executable's directory, a path prefix and the runtime's bin, as the
    // product gathers them.
    sources.libraryPathOption = libraryPathOption({"/opt/kerno", "/opt/kerno/native", "/opt/jre/bin"});
    std::vector<std::string> options;
    LaunchProblem problem;
    if (!assembleVmOptions(sources, asciiOrQuestionMark, options, problem)) {
      say("FATAL", std::to_string(static_cast<int>(problem.message)));
      leave(kExitFatal);
    }
    if (!option("--start-cache").empty()) {
      StartCacheStart start{true, option("--start-cache"), "KernoTest",
                            option("--libjvm"), option("--java-version")};
      gStartCache = prepareStartCache(startCacheSystem(), start, options, properties.size());
    }
    return options;
  };
  hooks.firstRunMarkerExists = [] { return option("--marker", "0") == "1"; };
  hooks.mainParameters = []() -> std::optional<std::vector<std::u16string>> {
    MainParameterInputs in;
    in.mainClass = option("--main-class", "com.kerno.testapp.EchoApp");
    in.stdoutFile = fromUtf8(option("--stdout"));
    in.stdoutRedirect = in.stdoutFile.empty() ? 0 : 1;
    in.stderrFile = fromUtf8(option("--stderr"));
    in.stderrRedirect = in.stderrFile.empty() ? 0 : 1;
    in.arguments = fromUtf8(option("--arguments"));
    in.commandLineVmOptions = option("--j-options", "0") == "1" ? 1 : 0;
    std::vector<std::u16string> parameters;
    LaunchProblem problem;
    if (!buildMainParameters(in, gLaunchArguments, parameters, problem)) {
      say("FATAL", std::to_string(static_cast<int>(problem.message)));
      leave(kExitFatal);
    }
    return parameters;
  };
  hooks.textForLog = [](const std::u16string& text) { return asciiOrQuestionMark(text); };
  return hooks;
}

// Waits through JNI until the test application's main has done its work, so
// that the exit request does not race it.
void awaitApplication() {
  JNIEnv* env = gState.env;
  jclass probe = env->FindClass("com/kerno/testapp/Probe");
  jmethodID await = probe ? env->GetStaticMethodID(probe, "awaitDone", "()Z") : nullptr;
  bool done = await != nullptr && env->CallStaticBooleanMethodA(probe, await, nullptr) == JNI_TRUE;
  // Checked, as JNI demands after a call into Java (and -Xcheck:jni sees).
  if (env->ExceptionCheck() || !done) {
    env->ExceptionClear();
    say("ERROR", "the application did not finish");
  }
}

const char* const kHealthChecks[] = {
    "deadlock",
    "method=com.kerno.testapp.WatchdogApp.healthy",
    "method=com.kerno.testapp.WatchdogApp.answersFalse",
    "method=com.kerno.testapp.WatchdogApp.throwsIllegalState",
    "method=com.kerno.testapp.WatchdogApp.blocks",
    "heartbeat=1",   // the application has just beaten
    "sleep",         // its heartbeat stops for good
    "heartbeat=1",
};

// One call on a fresh attached thread, bounded as the watchdog bounds it: a
// call that blocks keeps its thread and is given up.
void runOnAttachedThread(const std::string& what, const std::function<std::string(JNIEnv*)>& call) {
  auto answer = std::make_shared<std::promise<std::string>>();
  std::future<std::string> result = answer->get_future();
  std::thread([answer, call] {
    JNIEnv* env = attachLauncherThread(gState.vm, "kerno watchdog");
    std::string text = env ? call(env) : std::string("failed: cannot attach");
    if (env != nullptr) detachLauncherThread(gState.vm);
    answer->set_value(text);
  }).detach();
  if (result.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
    say("CHECK", what + ": no answer within the time-out");
  } else {
    say("CHECK", what + ": " + result.get());
  }
}

void runHealthCalls() {
  std::string dumpFile = option("--health");
  runOnAttachedThread("dump", [&dumpFile](JNIEnv* env) -> std::string {
    std::FILE* file = std::fopen(dumpFile.c_str(), "wb");
    if (file == nullptr) return "failed: cannot create " + dumpFile;
    std::string why;
    bool ok = streamThreadDump(env, [file](const char* data, size_t size) {
      return std::fwrite(data, 1, size, file) == size;
    }, why);
    std::fclose(file);
    return ok ? "ok" : "failed: " + why;
  });
  std::vector<std::string> checks(std::begin(kHealthChecks), std::end(kHealthChecks));
  if (!option("--checks").empty()) {
    checks.clear();
    std::string list = option("--checks");
    for (size_t at = 0; at <= list.size();) {
      size_t comma = std::min(list.find(',', at), list.size());
      checks.push_back(list.substr(at, comma - at));
      at = comma + 1;
    }
  }
  for (const std::string& check : checks) {
    if (check == "sleep") {
      std::this_thread::sleep_for(std::chrono::milliseconds(2500));
      continue;
    }
    runOnAttachedThread(check, [check](JNIEnv* env) -> std::string {
      std::string why;
      return runVmCheck(env, check, why) ? "ok" : "failed: " + why;
    });
  }
}

std::mutex gEndLock;
std::condition_variable gEndSeen;
std::optional<ApplicationEnd> gEnd;

void watchApplicationEnd() {
  std::thread([] {
    JNIEnv* env = attachLauncherThread(gState.vm, "kerno application end");
    ApplicationEnd end = env ? awaitApplicationEnd(env) : ApplicationEnd{ApplicationEnd::Kind::unwatched, "cannot attach"};
    if (env != nullptr) detachLauncherThread(gState.vm);
    std::lock_guard<std::mutex> held(gEndLock);
    gEnd = end;
    gEndSeen.notify_all();
  }).detach();
}

bool exists(const std::string& path) {
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) == 0;
}

// Until the stop file exists or the application ended: the status to exit
// with, and whether the application ended.
jint awaitStopOrEnd(bool& ended) {
  std::string stopFile = option("--stop-file");
  std::unique_lock<std::mutex> held(gEndLock);
  for (;;) {
    if (gEnd && gEnd->kind == ApplicationEnd::Kind::finished) {
      say("INFO", "the application finished");
      return ended = true, 0;
    }
    if (gEnd && gEnd->kind == ApplicationEnd::Kind::threw) {
      say("ERROR", "the application's main threw " + gEnd->text);
      return ended = true, static_cast<jint>(svc::kExitMainThrew);
    }
    if (gEnd) {
      say("ERROR", "the application's end is not watched: " + gEnd->text);
      gEnd.reset();
    }
    if (stopFile.empty() && option("--until-end", "0") != "1") return 0;
    if (exists(stopFile)) return 0;
    gEndSeen.wait_for(held, std::chrono::milliseconds(20));
  }
}

void callStopMethodOption() {
  StopMethodCall call;
  std::string why;
  if (!parseStopMethod(option("--stop-method"), call.setting, why)) {
    say("FATAL", "--stop-method: " + why);
    leave(kExitFatal);
  }
  for (const std::string& argument : call.setting.arguments) call.arguments.push_back(fromUtf8(argument));
  std::string line = stopMethodOutcomeLine(call.setting, callStopMethod(gState.vm, call));
  say(line.empty() ? "INFO" : "ERROR", line.empty() ? "stop method returned" : line);
}

void* launchThread(void*) {
  VmLaunchHooks hooks = makeHooks();
  if (!launchProgram(hooks, gState)) {
    say("INFO", "launch failed");
    leave(kExitLaunchFailed);
  }
  checkStartCache(startCacheSystem(), gStartCache);
  if (option("--until-end", "0") == "1") watchApplicationEnd();
  if (option("--await", "0") == "1") awaitApplication();
  bool ended = false;
  jint status = awaitStopOrEnd(ended);
  if (!ended && !option("--health").empty()) runHealthCalls();
  if (!ended && !option("--stop-method").empty()) callStopMethodOption();
  say("INFO", "requesting VM exit");
  gExitRequestedUs.store(nowUs());
  requestVmExit(gState, status);
  say("INFO", "requestVmExit returned");
  leave(kExitVmExitReturned);
}

}  // namespace

int main(int argc, char** argv) {
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; i += 2) {
    if (i + 1 >= argc) {
      std::fprintf(stderr, "option %s needs a value\n", argv[i]);
      return 2;
    }
    gOptions[argv[i]] = argv[i + 1];
  }
  for (++i; i < argc; ++i) gLaunchArguments.push_back(fromUtf8(argv[i]));
  std::atexit(exitHandler);

  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, kLaunchThreadStack);
  pthread_t thread;
  if (pthread_create(&thread, &attr, launchThread, nullptr) != 0) return 2;
  pthread_join(thread, nullptr);  // the launch thread ends the process itself
  return 2;
}
