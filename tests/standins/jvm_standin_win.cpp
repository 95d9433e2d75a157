// Stand-in for a runtime's bin\<type>\jvm.dll: a recording JNI double.
//
// Loading it appends "loaded <its path>" to jvm-standin.loads beside it, so
// the tests see which library the launcher took. Built with
// KERNO_STANDIN_WITHOUT_ENTRY it exports nothing (a damaged runtime).
// Otherwise it exports JNI_CreateJavaVM (on x86 __stdcall, under the plain
// and the decorated name, as a 32-bit runtime does) and plays the VM: it
// implements the JNI functions the launcher calls, records every call with
// its arguments in jvm-standin.calls and follows jvm-standin.cfg, both beside
// it (docs/testing.md describes both). Whether the launcher uses JNI as JNI
// demands is checked by the real-JVM tier under -Xcheck:jni, not here.
#include <windows.h>

#include <jni.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "jni_double.h"
#include "standin_common_win.h"

#ifdef KERNO_STANDIN_HELPER
extern "C" __declspec(dllimport) const char* kernoHelperOrigin();
#endif

namespace {
HMODULE gSelf = nullptr;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    gSelf = instance;
    char path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(instance, path, sizeof path);
    std::string self = n > 0 && n < sizeof path ? std::string(path, n) : std::string("?");
    appendRecord(moduleDirectory(instance) + "jvm-standin.loads", "loaded " + self);
#ifdef KERNO_STANDIN_HELPER
    // Which kernohelper.dll the loader resolved the import with.
    HMODULE helper = GetModuleHandleA("kernohelper.dll");
    n = helper ? GetModuleFileNameA(helper, path, sizeof path) : 0;
    appendRecord(moduleDirectory(instance) + "jvm-standin.loads",
                 std::string("helper ") + kernoHelperOrigin() + " " + (n > 0 && n < sizeof path ? path : "?"));
#endif
  }
  return TRUE;
}

#ifndef KERNO_STANDIN_WITHOUT_ENTRY

