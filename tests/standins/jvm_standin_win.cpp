// Stand-in for a runtime's bin\<type>\jvm.dll: a recording JNI double.
//
// Loading it appends "loaded <its path>" to jvm-standin.loads beside it, so
// the tests see which library the launcher took. Built with
// KERNO_STANDIN_WITHOUT_ENTRY it exports nothing, for the tests of a
// damaged runtime. Otherwise it exports JNI_CreateJavaVM (on x86 __stdcall,
// under the plain and the decorated name, as a 32-bit runtime does) and
// plays the VM: it implements the JNI functions the launcher calls, records
// every call with its arguments in jvm-standin.calls beside it, and follows
// the settings in jvm-standin.cfg beside it. docs/testing.md describes both
// files; in short:
//
//   create=N                  JNI_CreateJavaVM returns N (default 0)
//   missing=CLASS             FindClass does not find CLASS (a/b/C)
//   missing=CLASS.METHOD      GetStaticMethodID does not find the method
//   main=STEPS                what WinLauncher.main does (default: exit 0)
//   firstRun=STEPS            what FirstRun.firstRun does (default: return true)
//   exit=STEPS                what System.exit does (default: exit, with its status)
//
// STEPS are separated by ";": "sleep MS", "wait FILE" (until FILE exists
// beside the library, at most two minutes), "throw CLASS", "exit [N]" (the
// process ends through exit(), as HotSpot's System.exit does), "return
// [true|false]", "hang" (never returns: a shutdown hook that never ends). The
// first exit, throw or return ends the method.
#include <windows.h>

#include <jni.h>

#include <algorithm>
#include <array>
#include <cstdint>
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
// Settings files and texts beyond these are cut: the double reads what a
// test wrote, but nothing it reads may grow without bound.
constexpr size_t kMaxSettingsLine = 4096;
constexpr size_t kMaxRecordedText = 65536;

// -- recording ----------------------------------------------------------------

SRWLOCK gRecordLock = SRWLOCK_INIT;

std::string directory() { return moduleDirectory(gSelf); }

void record(const std::string& line) {
  AcquireSRWLockExclusive(&gRecordLock);
  appendRecord(directory() + "jvm-standin.calls", line);
  ReleaseSRWLockExclusive(&gRecordLock);
}

void appendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// UTF-16 text as a double-quoted string in UTF-8 with JSON's escapes, so a
// test reads every recorded text back exactly (json.loads of the token).
std::string quoted(const std::u16string& text) {
  std::string out = "\"";
  size_t n = text.size() < kMaxRecordedText ? text.size() : kMaxRecordedText;
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      appendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F || (c >= 0xD800 && c < 0xE000)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      appendUtf8(out, c);
    }
  }
  if (n < text.size()) out += "...";
  return out + '"';
}

// A narrow text as UTF-16, at most kMaxRecordedText bytes of it (a longer
// one ends in "..." when quoted).
std::u16string widen(const char* text, UINT codePage, bool* cut = nullptr) {
  if (cut != nullptr) *cut = false;
  if (text == nullptr) return u"";
  size_t length = strnlen(text, kMaxRecordedText + 1);
  if (length > kMaxRecordedText) {
    length = kMaxRecordedText;
    if (cut != nullptr) *cut = true;
  }
  if (length == 0) return u"";
  int size = static_cast<int>(length);
  int needed = MultiByteToWideChar(codePage, 0, text, size, nullptr, 0);
  if (needed <= 0) return u"?";
  std::u16string out(static_cast<size_t>(needed), u'\0');
  MultiByteToWideChar(codePage, 0, text, size, reinterpret_cast<wchar_t*>(out.data()), needed);
  return out;
}

std::string quotedNarrow(const char* text, UINT codePage) {
  if (text == nullptr) return "null";
  bool cut = false;
  std::string out = quoted(widen(text, codePage, &cut));
  if (cut) out.insert(out.size() - 1, "...");
  return out;
}

// VM options are narrow texts in the ANSI code page.
std::string quotedAnsi(const char* text) { return quotedNarrow(text, CP_ACP); }
// JNI names are (modified) UTF-8.
std::string quotedName(const char* text) { return quotedNarrow(text, CP_UTF8); }
std::string quotedName(const std::string& text) { return quotedName(text.c_str()); }

// -- settings -----------------------------------------------------------------

