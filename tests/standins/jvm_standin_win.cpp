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
#include <deque>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

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

// UTF-16 text as a double-quoted UTF-8 string with JSON's escapes, so that a
// test reads it back exactly with json.loads.
std::string quoted(const std::u16string& text) {
  std::string utf8;
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  int size = static_cast<int>(text.size());
  int needed = size == 0 ? 0 : WideCharToMultiByte(CP_UTF8, 0, wide, size, nullptr, 0, nullptr, nullptr);
  utf8.resize(static_cast<size_t>(needed));
  if (needed > 0) WideCharToMultiByte(CP_UTF8, 0, wide, size, utf8.data(), needed, nullptr, nullptr);
  std::string out = "\"";
  for (char c : utf8) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", u);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + '"';
}

std::u16string widen(const char* text, UINT codePage) {
  int size = text == nullptr ? 0 : static_cast<int>(std::strlen(text));
  int needed = size == 0 ? 0 : MultiByteToWideChar(codePage, 0, text, size, nullptr, 0);
  std::u16string out(static_cast<size_t>(needed), u'\0');
  if (needed > 0) MultiByteToWideChar(codePage, 0, text, size, reinterpret_cast<wchar_t*>(out.data()), needed);
  return out;
}

// VM options are in the ANSI code page, JNI names in (modified) UTF-8.
std::string quotedAnsi(const char* text) { return text ? quoted(widen(text, CP_ACP)) : "null"; }
std::string quotedName(const char* text) { return text ? quoted(widen(text, CP_UTF8)) : "null"; }
std::string quotedName(const std::string& text) { return quotedName(text.c_str()); }

// -- settings -----------------------------------------------------------------

// A method's steps: word and argument.
using Steps = std::vector<std::pair<std::string, std::string>>;

struct Settings {
  jint createResult = JNI_OK;
  std::set<std::string> missing;  // classes, and Class.method of static methods
  std::map<std::string, Steps> behaviour;  // main, firstRun, exit, dump, check
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
    } else if (ok && key == "missing" && !value.empty()) {
      settings.missing.insert(value);
    } else if (ok && (key == "main" || key == "firstRun" || key == "exit" || key == "dump" || key == "check") &&
               parseSteps(value, steps)) {
      settings.behaviour[key] = steps;
    } else {
      record("ERROR jvm-standin.cfg: cannot use the line " + quotedName(line));
    }
  }
  return settings;
}

// -- the VM's objects ---------------------------------------------------------

// Every reference the double hands out points to one of these; they live as
// long as the process.
struct Object {
  std::string kind;      // class, string, array, throwable
  std::string name;      // class: its name; throwable: its class; array: element class
  std::u16string text;   // string: its characters; throwable: its message
  std::vector<const Object*> elements;
};

struct Method {
  std::string className, name, signature;
};

Settings gSettings;
std::deque<Object> gObjects;
std::deque<Method> gMethods;
const Object* gPending = nullptr;
JNINativeInterface_ gFunctions{};
JNIInvokeInterface_ gInvokeFunctions{};
JNIEnv gEnv{};
JavaVM gJavaVm{};

// The watchdog's threads call in beside the main thread.
SRWLOCK gObjectLock = SRWLOCK_INIT;

const Object* newObject(const char* kind, std::string name, std::u16string text = u"") {
  AcquireSRWLockExclusive(&gObjectLock);
  gObjects.push_back(Object{kind, std::move(name), std::move(text), {}});
  const Object* created = &gObjects.back();
  ReleaseSRWLockExclusive(&gObjectLock);
  return created;
}

const Object* object(const void* reference) { return static_cast<const Object*>(reference); }

void throwNew(const std::string& className, const std::u16string& message) {
  gPending = newObject("throwable", className, message);
}

std::string describe(const Object* o) {
  if (o == nullptr) return "null";
  return o->kind == "string" ? quoted(o->text) : o->kind + " " + quotedName(o->name);
}

// -- behaviour of the Java methods --------------------------------------------