namespace {

// How long a "wait FILE" step waits at most, and how often it looks.
constexpr DWORD kWaitLimitMs = 120000;
constexpr DWORD kWaitPollMs = 50;

SRWLOCK gRecordLock = SRWLOCK_INIT;

std::string directory() { return moduleDirectory(gSelf); }

void record(const std::string& line) {
  AcquireSRWLockExclusive(&gRecordLock);
  appendRecord(directory() + "jvm-standin.calls", line);
  ReleaseSRWLockExclusive(&gRecordLock);
}

using jni_double::quoted;

// VM options are in the ANSI code page, JNI names in (modified) UTF-8.
std::string quotedAnsi(const char* text) {
  if (text == nullptr) return "null";
  int size = static_cast<int>(std::strlen(text));
  int needed = size == 0 ? 0 : MultiByteToWideChar(CP_ACP, 0, text, size, nullptr, 0);
  std::u16string wide(static_cast<size_t>(needed), u'\0');
  if (needed > 0) MultiByteToWideChar(CP_ACP, 0, text, size, reinterpret_cast<wchar_t*>(wide.data()), needed);
  return quoted(wide);
}
std::string quotedName(const std::string& text) { return jni_double::quotedUtf8(text); }

// -- settings -----------------------------------------------------------------

// A method's steps: word and argument.
using Steps = std::vector<std::pair<std::string, std::string>>;

struct Settings {
  jint createResult = JNI_OK;
  std::set<std::string> missing;  // classes, and Class.method of static methods
  std::map<std::string, Steps> behaviour;  // main, firstRun, exit, dump, check
  std::vector<std::string> environment;    // variables recorded at VM creation
};

std::string trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return std::string();
  return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

bool isNumber(const std::string& text) {
  char* rest = nullptr;
  std::strtol(text.c_str(), &rest, 10);
  return !text.empty() && *rest == '\0';
}

bool knownStep(const std::string& word, const std::string& argument) {
  if (word == "sleep") return isNumber(argument) && argument[0] != '-';
  if (word == "wait") return !argument.empty() && argument.find_first_of("\\/:") == std::string::npos;
  if (word == "exit") return argument.empty() || isNumber(argument);
  if (word == "return") return argument.empty() || argument == "true" || argument == "false";
  return word == "throw" || (word == "hang" && argument.empty());
}

bool parseSteps(const std::string& text, Steps& steps) {
  for (size_t pos = 0; pos <= text.size();) {
    size_t end = text.find(';', pos);
    if (end == std::string::npos) end = text.size();
    std::string step = trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (step.empty()) continue;
    size_t blank = step.find(' ');
    std::string word = step.substr(0, blank);
    std::string argument = blank == std::string::npos ? std::string() : trim(step.substr(blank));
    if (!knownStep(word, argument)) return false;
    steps.emplace_back(word, argument);
  }
  return true;
}

// Reads jvm-standin.cfg; a line the double does not understand is recorded
// as an error, so that a mistyped setting fails the test that wrote it.
Settings readSettings() {
  Settings settings;
  parseSteps("exit 0", settings.behaviour["main"]);
  std::string content = readSmallFile(directory() + "jvm-standin.cfg");
  for (size_t pos = 0; pos < content.size();) {
    size_t end = content.find('\n', pos);
    if (end == std::string::npos) end = content.size();
    std::string line = trim(content.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == '#') continue;
    size_t equals = line.find('=');
    std::string key = trim(line.substr(0, equals));
    std::string value = equals == std::string::npos ? std::string() : trim(line.substr(equals + 1));
    Steps steps;
    bool ok = equals != std::string::npos;
    if (ok && key == "create" && isNumber(value)) {
      settings.createResult = static_cast<jint>(std::atol(value.c_str()));
    } else if (ok && key == "env" && !value.empty()) {
      settings.environment.push_back(value);
    } else if (ok && key == "missing" && !value.empty()) {
      settings.missing.insert(value);
    } else if (ok && (key == "main" || key == "firstRun" || key == "exit" || key == "dump" || key == "check" ||
                      key == "end" || key == "stop") &&
               parseSteps(value, steps)) {
      settings.behaviour[key] = steps;
    } else {
      record("ERROR jvm-standin.cfg: cannot use the line " + quotedName(line));
    }
  }
  return settings;
}

Settings gSettings;
jni_double::Double gDouble;
// The "exit" option's hook, called on the System.exit path as HotSpot calls it.
void(JNICALL* gExitHook)(jint) = nullptr;

// -- behaviour of the Java methods --------------------------------------------

[[noreturn]] void endProcess(long status) {
  record("exit " + std::to_string(status));
  if (gExitHook != nullptr) gExitHook(static_cast<jint>(status));
  std::fflush(nullptr);
  // As HotSpot's System.exit ends the process: the C runtime's exit path,
  // so the launcher's exit handlers run.
  std::exit(static_cast<int>(status));
}

// Runs a method's steps; returns its boolean result (true without one).
bool perform(const Steps& steps, long exitStatus) {
  for (const auto& [word, argument] : steps) {
    if (word == "sleep") {
      record("step sleep " + argument);
      Sleep(static_cast<DWORD>(std::atol(argument.c_str())));
    } else if (word == "wait") {
      record("step wait " + quotedName(argument));
      std::string file = directory() + argument;
      DWORD waited = 0;
      while (GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES && waited < kWaitLimitMs) {
        Sleep(kWaitPollMs);
        waited += kWaitPollMs;
      }
      if (waited >= kWaitLimitMs) record("step wait timed out");
    } else if (word == "hang") {
      record("step hang");
      for (;;) Sleep(INFINITE);
    } else if (word == "throw") {
      std::string thrown = argument.empty() ? "java/lang/IllegalStateException" : argument;
      record("step throw " + quotedName(thrown));
      gDouble.throwNew(thrown, u"thrown by the stand-in");
      return false;
    } else if (word == "exit") {
      endProcess(argument.empty() ? exitStatus : std::atol(argument.c_str()));
    } else {
      record(argument.empty() ? "step return" : "step return " + argument);
      return argument != "false";
    }
  }
  record("step return");
  return true;
}

const Steps& behaviourOf(const char* name) {
  static const Steps none;
  auto found = gSettings.behaviour.find(name);
  return found == gSettings.behaviour.end() ? none : found->second;
}

// Every other slot of the function tables: a launcher that starts calling a
// function the double lacks fails its tests visibly. The trap never returns.
void JNICALL unimplemented() {
  record("ERROR a JNI function the stand-in does not implement");
  std::fflush(nullptr);
  ExitProcess(70);
}

void buildDouble() {
  gDouble.missing = gSettings.missing;
  gDouble.record = record;
  gDouble.perform = [](const std::string& method, jint status) -> jboolean {
    if (method == "exit" && !gSettings.behaviour.count("exit")) endProcess(status);
    // Without "end" the application runs until it is stopped.
    if (method == "end" && !gSettings.behaviour.count("end")) {
      for (;;) Sleep(INFINITE);
    }
    return perform(behaviourOf(method.c_str()), status) ? JNI_TRUE : JNI_FALSE;
  };
  gDouble.buildTables(unimplemented);
}

}  // namespace