enum class StepKind { sleep, wait, throwing, exiting, returning, hanging };

struct Step {
  StepKind kind;
  std::string text;  // wait: file name; throw: class
  long value = 0;    // sleep: ms; exit: status; return: boolean
  bool hasValue = false;
};

struct Settings {
  jint createResult = JNI_OK;
  std::set<std::string> missing;  // classes, and Class.method of static methods
  std::map<std::string, std::vector<Step>> behaviour;  // main, firstRun, exit
};

std::string trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

bool parseSteps(const std::string& text, std::vector<Step>& steps) {
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(';', pos);
    if (end == std::string::npos) end = text.size();
    std::string step = trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (step.empty()) continue;
    size_t blank = step.find(' ');
    std::string word = step.substr(0, blank);
    std::string argument = blank == std::string::npos ? std::string() : trim(step.substr(blank));
    Step s{StepKind::returning, argument, 0, !argument.empty()};
    char* rest = nullptr;
    if (word == "sleep" || word == "exit") {
      s.kind = word == "sleep" ? StepKind::sleep : StepKind::exiting;
      if (s.hasValue) {
        s.value = std::strtol(argument.c_str(), &rest, 10);
        if (*rest != '\0' || (s.value < 0 && word == "sleep")) return false;
      } else if (word == "sleep") {
        return false;
      }
    } else if (word == "hang") {
      s.kind = StepKind::hanging;
      if (s.hasValue) return false;
    } else if (word == "wait") {
      s.kind = StepKind::wait;
      if (argument.empty() || argument.find_first_of("\\/:") != std::string::npos) return false;
    } else if (word == "throw") {
      s.kind = StepKind::throwing;
      if (argument.empty()) s.text = "java/lang/IllegalStateException";
    } else if (word == "return") {
      if (argument == "true" || argument.empty()) {
        s.value = 1;
      } else if (argument != "false") {
        return false;
      }
    } else {
      return false;
    }
    steps.push_back(s);
  }
  return true;
}

// Reads jvm-standin.cfg; a line the double does not understand is recorded
// as an error, so that a mistyped setting fails the test that wrote it.
Settings readSettings() {
  Settings settings;
  parseSteps("exit 0", settings.behaviour["main"]);
  std::string content = readSmallFile(directory() + "jvm-standin.cfg");
  size_t pos = 0;
  while (pos < content.size()) {
    size_t end = content.find('\n', pos);
    if (end == std::string::npos) end = content.size();
    std::string line = trim(content.substr(pos, std::min(end - pos, kMaxSettingsLine)));
    pos = end + 1;
    if (line.empty() || line[0] == '#') continue;
    size_t equals = line.find('=');
    std::string key = equals == std::string::npos ? line : trim(line.substr(0, equals));
    std::string value = equals == std::string::npos ? std::string() : trim(line.substr(equals + 1));
    bool ok = equals != std::string::npos;
    if (ok && key == "create") {
      char* rest = nullptr;
      long result = std::strtol(value.c_str(), &rest, 10);
      ok = !value.empty() && *rest == '\0';
      settings.createResult = static_cast<jint>(result);
    } else if (ok && key == "missing") {
      ok = !value.empty();
      settings.missing.insert(value);
    } else if (ok && (key == "main" || key == "firstRun" || key == "exit")) {
      std::vector<Step> steps;
      ok = parseSteps(value, steps);
      if (ok) settings.behaviour[key] = steps;
    } else {
      ok = false;
    }
    if (!ok) record("ERROR jvm-standin.cfg: cannot use the line " + quotedName(line));
  }
  return settings;
}

// -- the VM's objects -----------------------------------------------------------

// Every reference the double hands out is a pointer to one of these; a
// reference is a local one of the creating thread.
enum class Kind { classObject, string, array, throwable };

struct Object {
  Kind kind;
  std::string name;          // class: its name; throwable: its class; array: element class
  std::u16string text;       // string: its characters; throwable: its message
  std::vector<Object*> elements;
  bool deleted = false;
};

struct Method {
  std::string className;
  std::string name;
  std::string signature;
};

struct Vm {
  Settings settings;
  DWORD thread = 0;  // the thread that created the VM, the only one its env belongs to
  std::deque<Object> objects;
  std::deque<Method> methods;
  std::set<const void*> liveObjects;
  std::set<const void*> liveMethods;
  Object* pending = nullptr;  // the pending exception, owned by `objects`
  bool created = false;
};

