// The JNI launch code against a small JNI double: the order of log lines and
// JNI calls, the failure paths a real VM does not produce on demand (out of
// memory while the parameters are handed over), the first-run hook and the
// exit request.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "launch/java_vm_launcher.h"

namespace {

using Strings = std::vector<std::string>;

// What the double does and what it saw. Classes and methods are handles
// 1..n into `names`, strings 0x10000 + their number, the array 0x20000.
struct Jvm {
  std::set<std::string> missing;  // classes and methods the VM lacks
  jint createResult = JNI_OK;
  bool arrayFails = false, mainThrows = false, firstRunThrows = false, pending = false;
  int stringFailsAt = -1, liveStrings = 0;
  jboolean firstRunResult = JNI_TRUE;
  JavaVMInitArgs* init = nullptr;
  Strings calls, names;
  std::vector<std::u16string> strings;
  std::map<jsize, std::u16string> array;
} * gJvm;

JNINativeInterface_ gTable{};
JNIInvokeInterface_ gInvoke{};
JNIEnv gEnv{&gTable};
JavaVM gVm{&gInvoke};

constexpr uintptr_t kString = 0x10000, kArray = 0x20000;
template <typename T> T handle(uintptr_t tag) { return reinterpret_cast<T>(tag); }
uintptr_t tag(const void* h) { return reinterpret_cast<uintptr_t>(h); }
const std::string& nameOf(const void* h) { return gJvm->names.at(tag(h) - 1); }

template <typename T> T lookUp(const std::string& call, const std::string& name) {
  gJvm->calls.push_back(call);
  if (gJvm->missing.count(name)) return gJvm->pending = true, nullptr;
  gJvm->names.push_back(name);
  return handle<T>(gJvm->names.size());
}

void installTables() {
  gTable.FindClass = [](JNIEnv*, const char* name) { return lookUp<jclass>(std::string("FindClass ") + name, name); };
  gTable.GetStaticMethodID = [](JNIEnv*, jclass cls, const char* name, const char* sig) {
    return lookUp<jmethodID>("GetStaticMethodID " + nameOf(cls) + "." + name + sig, name);
  };
  gTable.ExceptionOccurred = [](JNIEnv*) {
    gJvm->calls.push_back("ExceptionOccurred");
    return gJvm->pending ? handle<jthrowable>(0x30000) : nullptr;
  };
  gTable.ExceptionDescribe = [](JNIEnv*) { gJvm->calls.push_back("ExceptionDescribe"), gJvm->pending = false; };
  gTable.DeleteLocalRef = [](JNIEnv*, jobject ref) { gJvm->liveStrings -= tag(ref) >= kString && tag(ref) < kArray; };
  gTable.NewObjectArray = [](JNIEnv*, jsize count, jclass cls, jobject) {
    gJvm->calls.push_back("NewObjectArray " + std::to_string(count) + " " + nameOf(cls));
    if (gJvm->arrayFails) return gJvm->pending = true, handle<jobjectArray>(0);
    return handle<jobjectArray>(kArray);
  };
  gTable.NewString = [](JNIEnv*, const jchar* chars, jsize length) {
    if (int(gJvm->strings.size()) == gJvm->stringFailsAt) return gJvm->pending = true, handle<jstring>(0);
    gJvm->strings.emplace_back(reinterpret_cast<const char16_t*>(chars), size_t(length));
    ++gJvm->liveStrings;
    return handle<jstring>(kString + gJvm->strings.size() - 1);
  };
  gTable.SetObjectArrayElement = [](JNIEnv*, jobjectArray, jsize i, jobject s) {
    gJvm->array[i] = gJvm->strings.at(tag(s) - kString);
  };
  gTable.CallStaticVoidMethodA = [](JNIEnv*, jclass, jmethodID mid, const jvalue* args) {
    if (nameOf(mid) == "exit") return gJvm->calls.push_back("System.exit " + std::to_string(args[0].i));  // returns
    gJvm->calls.push_back("call " + nameOf(mid) + (tag(args[0].l) == kArray ? " array" : ""));
    gJvm->pending = gJvm->mainThrows;
  };
  gTable.CallStaticBooleanMethodA = [](JNIEnv*, jclass, jmethodID mid, const jvalue*) {
    gJvm->calls.push_back("call " + nameOf(mid));
    gJvm->pending = gJvm->firstRunThrows;
    return gJvm->firstRunResult;
  };
  gInvoke.DestroyJavaVM = [](JavaVM*) { return gJvm->calls.push_back("DestroyJavaVM"), jint(JNI_OK); };
}

jint JNICALL createJavaVm(JavaVM** vm, void** env, void* args) {
  gJvm->calls.push_back("JNI_CreateJavaVM");
  gJvm->init = static_cast<JavaVMInitArgs*>(args);
  if (gJvm->createResult != JNI_OK) return gJvm->createResult;
  *vm = &gVm, *env = &gEnv;
  return JNI_OK;
}

struct Launch {
  Jvm jvm;
  Strings log, messages;
  LaunchState state;
  bool brindle = false, marker = false, optionsFail = false;
  std::vector<std::u16string> parameters = {u"false", u"com.example.Main", u"", u"", u"false", u"svc", u"\u20ac"};