// The invocation interface's entry point, exported as JNI_CreateJavaVM by
// the .def files (on x86 also as _JNI_CreateJavaVM@12). It has a name of its
// own because jni.h declares JNI_CreateJavaVM as imported.
extern "C" jint JNICALL standinCreateJavaVM(JavaVM** vm, void** env, void* args);
static_assert(std::is_same_v<decltype(&standinCreateJavaVM), decltype(&JNI_CreateJavaVM)>,
              "the entry point must have the type jni.h gives JNI_CreateJavaVM");

extern "C" jint JNICALL standinCreateJavaVM(JavaVM** vm, void** env, void* args) {
  // The performance counter on entry, for the start-up benchmark
  // (bench/service_start.d): taken before anything else.
  LARGE_INTEGER entered;
  QueryPerformanceCounter(&entered);
  writeStamp(directory() + "jvm-standin.stamp", entered.QuadPart);
  appendRecord(directory() + "jvm-standin.loads", "JNI_CreateJavaVM");
  gSettings = readSettings();
  const auto* init = static_cast<const JavaVMInitArgs*>(args);
  char header[128];
  std::snprintf(header, sizeof header, "JNI_CreateJavaVM version=0x%08lx nOptions=%ld ignoreUnrecognized=%d",
                static_cast<unsigned long>(init->version), static_cast<long>(init->nOptions),
                static_cast<int>(init->ignoreUnrecognized));
  record(header);
  for (jint i = 0; i < init->nOptions; ++i) {
    record("option " + quotedAnsi(init->options[i].optionString) +
           (init->options[i].extraInfo != nullptr ? " extraInfo" : ""));
    if (std::strcmp(init->options[i].optionString, "exit") == 0) {
      gExitHook = reinterpret_cast<void(JNICALL*)(jint)>(init->options[i].extraInfo);
    }
  }
  for (const std::string& name : gSettings.environment) {
    char value[4096];
    DWORD n = GetEnvironmentVariableA(name.c_str(), value, sizeof value);
    record("env " + quotedName(name) + " " + (n == 0 || n >= sizeof value ? std::string("null") : quotedAnsi(value)));
  }
  record("JNI_CreateJavaVM -> " + std::to_string(gSettings.createResult));
  if (gSettings.createResult != JNI_OK) return gSettings.createResult;
  buildDouble();
  *vm = &gDouble.vm;
  *env = &gDouble.env;
  return JNI_OK;
}

#endif