Vm gVm;
JNINativeInterface_ gFunctions{};
JNIInvokeInterface_ gInvokeFunctions{};
JNIEnv gEnv{};
JavaVM gJavaVm{};

const char* kindName(Kind kind) {
  switch (kind) {
    case Kind::classObject: return "class";
    case Kind::string: return "string";
    case Kind::array: return "array";
    case Kind::throwable: return "throwable";
  }
  return "?";
}

Object* newObject(Kind kind, std::string name, std::u16string text = u"") {
  gVm.objects.push_back(Object{kind, std::move(name), std::move(text), {}, false});
  Object* object = &gVm.objects.back();
  gVm.liveObjects.insert(object);
  return object;
}

void throwNew(const std::string& className, const std::u16string& message) {
  gVm.pending = newObject(Kind::throwable, className, message);
}

// Checks a call into the env: the right env, the creating thread, and (for
// the calls JNI forbids then) no pending exception. Misuse is recorded as an
// error line, which the tests look for.
void checkCall(JNIEnv* env, const char* call, bool forbiddenWhilePending = true) {
  if (env != &gEnv) record(std::string("ERROR ") + call + ": not the env of this VM");
  if (GetCurrentThreadId() != gVm.thread) {
    record(std::string("ERROR ") + call + ": the env used on a thread other than its own");
  }
  if (forbiddenWhilePending && gVm.pending != nullptr) {
    record(std::string("ERROR ") + call + ": called with an exception pending");
  }
}

// The object behind a reference; null (and an error line) for a reference
// that this VM did not hand out or that was deleted.
Object* resolve(const void* reference, const char* call, Kind kind) {
  if (reference == nullptr) return nullptr;
  if (gVm.liveObjects.count(reference) == 0) {
    record(std::string("ERROR ") + call + ": not a reference of this VM");
    return nullptr;
  }
  Object* object = const_cast<Object*>(static_cast<const Object*>(reference));
  if (object->deleted) {
    record(std::string("ERROR ") + call + ": a reference used after DeleteLocalRef");
  }
  if (object->kind != kind) {
    record(std::string("ERROR ") + call + ": a " + kindName(object->kind) + " where a " +
           kindName(kind) + " belongs");
    return nullptr;
  }
  return object;
}

std::string describeValue(const Object* object) {
  if (object == nullptr) return "null";
  if (object->kind == Kind::string) return quoted(object->text);
  return std::string(kindName(object->kind)) + " " + quotedName(object->name);
}

// -- behaviour of the Java methods ------------------------------------------------

[[noreturn]] void endProcess(long status) {
  record("exit " + std::to_string(status));
  std::fflush(nullptr);
  // As HotSpot's System.exit ends the process: the C runtime's exit path,
  // so the launcher's exit handlers run.
  std::exit(static_cast<int>(status));
}

// Runs a method's steps; returns its boolean result (true without one).
bool perform(const std::vector<Step>& steps, long exitStatus) {
  for (const Step& step : steps) {
    switch (step.kind) {
      case StepKind::sleep:
        record("step sleep " + std::to_string(step.value));
        Sleep(static_cast<DWORD>(step.value));
        break;
      case StepKind::wait: {
        record("step wait " + quotedName(step.text));
        std::string file = directory() + step.text;
        DWORD waited = 0;
        while (GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
          if (waited >= kWaitLimitMs) {
            record("step wait timed out");
            break;
          }
          Sleep(kWaitPollMs);
          waited += kWaitPollMs;
        }
        break;
      }
      case StepKind::hanging:
        record("step hang");
        for (;;) Sleep(INFINITE);
      case StepKind::throwing:
        record("step throw " + quotedName(step.text));
        throwNew(step.text, u"thrown by the stand-in");
        return false;
      case StepKind::exiting:
        endProcess(step.hasValue ? step.value : exitStatus);
      case StepKind::returning:
        if (!step.hasValue) {
          record("step return");
        } else {
          record(step.value != 0 ? "step return true" : "step return false");
        }
        return step.value != 0;
    }
  }
  record("step return");
  return true;
}

const std::vector<Step>& behaviourOf(const char* name) {
  static const std::vector<Step> none;
  auto found = gVm.settings.behaviour.find(name);
  return found == gVm.settings.behaviour.end() ? none : found->second;
}