  bool run() {
    VmLaunchHooks h;
    h.createJavaVm = createJavaVm;
    h.flavour = brindle ? LauncherFlavour::brindle : LauncherFlavour::kerno;
    h.logInfo = [this](const std::string& line) { log.push_back(line); };
    h.logError = [this](const std::string& line) { log.push_back("ERROR: " + line); };
    auto message = [this](const char* kind) {
      return [this, kind](ConfigKey key, std::string_view placeholder, std::string_view value) {
        messages.push_back(kind + std::to_string(int(key)) + " " + std::string(placeholder) + "=" + std::string(value));
      };
    };
    h.showMessage = message("show ");
    h.fatal = message("fatal ");
    h.systemProperties = [] { return Strings{"-Dkerno.tempDir="}; };
    h.vmOptions = [this](const Strings& properties) -> std::optional<Strings> {
      if (optionsFail) return std::nullopt;
      Strings all = properties;
      all.push_back("-Xrs");
      return all;
    };
    h.firstRunMarkerExists = [this] { return log.push_back("(marker asked)"), marker; };
    h.mainParameters = [this] { return std::optional<std::vector<std::u16string>>(parameters); };
    h.textForLog = [](const std::u16string& text) {
      std::string out;
      for (char16_t c : text) out.push_back(c < 0x80 ? char(c) : '?');
      return out;
    };
    installTables();
    gJvm = &jvm;
    return launchProgram(h, state);
  }
};

bool has(const Strings& lines, const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); }

TEST(JavaVmLauncher, SuccessfulLaunchInOrderOncePerProcessEndedByTheExitRequest) {
  Launch launch;
  ASSERT_TRUE(launch.run());
  EXPECT_EQ(launch.log, (Strings{"launching program", "vmoption count 2", "vmoption 0: -Dkerno.tempDir=",
                                 "vmoption 1: -Xrs", "Creating JVM", "JVM created",
                                 "main class: com/kerno/runtime/WinLauncher", "param count: 7", "param 0: false",
                                 "param 1: com.example.Main", "param 2: ", "param 3: ", "param 4: false",
                                 "param 5: svc", "param 6: ?", "calling main", "main returned", "launch done"}));
  EXPECT_EQ(launch.jvm.calls, (Strings{"JNI_CreateJavaVM", "FindClass com/kerno/runtime/WinLauncher",
                                       "GetStaticMethodID com/kerno/runtime/WinLauncher.main([Ljava/lang/String;)V",
                                       "FindClass java/lang/String", "NewObjectArray 7 java/lang/String",
                                       "call main array", "ExceptionOccurred"}));
  // The initialisation record, kept alive in the state.
  const JavaVMInitArgs* init = launch.jvm.init;
  EXPECT_EQ(init->version, 0x00010002);
  EXPECT_EQ(init->ignoreUnrecognized, JNI_TRUE);
  ASSERT_EQ(init->nOptions, 2);
  EXPECT_STREQ(init->options[1].optionString, "-Xrs");
  EXPECT_EQ(init->options[1].extraInfo, nullptr);
  // Every parameter in its place, the wide text unchanged, no local left over.
  std::map<jsize, std::u16string> expected;
  for (size_t i = 0; i < launch.parameters.size(); ++i) expected[jsize(i)] = launch.parameters[i];
  EXPECT_EQ(launch.jvm.array, expected);
  EXPECT_EQ(launch.jvm.liveStrings, 0);
  EXPECT_TRUE(launch.messages.empty());
  EXPECT_EQ(launch.state.vm, &gVm);
  EXPECT_EQ(launch.state.env, &gEnv);
  // One launch per process, ended by the exit request.
  launch.jvm.calls.clear();
  EXPECT_FALSE(launch.run());
  EXPECT_FALSE(has(launch.jvm.calls, "JNI_CreateJavaVM"));
  launch.jvm.calls.clear();
  requestVmExit(launch.state);
  EXPECT_EQ(launch.jvm.calls, (Strings{"FindClass java/lang/System", "GetStaticMethodID java/lang/System.exit(I)V",
                                       "System.exit 0", "ExceptionOccurred", "DestroyJavaVM"}));
  EXPECT_TRUE(launch.state.vm == nullptr && launch.state.env == nullptr);
  launch.jvm.calls.clear();
  requestVmExit(launch.state);  // without a VM there is nothing to ask
  EXPECT_TRUE(launch.jvm.calls.empty());
}