[[noreturn]] void endProcess(long status) {
  record("exit " + std::to_string(status));
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
      throwNew(thrown, u"thrown by the stand-in");
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

// -- the JNI functions the launcher calls --------------------------------------

jclass JNICALL findClass(JNIEnv*, const char* name) {
  if (gSettings.missing.count(name)) {
    record("FindClass " + quotedName(name) + " -> null");
    throwNew("java/lang/NoClassDefFoundError", widen(name, CP_UTF8));
    return nullptr;
  }
  record("FindClass " + quotedName(name) + " -> class");
  return jclass(newObject("class", name));
}

jmethodID JNICALL getStaticMethodID(JNIEnv*, jclass cls, const char* name, const char* sig) {
  const Object* owner = object(cls);
  std::string line = "GetStaticMethodID " + describe(owner) + " " + quotedName(name) + " " + quotedName(sig);
  if (gSettings.missing.count(owner->name + "." + name)) {
    record(line + " -> null");
    throwNew("java/lang/NoSuchMethodError", widen(name, CP_UTF8));
    return nullptr;
  }
  record(line + " -> method");
  AcquireSRWLockExclusive(&gObjectLock);
  gMethods.push_back(Method{owner->name, name, sig});
  const Method* created = &gMethods.back();
  ReleaseSRWLockExclusive(&gObjectLock);
  return reinterpret_cast<jmethodID>(const_cast<Method*>(created));
}

jobjectArray JNICALL newObjectArray(JNIEnv*, jsize length, jclass cls, jobject initial) {
  record("NewObjectArray " + std::to_string(length) + " " + describe(object(cls)) + " " +
         (initial == nullptr ? "null" : "initial") + " -> array");
  gObjects.push_back(Object{"array", object(cls)->name, u"", std::vector<const Object*>(size_t(length))});
  return jobjectArray(&gObjects.back());
}

jstring JNICALL newString(JNIEnv*, const jchar* chars, jsize length) {
  std::u16string text(reinterpret_cast<const char16_t*>(chars), static_cast<size_t>(length));
  record("NewString " + quoted(text) + " -> string");
  return jstring(newObject("string", "java/lang/String", text));
}

void JNICALL setObjectArrayElement(JNIEnv*, jobjectArray array, jsize index, jobject value) {
  record("SetObjectArrayElement " + std::to_string(index) + " " + describe(object(value)));
  const_cast<Object*>(object(array))->elements.at(size_t(index)) = object(value);
}

void JNICALL deleteLocalRef(JNIEnv*, jobject reference) { record("DeleteLocalRef " + describe(object(reference))); }

void JNICALL callStaticVoidMethodA(JNIEnv*, jclass, jmethodID id, const jvalue* args) {
  const Method& method = *reinterpret_cast<const Method*>(id);
  std::string line = "CallStaticVoidMethodA " + quotedName(method.className) + " " + quotedName(method.name) +
                     " " + quotedName(method.signature);
  if (method.signature == "([Ljava/lang/String;)V") {
    for (const Object* element : object(args[0].l)->elements) line += " " + describe(element);
  } else if (method.signature == "(I)V") {
    line += " " + std::to_string(args[0].i);
  }
  record(line);
  if (method.className == "com/kerno/runtime/WinLauncher" && method.name == "main") {
    perform(behaviourOf("main"), 0);
  } else if (method.className == "java/lang/System" && method.name == "exit") {
    if (!gSettings.behaviour.count("exit")) endProcess(args[0].i);
    perform(behaviourOf("exit"), args[0].i);
  } else {
    record("step return");
  }
}

jboolean JNICALL callStaticBooleanMethodA(JNIEnv*, jclass, jmethodID id, const jvalue*) {
  const Method& method = *reinterpret_cast<const Method*>(id);
  record("CallStaticBooleanMethodA " + quotedName(method.className) + " " + quotedName(method.name) + " " +
         quotedName(method.signature));
  return method.name != "firstRun" || perform(behaviourOf("firstRun"), 0) ? JNI_TRUE : JNI_FALSE;
}

// The watchdog's calls: ThreadDumps.dump gives a byte array (its text in
// `name`), Health.check null (healthy) or a reason, as the "dump" and
// "check" behaviours say.
constexpr const char* kStandinDump =
    "Full thread dump of the stand-in VM:\n\n\"main\" #1 prio=5 RUNNABLE\n\tat Main.main(Main.java:1)\n";

jobject JNICALL callStaticObjectMethodA(JNIEnv*, jclass, jmethodID id, const jvalue* args) {
  const Method& method = *reinterpret_cast<const Method*>(id);
  std::string line = "CallStaticObjectMethodA " + quotedName(method.className) + " " + quotedName(method.name) +
                     " " + quotedName(method.signature);
  if (method.signature == "(Ljava/lang/String;)Ljava/lang/String;") line += " " + describe(object(args[0].l));
  record(line);
  if (method.name == "dump") {
    if (!perform(behaviourOf("dump"), 0)) return nullptr;
    return jobject(newObject("byte[]", kStandinDump));
  }
  if (method.name == "check") {
    return perform(behaviourOf("check"), 0) ? nullptr : jobject(newObject("string", "java/lang/String", u"the stand-in says no"));
  }
  return nullptr;
}

jsize JNICALL getArrayLength(JNIEnv*, jarray array) {
  record("GetArrayLength " + describe(object(array)));
  return static_cast<jsize>(object(array)->name.size());
}

void JNICALL getByteArrayRegion(JNIEnv*, jbyteArray array, jsize start, jsize length, jbyte* out) {
  record("GetByteArrayRegion " + std::to_string(start) + " " + std::to_string(length));
  std::memcpy(out, object(array)->name.data() + start, static_cast<size_t>(length));
}

jstring JNICALL newStringUtf(JNIEnv*, const char* text) {
  record("NewStringUTF " + quotedName(text));
  return jstring(newObject("string", "java/lang/String", widen(text, CP_UTF8)));
}

jsize JNICALL getStringLength(JNIEnv*, jstring text) { return static_cast<jsize>(object(text)->text.size()); }

void JNICALL getStringUtfRegion(JNIEnv*, jstring text, jsize start, jsize length, char* out) {
  const std::u16string& units = object(text)->text;
  for (jsize i = 0; i < length; ++i) *out++ = char(units[size_t(start + i)] < 0x80 ? units[size_t(start + i)] : '?');
  *out = '\0';
}

void JNICALL exceptionClear(JNIEnv*) {
  record("ExceptionClear");
  gPending = nullptr;
}

jint JNICALL attachCurrentThreadAsDaemon(JavaVM*, void** env, void* args) {
  const auto* attach = static_cast<const JavaVMAttachArgs*>(args);
  record("AttachCurrentThreadAsDaemon " + quotedName(attach && attach->name ? attach->name : "") + " -> 0");
  *env = &gEnv;
  return JNI_OK;
}

jthrowable JNICALL exceptionOccurred(JNIEnv*) {
  record("ExceptionOccurred -> " + describe(gPending));
  return jthrowable(gPending);
}

void JNICALL exceptionDescribe(JNIEnv*) {
  if (gPending == nullptr) {
    record("ExceptionDescribe none");
    return;
  }
  record("ExceptionDescribe " + describe(gPending) + " " + quoted(gPending->text));
  // What a VM prints, to the process's standard error.
  std::string name = gPending->name;
  for (char& c : name) c = c == '/' ? '.' : c;
  std::fprintf(stderr, "Exception in thread \"main\" %s\n", name.c_str());
  std::fflush(stderr);
  gPending = nullptr;
}

jint JNICALL destroyJavaVm(JavaVM*) {
  record("DestroyJavaVM -> 0");
  return JNI_OK;
}

// Every other slot of the function tables: a launcher that starts calling a
// function the double lacks fails its tests visibly. The trap never returns.
void JNICALL unimplemented() {
  record("ERROR a JNI function the stand-in does not implement");
  std::fflush(nullptr);
  ExitProcess(70);
}

// The tables are structs of function pointers behind a few reserved ones.
template <typename Table>
void fillWithTraps(Table& table, size_t reserved) {
  void (JNICALL *trap)() = unimplemented;
  for (size_t i = reserved; i < sizeof(Table) / sizeof(void*); ++i) {
    std::memcpy(reinterpret_cast<char*>(&table) + i * sizeof(void*), &trap, sizeof trap);
  }
}

void buildTables() {
  fillWithTraps(gFunctions, 4);
  gFunctions.FindClass = findClass;
  gFunctions.GetStaticMethodID = getStaticMethodID;
  gFunctions.NewObjectArray = newObjectArray;
  gFunctions.NewString = newString;
  gFunctions.SetObjectArrayElement = setObjectArrayElement;
  gFunctions.DeleteLocalRef = deleteLocalRef;
  gFunctions.CallStaticVoidMethodA = callStaticVoidMethodA;
  gFunctions.CallStaticBooleanMethodA = callStaticBooleanMethodA;
  gFunctions.ExceptionOccurred = exceptionOccurred;
  gFunctions.ExceptionDescribe = exceptionDescribe;
  gFunctions.CallStaticObjectMethodA = callStaticObjectMethodA;
  gFunctions.GetArrayLength = getArrayLength;
  gFunctions.GetByteArrayRegion = getByteArrayRegion;
  gFunctions.NewStringUTF = newStringUtf;
  gFunctions.GetStringLength = getStringLength;
  gFunctions.GetStringUTFRegion = getStringUtfRegion;
  gFunctions.ExceptionClear = exceptionClear;
  fillWithTraps(gInvokeFunctions, 3);
  gInvokeFunctions.DestroyJavaVM = destroyJavaVm;
  gInvokeFunctions.AttachCurrentThreadAsDaemon = attachCurrentThreadAsDaemon;
  gEnv.functions = &gFunctions;
  gJavaVm.functions = &gInvokeFunctions;
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
  }
  record("JNI_CreateJavaVM -> " + std::to_string(gSettings.createResult));
  if (gSettings.createResult != JNI_OK) return gSettings.createResult;
  buildTables();
  *vm = &gJavaVm;
  *env = &gEnv;
  return JNI_OK;
}

#endif