// -- the JNI functions the launcher calls ---------------------------------------------

jclass JNICALL findClass(JNIEnv* env, const char* name) {
  checkCall(env, "FindClass");
  std::string className = name != nullptr ? name : "";
  if (name == nullptr || gVm.settings.missing.count(className) != 0) {
    record("FindClass " + quotedName(name) + " -> null");
    throwNew("java/lang/NoClassDefFoundError", widen(name, CP_UTF8));
    return nullptr;
  }
  record("FindClass " + quotedName(name) + " -> class");
  return reinterpret_cast<jclass>(newObject(Kind::classObject, className));
}

jmethodID JNICALL getStaticMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
  checkCall(env, "GetStaticMethodID");
  Object* owner = resolve(cls, "GetStaticMethodID", Kind::classObject);
  std::string line = "GetStaticMethodID " + describeValue(owner) + " " + quotedName(name) + " " +
                     quotedName(sig);
  if (owner == nullptr || name == nullptr || sig == nullptr ||
      gVm.settings.missing.count(owner->name + "." + name) != 0) {
    record(line + " -> null");
    throwNew("java/lang/NoSuchMethodError", widen(name, CP_UTF8));
    return nullptr;
  }
  record(line + " -> method");
  gVm.methods.push_back(Method{owner->name, name, sig});
  Method* method = &gVm.methods.back();
  gVm.liveMethods.insert(method);
  return reinterpret_cast<jmethodID>(method);
}

jobjectArray JNICALL newObjectArray(JNIEnv* env, jsize length, jclass cls, jobject initial) {
  checkCall(env, "NewObjectArray");
  Object* element = resolve(cls, "NewObjectArray", Kind::classObject);
  std::string line = "NewObjectArray " + std::to_string(length) + " " + describeValue(element) +
                     " " + (initial == nullptr ? "null" : "initial");
  if (length < 0 || element == nullptr) {
    record(line + " -> null");
    throwNew(length < 0 ? "java/lang/NegativeArraySizeException" : "java/lang/NullPointerException",
             u"");
    return nullptr;
  }
  record(line + " -> array");
  Object* array = newObject(Kind::array, element->name);
  array->elements.assign(static_cast<size_t>(length), nullptr);
  return reinterpret_cast<jobjectArray>(array);
}

jstring JNICALL newString(JNIEnv* env, const jchar* chars, jsize length) {
  checkCall(env, "NewString");
  if (length < 0 || (chars == nullptr && length > 0)) {
    record("NewString null " + std::to_string(length) + " -> null");
    record("ERROR NewString: no characters for the length given");
    return nullptr;
  }
  std::u16string text(reinterpret_cast<const char16_t*>(chars), static_cast<size_t>(length));
  record("NewString " + quoted(text) + " -> string");
  return reinterpret_cast<jstring>(newObject(Kind::string, "java/lang/String", text));
}

void JNICALL setObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index, jobject value) {
  checkCall(env, "SetObjectArrayElement");
  Object* target = resolve(array, "SetObjectArrayElement", Kind::array);
  Object* element = value == nullptr ? nullptr
                                     : resolve(value, "SetObjectArrayElement", Kind::string);
  record("SetObjectArrayElement " + std::to_string(index) + " " + describeValue(element));
  if (target == nullptr) return;
  if (index < 0 || static_cast<size_t>(index) >= target->elements.size()) {
    record("ERROR SetObjectArrayElement: index " + std::to_string(index) + " outside the array");
    throwNew("java/lang/ArrayIndexOutOfBoundsException", u"");
    return;
  }
  // The array keeps its own copy: deleting the local reference must not
  // take the element with it.
  target->elements[static_cast<size_t>(index)] =
      element == nullptr ? nullptr : newObject(Kind::string, element->name, element->text);
}

void JNICALL deleteLocalRef(JNIEnv* env, jobject reference) {
  checkCall(env, "DeleteLocalRef", false);
  if (reference == nullptr) {
    record("DeleteLocalRef null");
    return;
  }
  if (gVm.liveObjects.count(reference) == 0) {
    record("ERROR DeleteLocalRef: not a reference of this VM");
    return;
  }
  Object* object = static_cast<Object*>(static_cast<void*>(reference));
  record("DeleteLocalRef " + describeValue(object));
  if (object->deleted) record("ERROR DeleteLocalRef: deleted twice");
  object->deleted = true;
}