TEST(JavaVmLauncher, FailedLaunches) {
  struct Case {
    const char* name;
    void (*set)(Launch&);
    const char* lastLog;
    const char* message;  // "" for none
    bool created;         // the VM stays in the state: ended by the exit request only
  };
  const Case cases[] = {
      {"VM refuses", [](Launch& l) { l.jvm.createResult = JNI_EVERSION; }, "ERROR: could not initialize JVM", "", false},
      {"options could not be built", [](Launch& l) { l.optionsFail = true; }, "ERROR: could not initialize JVM", "",
       false},
      {"launcher class missing", [](Launch& l) { l.jvm.missing = {"com/kerno/runtime/WinLauncher"}; },
       "ERROR: could not call main", "fatal 1010 =", true},
      {"main missing", [](Launch& l) { l.jvm.missing = {"main"}; }, "ERROR: could not call main", "fatal 1011 =", true},
      {"no parameter array", [](Launch& l) { l.jvm.arrayFails = true; }, "ERROR: could not call main",
       "show 1009 %ERROR_CODE%=21", true},
      {"first string", [](Launch& l) { l.jvm.stringFailsAt = 0; }, "ERROR: could not call main",
       "show 1009 %ERROR_CODE%=22", true},
      {"last string", [](Launch& l) { l.jvm.stringFailsAt = 6; }, "ERROR: could not call main",
       "show 1009 %ERROR_CODE%=22", true},
      {"main throws", [](Launch& l) { l.jvm.mainThrows = true; }, "ERROR: could not call main", "", true},
  };
  for (const Case& c : cases) {
    Launch launch;
    c.set(launch);
    EXPECT_FALSE(launch.run()) << c.name;
    EXPECT_EQ(launch.log.back(), c.lastLog) << c.name;
    EXPECT_EQ(launch.messages, *c.message ? Strings{c.message} : Strings{}) << c.name;
    EXPECT_EQ(launch.state.vm, c.created ? &gVm : nullptr) << c.name;
    bool mainCalled = std::string(c.name) == "main throws";
    EXPECT_EQ(has(launch.jvm.calls, "call main array"), mainCalled) << c.name;
    const Strings thrown = {"main returned", "ERROR: an exception occured", "ERROR: could not call main"};
    EXPECT_EQ(launch.log.size() > 2 && Strings(launch.log.end() - 3, launch.log.end()) == thrown, mainCalled) << c.name;
    // The VM's exception (OutOfMemoryError, ClassNotFoundException) is described and cleared.
    EXPECT_EQ(has(launch.jvm.calls, "ExceptionDescribe"), c.created) << c.name;
    EXPECT_FALSE(launch.jvm.pending) << c.name;
  }
}

TEST(JavaVmLauncher, FirstRunHook) {
  struct Case {
    const char* name;
    bool brindle, marker;
    const char* missing;
    jboolean result;
    bool throws, launched, mainCalled;
    const char* message;  // "" for none
  };
  const Case cases[] = {
      {"kerno flavour: marker ignored", false, true, "", JNI_FALSE, false, true, true, ""},
      {"no marker: hook not looked up", true, false, "", JNI_FALSE, false, true, true, ""},
      {"marker, any non-zero is true", true, true, "", 7, false, true, true, ""},
      {"marker, false", true, true, "", JNI_FALSE, false, true, false, ""},
      {"marker, hook throws", true, true, "", JNI_TRUE, true, true, false, ""},
      {"marker, class missing", true, true, "com/brindle/runtime/FirstRun", JNI_TRUE, false, false, false,
       "fatal 1009 %ERROR_CODE%=14"},
      {"marker, method missing", true, true, "firstRun", JNI_TRUE, false, false, false, "fatal 1009 %ERROR_CODE%=15"},
  };
  for (const Case& c : cases) {
    Launch launch;
    launch.brindle = c.brindle, launch.marker = c.marker;
    launch.jvm.missing = {c.missing};
    launch.jvm.firstRunResult = c.result, launch.jvm.firstRunThrows = c.throws;
    EXPECT_EQ(launch.run(), c.launched) << c.name;
    EXPECT_EQ(has(launch.jvm.calls, "call main array"), c.mainCalled) << c.name;
    EXPECT_EQ(has(launch.log, "(marker asked)"), c.brindle) << c.name;
    EXPECT_EQ(has(launch.jvm.calls, "FindClass com/brindle/runtime/FirstRun"), c.brindle && c.marker) << c.name;
    EXPECT_EQ(has(launch.log, "checkFirstRun stopped further execution"), c.launched && !c.mainCalled) << c.name;
    EXPECT_EQ(launch.messages, *c.message ? Strings{c.message} : Strings{}) << c.name;
    EXPECT_EQ(has(launch.jvm.calls, "ExceptionDescribe"), c.throws || *c.message) << c.name;
  }
}

}  // namespace