// The method behind an ID, checked against the class it is called on and
// the return type of the Call function used.
const Method* methodFor(jclass cls, jmethodID id, const char* call, char returnType) {
  Object* owner = resolve(cls, call, Kind::classObject);
  if (gVm.liveMethods.count(id) == 0) {
    record(std::string("ERROR ") + call + ": not a method ID of this VM");
    return nullptr;
  }
  const Method* method = reinterpret_cast<const Method*>(id);
  if (owner != nullptr && owner->name != method->className) {
    record(std::string("ERROR ") + call + ": a method of " + method->className + " called on " +
           owner->name);
  }
  size_t close = method->signature.rfind(')');
  if (close == std::string::npos || close + 1 >= method->signature.size() ||
      method->signature[close + 1] != returnType) {
    record(std::string("ERROR ") + call + ": the method returns " +
           method->signature.substr(close == std::string::npos ? 0 : close + 1));
  }
  return method;
}

void JNICALL callStaticVoidMethodA(JNIEnv* env, jclass cls, jmethodID id, const jvalue* args) {
  checkCall(env, "CallStaticVoidMethodA");
  const Method* method = methodFor(cls, id, "CallStaticVoidMethodA", 'V');
  if (method == nullptr) return;
  std::string line = "CallStaticVoidMethodA " + quotedName(method->className) + " " +
                     quotedName(method->name) + " " + quotedName(method->signature);
  if (method->signature == "([Ljava/lang/String;)V") {
    Object* array = args != nullptr ? resolve(args[0].l, "CallStaticVoidMethodA", Kind::array)
                                    : nullptr;
    if (array == nullptr) {
      line += " null";
    } else {
      for (const Object* element : array->elements) line += " " + describeValue(element);
    }
  } else if (method->signature == "(I)V") {
    line += args != nullptr ? " " + std::to_string(args[0].i) : " ?";
  }
  record(line);
  if (method->className == "com/kerno/runtime/WinLauncher" && method->name == "main") {
    perform(behaviourOf("main"), 0);
  } else if (method->className == "java/lang/System" && method->name == "exit") {
    long status = args != nullptr ? args[0].i : 0;
    auto found = gVm.settings.behaviour.find("exit");
    if (found == gVm.settings.behaviour.end()) endProcess(status);
    perform(found->second, status);
  } else {
    record("step return");
  }
}

jboolean JNICALL callStaticBooleanMethodA(JNIEnv* env, jclass cls, jmethodID id, const jvalue*) {
  checkCall(env, "CallStaticBooleanMethodA");
  const Method* method = methodFor(cls, id, "CallStaticBooleanMethodA", 'Z');
  if (method == nullptr) return JNI_FALSE;
  record("CallStaticBooleanMethodA " + quotedName(method->className) + " " +
         quotedName(method->name) + " " + quotedName(method->signature));
  bool result = method->name == "firstRun" ? perform(behaviourOf("firstRun"), 0) : true;
  return result ? JNI_TRUE : JNI_FALSE;
}

jthrowable JNICALL exceptionOccurred(JNIEnv* env) {
  checkCall(env, "ExceptionOccurred", false);
  if (gVm.pending == nullptr) {
    record("ExceptionOccurred -> null");
    return nullptr;
  }
  record("ExceptionOccurred -> " + describeValue(gVm.pending));
  // A new local reference to the pending exception, as a VM gives one.
  return reinterpret_cast<jthrowable>(
      newObject(Kind::throwable, gVm.pending->name, gVm.pending->text));
}

void JNICALL exceptionDescribe(JNIEnv* env) {
  checkCall(env, "ExceptionDescribe", false);
  if (gVm.pending == nullptr) {
    record("ExceptionDescribe none");
    return;
  }
  record("ExceptionDescribe " + describeValue(gVm.pending) + " " + quoted(gVm.pending->text));
  // What a VM prints, to the process's standard error.
  std::string name = gVm.pending->name;
  for (char& c : name) {
    if (c == '/') c = '.';
  }
  std::fprintf(stderr, "Exception in thread \"main\" %s\n", name.c_str());
  std::fflush(stderr);
  gVm.pending = nullptr;
}

jint JNICALL destroyJavaVm(JavaVM* vm) {
  if (vm != &gJavaVm) record("ERROR DestroyJavaVM: not this VM");
  record("DestroyJavaVM -> 0");
  gVm.created = false;
  return JNI_OK;
}

// -- every other function: a trap ----------------------------------------------------------

// A function the double does not implement ends the process with a line
// naming its slot in the table (the function's index in the JNI table), so
// a launcher that starts calling a new function fails its tests visibly.
// The traps take no arguments: they never return to the caller.
[[noreturn]] void unexpected(const char* table, size_t index) {
  record(std::string("ERROR ") + table + " function #" + std::to_string(index) +
         " is not implemented by the stand-in");
  std::fflush(nullptr);
  ExitProcess(70);
}

template <size_t N>
void JNICALL nativeTrap() {
  unexpected("JNI", N);
}
template <size_t N>
void JNICALL invokeTrap() {
  unexpected("invocation", N);
}

using Trap = void(JNICALL*)();
constexpr size_t kMaxSlots = 256;

template <size_t... N>
constexpr std::array<Trap, sizeof...(N)> nativeTraps(std::index_sequence<N...>) {
  return {&nativeTrap<N>...};
}
template <size_t... N>
constexpr std::array<Trap, sizeof...(N)> invokeTraps(std::index_sequence<N...>) {
  return {&invokeTrap<N>...};
}

// The tables are structs of function pointers behind a few reserved
// pointers; every slot from the first function on gets a trap first.
template <typename Table, size_t M>
void fillWithTraps(Table& table, size_t reserved, const std::array<Trap, M>& traps) {
  constexpr size_t slots = sizeof(Table) / sizeof(void*);
  static_assert(slots <= M, "more JNI functions than traps");
  static_assert(sizeof(Trap) == sizeof(void*), "a slot holds one function pointer");
  char* bytes = reinterpret_cast<char*>(&table);
  for (size_t i = reserved; i < slots; ++i) {
    std::memcpy(bytes + i * sizeof(void*), &traps[i], sizeof(Trap));
  }
}

void buildTables() {
  fillWithTraps(gFunctions, 4, nativeTraps(std::make_index_sequence<kMaxSlots>()));
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
  fillWithTraps(gInvokeFunctions, 3, invokeTraps(std::make_index_sequence<16>()));
  gInvokeFunctions.DestroyJavaVM = destroyJavaVm;
  gEnv.functions = &gFunctions;
  gJavaVm.functions = &gInvokeFunctions;
}

}  // namespace

// The invocation interface's entry point, exported as JNI_CreateJavaVM by
// the .def files: on x86 (__stdcall) also under the decorated name
// _JNI_CreateJavaVM@12, as a 32-bit runtime has it. It has a name of its own
// because jni.h declares JNI_CreateJavaVM as imported.
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
  if (vm != nullptr) *vm = nullptr;
  if (env != nullptr) *env = nullptr;
  if (gVm.created) {
    record("JNI_CreateJavaVM -> -5");
    return JNI_EEXIST;
  }
  gVm.settings = readSettings();
  const JavaVMInitArgs* init = static_cast<const JavaVMInitArgs*>(args);
  if (vm == nullptr || env == nullptr || init == nullptr) {
    record("ERROR JNI_CreateJavaVM: a null argument");
    return JNI_EINVAL;
  }
  char header[128];
  std::snprintf(header, sizeof header, "JNI_CreateJavaVM version=0x%08lx nOptions=%ld "
                "ignoreUnrecognized=%d",
                static_cast<unsigned long>(init->version), static_cast<long>(init->nOptions),
                static_cast<int>(init->ignoreUnrecognized));
  record(header);
  if (init->nOptions > 0 && init->options == nullptr) {
    record("ERROR JNI_CreateJavaVM: no option array");
    return JNI_EINVAL;
  }
  for (jint i = 0; i < init->nOptions; ++i) {
    const JavaVMOption& option = init->options[i];
    record("option " + quotedAnsi(option.optionString) +
           (option.extraInfo != nullptr ? " extraInfo" : ""));
  }
  record("JNI_CreateJavaVM -> " + std::to_string(gVm.settings.createResult));
  if (gVm.settings.createResult != JNI_OK) return gVm.settings.createResult;
  buildTables();
  gVm.thread = GetCurrentThreadId();
  gVm.created = true;
  *vm = &gJavaVm;
  *env = &gEnv;
  return JNI_OK;
}

#endif
