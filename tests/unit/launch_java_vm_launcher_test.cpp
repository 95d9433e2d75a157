// The JNI launch code against a small JNI double: the order of log lines and
// JNI calls, the failure paths that a real VM does not produce on demand (out
// of memory while the parameters are handed over), the first-run hook and the
// exit request.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "launch/java_vm_launcher.h"

namespace {

// What the double does and what it saw.
struct FakeJvm {
  std::set<std::string> classes = {"com/kerno/runtime/WinLauncher", "java/lang/String",
                                   "java/lang/System", "com/brindle/runtime/FirstRun"};
  std::set<std::string> methods = {"main", "firstRun", "exit"};
  jint createResult = JNI_OK;
  bool arrayFails = false;
  int stringFailsAt = -1;
  bool mainThrows = false;
  bool firstRunThrows = false;
  jboolean firstRunResult = JNI_TRUE;

  std::vector<std::string> calls;
  std::vector<std::string> options;
  jint version = 0;
  jboolean ignoreUnrecognized = JNI_FALSE;
  std::vector<std::u16string> strings;    // every NewString
  std::map<jsize, size_t> arrayElements;  // index -> string number
  bool pending = false;
  int liveLocalStrings = 0;
};

FakeJvm* gFake = nullptr;
JNINativeInterface_ gTable{};
JNIInvokeInterface_ gInvoke{};
JNIEnv gEnv;
JavaVM gVm;

// Handles are small tagged numbers; the launch code only passes them back.
template <typename T>
T handle(std::uintptr_t tag) {
  return reinterpret_cast<T>(tag);
}
std::uintptr_t tagOf(const void* h) { return reinterpret_cast<std::uintptr_t>(h); }

constexpr std::uintptr_t kClassTag = 0x1000;
constexpr std::uintptr_t kMethodTag = 0x2000;
constexpr std::uintptr_t kStringTag = 0x3000;
constexpr std::uintptr_t kArrayTag = 0x4000;
constexpr std::uintptr_t kThrowableTag = 0x5000;

std::vector<std::string> gClassNames;
std::vector<std::string> gMethodNames;

jclass JNICALL findClass(JNIEnv*, const char* name) {
  gFake->calls.push_back(std::string("FindClass ") + name);
  if (gFake->classes.count(name) == 0) {
    gFake->pending = true;
    return nullptr;
  }
  gClassNames.push_back(name);
  return handle<jclass>(kClassTag + gClassNames.size() - 1);
}

jmethodID JNICALL getStaticMethodID(JNIEnv*, jclass cls, const char* name, const char* sig) {
  std::string className = gClassNames.at(tagOf(cls) - kClassTag);
  gFake->calls.push_back("GetStaticMethodID " + className + "." + name + sig);
  if (gFake->methods.count(name) == 0) {
    gFake->pending = true;
    return nullptr;
  }
  gMethodNames.push_back(name);
  return handle<jmethodID>(kMethodTag + gMethodNames.size() - 1);
}

jthrowable JNICALL exceptionOccurred(JNIEnv*) {
  gFake->calls.push_back("ExceptionOccurred");
  return gFake->pending ? handle<jthrowable>(kThrowableTag) : nullptr;
}

void JNICALL exceptionDescribe(JNIEnv*) {
  gFake->calls.push_back("ExceptionDescribe");
  gFake->pending = false;
}

void JNICALL deleteLocalRef(JNIEnv*, jobject ref) {
  if (tagOf(ref) >= kStringTag && tagOf(ref) < kArrayTag) --gFake->liveLocalStrings;
}

jobjectArray JNICALL newObjectArray(JNIEnv*, jsize count, jclass cls, jobject initial) {
  gFake->calls.push_back("NewObjectArray " + std::to_string(count) + " " +
                         gClassNames.at(tagOf(cls) - kClassTag) + (initial ? " init" : ""));
  if (gFake->arrayFails) {
    gFake->pending = true;
    return nullptr;
  }
  return handle<jobjectArray>(kArrayTag);
}

jstring JNICALL newString(JNIEnv*, const jchar* chars, jsize length) {
  if (static_cast<int>(gFake->strings.size()) == gFake->stringFailsAt) {
    gFake->calls.push_back("NewString failed");
    gFake->pending = true;
    return nullptr;
  }
  gFake->strings.emplace_back(reinterpret_cast<const char16_t*>(chars),
                              static_cast<size_t>(length));
  ++gFake->liveLocalStrings;
  return handle<jstring>(kStringTag + gFake->strings.size() - 1);
}

void JNICALL setObjectArrayElement(JNIEnv*, jobjectArray, jsize index, jobject value) {
  gFake->arrayElements[index] = tagOf(value) - kStringTag;
}

void JNICALL callStaticVoidMethodA(JNIEnv*, jclass, jmethodID mid, const jvalue* args) {
  std::string name = gMethodNames.at(tagOf(mid) - kMethodTag);
  if (name == "exit") {
    gFake->calls.push_back("System.exit " + std::to_string(args[0].i));
    return;  // the double's System.exit returns: as if the Java side refused
  }
  gFake->calls.push_back("call " + name + (tagOf(args[0].l) == kArrayTag ? " array" : ""));
  if (gFake->mainThrows) gFake->pending = true;
}

jboolean JNICALL callStaticBooleanMethodA(JNIEnv*, jclass, jmethodID mid, const jvalue*) {
  gFake->calls.push_back("call " + gMethodNames.at(tagOf(mid) - kMethodTag));
  if (gFake->firstRunThrows) {
    gFake->pending = true;
    return JNI_TRUE;
  }
  return gFake->firstRunResult;
}

jint JNICALL destroyJavaVM(JavaVM*) {
  gFake->calls.push_back("DestroyJavaVM");
  return JNI_OK;
}

jint JNICALL createJavaVM(JavaVM** vm, void** env, void* args) {
  auto* init = static_cast<JavaVMInitArgs*>(args);
  gFake->calls.push_back("JNI_CreateJavaVM");
  gFake->version = init->version;
  gFake->ignoreUnrecognized = init->ignoreUnrecognized;
  for (jint i = 0; i < init->nOptions; ++i) {
    gFake->options.push_back(init->options[i].optionString);
    EXPECT_EQ(init->options[i].extraInfo, nullptr);
  }
  if (gFake->createResult != JNI_OK) return gFake->createResult;
  *vm = &gVm;
  *env = &gEnv;
  return JNI_OK;
}

void installTables() {
  gTable.FindClass = findClass;
  gTable.GetStaticMethodID = getStaticMethodID;
  gTable.ExceptionOccurred = exceptionOccurred;
  gTable.ExceptionDescribe = exceptionDescribe;
  gTable.DeleteLocalRef = deleteLocalRef;
  gTable.NewObjectArray = newObjectArray;
  gTable.NewString = newString;
  gTable.SetObjectArrayElement = setObjectArrayElement;
  gTable.CallStaticVoidMethodA = callStaticVoidMethodA;
  gTable.CallStaticBooleanMethodA = callStaticBooleanMethodA;
  gEnv.functions = &gTable;
  gInvoke.DestroyJavaVM = destroyJavaVM;
  gVm.functions = &gInvoke;
}

// What the hooks were asked to show or log.
struct Seen {
  std::vector<std::string> log;
  std::vector<std::string> messages;
};

struct Launch {
  FakeJvm jvm;
  Seen seen;
  LaunchState state;
  bool brindle = false;
  bool marker = false;
  bool optionsFail = false;
  std::vector<std::string> options = {"-Djava.class.path=c:\\app\\a.jar;", "-Xrs"};
  std::vector<std::u16string> parameters = {
      u"false", u"com.example.Main", u"", u"", u"false", u"svc", u"\u20ac"};

  VmLaunchHooks hooks() {
    VmLaunchHooks h;
    h.createJavaVm = createJavaVM;
    h.flavour = brindle ? LauncherFlavour::brindle : LauncherFlavour::kerno;
    h.logInfo = [this](const std::string& line) { seen.log.push_back(line); };
    h.logError = [this](const std::string& line) { seen.log.push_back("ERROR: " + line); };
    h.showMessage = [this](ConfigKey key, std::string_view placeholder, std::string_view value) {
      seen.messages.push_back("show " + std::to_string(static_cast<int>(key)) + " " +
                              std::string(placeholder) + "=" + std::string(value));
    };
    h.fatal = [this](ConfigKey key, std::string_view placeholder, std::string_view value) {
      seen.messages.push_back("fatal " + std::to_string(static_cast<int>(key)) + " " +
                              std::string(placeholder) + "=" + std::string(value));
    };
    h.systemProperties = [] { return std::vector<std::string>{"-Dkerno.tempDir="}; };
    h.vmOptions =
        [this](
            const std::vector<std::string>& properties) -> std::optional<std::vector<std::string>> {
      if (optionsFail) return std::nullopt;
      std::vector<std::string> all = properties;
      all.insert(all.end(), options.begin(), options.end());
      return all;
    };
    h.firstRunMarkerExists = [this] {
      seen.log.push_back("(marker asked)");
      return marker;
    };
    h.mainParameters = [this] { return std::optional<std::vector<std::u16string>>(parameters); };
    h.textForLog = [](const std::u16string& text) {
      std::string out;
      for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
      return out;
    };
    return h;
  }

  bool run() {
    installTables();
    gFake = &jvm;
    gClassNames.clear();
    gMethodNames.clear();
    return launchProgram(hooks(), state);
  }
};

bool has(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& l : lines) {
    if (l == line) return true;
  }
  return false;
}

}  // namespace

TEST(JavaVmLauncher, SuccessfulLaunchInOrder) {
  Launch launch;
  ASSERT_TRUE(launch.run());
  EXPECT_EQ(launch.seen.log,
            (std::vector<std::string>{
                "launching program", "vmoption count 3",
                "vmoption 0: -Dkerno.tempDir=", "vmoption 1: -Djava.class.path=c:\\app\\a.jar;",
                "vmoption 2: -Xrs", "Creating JVM", "JVM created",
                "main class: com/kerno/runtime/WinLauncher", "param count: 7", "param 0: false",
                "param 1: com.example.Main", "param 2: ", "param 3: ", "param 4: false",
                "param 5: svc", "param 6: ?", "calling main", "main returned", "launch done"}));
  EXPECT_EQ(launch.jvm.calls,
            (std::vector<std::string>{
                "JNI_CreateJavaVM", "FindClass com/kerno/runtime/WinLauncher",
                "GetStaticMethodID com/kerno/runtime/WinLauncher.main([Ljava/lang/String;)V",
                "FindClass java/lang/String", "NewObjectArray 7 java/lang/String",
                "call main array", "ExceptionOccurred"}));
  // The initialisation record.
  EXPECT_EQ(launch.jvm.version, 0x00010002);
  EXPECT_EQ(launch.jvm.ignoreUnrecognized, JNI_TRUE);
  EXPECT_EQ(
      launch.jvm.options,
      (std::vector<std::string>{"-Dkerno.tempDir=", "-Djava.class.path=c:\\app\\a.jar;", "-Xrs"}));
  // Every parameter in its place, the wide text unchanged, no local left over.
  ASSERT_EQ(launch.jvm.arrayElements.size(), launch.parameters.size());
  for (const auto& [index, string] : launch.jvm.arrayElements) {
    EXPECT_EQ(launch.jvm.strings.at(string), launch.parameters.at(static_cast<size_t>(index)));
  }
  EXPECT_EQ(launch.jvm.liveLocalStrings, 0);
  EXPECT_TRUE(launch.seen.messages.empty());
  EXPECT_EQ(launch.state.vm, &gVm);
  EXPECT_EQ(launch.state.env, &gEnv);
  EXPECT_NE(launch.state.vmInitRecord, nullptr);
}

TEST(JavaVmLauncher, CreationFailures) {
  struct Case {
    const char* name;
    jint createResult;
    bool optionsFail;
    bool created;  // JNI_CreateJavaVM was called
  };
  const Case cases[] = {
      {"VM refuses", JNI_ERR, false, true},
      {"VM refuses the version", JNI_EVERSION, false, true},
      {"options could not be built", JNI_OK, true, false},
  };
  for (const Case& c : cases) {
    Launch launch;
    launch.jvm.createResult = c.createResult;
    launch.optionsFail = c.optionsFail;
    EXPECT_FALSE(launch.run()) << c.name;
    EXPECT_EQ(launch.seen.log.back(), "ERROR: could not initialize JVM") << c.name;
    EXPECT_EQ(has(launch.seen.log, "Creating JVM"), c.created) << c.name;
    EXPECT_EQ(has(launch.jvm.calls, "JNI_CreateJavaVM"), c.created) << c.name;
    EXPECT_EQ(launch.state.vm, nullptr) << c.name;
    EXPECT_EQ(launch.state.env, nullptr) << c.name;
    EXPECT_TRUE(launch.seen.messages.empty()) << c.name;
  }
}

TEST(JavaVmLauncher, LauncherClassOrMainMissingIsFatal) {
  struct Case {
    const char* missingClass;
    const char* missingMethod;
    const char* errorLine;
    const char* message;
  };
  const Case cases[] = {
      {"com/kerno/runtime/WinLauncher", "", "ERROR: could not find main class", "fatal 1010 ="},
      {"", "main", "ERROR: could not find main method", "fatal 1011 ="},
  };
  for (const Case& c : cases) {
    Launch launch;
    launch.jvm.classes.erase(c.missingClass);
    launch.jvm.methods.erase(c.missingMethod);
    EXPECT_FALSE(launch.run());
    EXPECT_TRUE(has(launch.seen.log, c.errorLine)) << c.errorLine;
    EXPECT_EQ(launch.seen.messages, std::vector<std::string>{c.message});
    // The parameters are not built, main is not called.
    EXPECT_FALSE(has(launch.seen.log, "calling main"));
    EXPECT_TRUE(has(launch.jvm.calls, "ExceptionDescribe"));
  }
}

TEST(JavaVmLauncher, OutOfMemoryWhileHandingOverParametersFailsTheLaunch) {
  struct Case {
    const char* name;
    bool arrayFails;
    int stringFailsAt;
    const char* message;
    const char* lastParamLine;  // nullptr: none logged
  };
  const Case cases[] = {
      {"array", true, -1, "show 1009 %ERROR_CODE%=21", nullptr},
      {"first string", false, 0, "show 1009 %ERROR_CODE%=22", "param 0: false"},
      {"last string", false, 6, "show 1009 %ERROR_CODE%=22", "param 6: ?"},
  };
  for (const Case& c : cases) {
    Launch launch;
    launch.jvm.arrayFails = c.arrayFails;
    launch.jvm.stringFailsAt = c.stringFailsAt;
    EXPECT_FALSE(launch.run()) << c.name;
    EXPECT_EQ(launch.seen.messages, std::vector<std::string>{c.message}) << c.name;
    EXPECT_EQ(launch.seen.log.back(), "ERROR: could not call main") << c.name;
    EXPECT_FALSE(has(launch.jvm.calls, "call main array")) << c.name;
    // The VM's OutOfMemoryError is described and cleared.
    EXPECT_TRUE(has(launch.jvm.calls, "ExceptionDescribe")) << c.name;
    EXPECT_FALSE(launch.jvm.pending) << c.name;
    std::string lastParam;
    for (const std::string& line : launch.seen.log) {
      if (line.rfind("param ", 0) == 0 && line.rfind("param count", 0) != 0) lastParam = line;
    }
    EXPECT_EQ(lastParam, c.lastParamLine ? c.lastParamLine : "") << c.name;
  }
}

TEST(JavaVmLauncher, ThrowingMainFailsTheLaunch) {
  Launch launch;
  launch.jvm.mainThrows = true;
  EXPECT_FALSE(launch.run());
  std::vector<std::string> tail(launch.seen.log.end() - 4, launch.seen.log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"calling main", "main returned",
                                            "ERROR: an exception occured",
                                            "ERROR: could not call main"}));
  EXPECT_EQ(launch.jvm.calls.back(), "ExceptionDescribe");
  EXPECT_TRUE(launch.seen.messages.empty());
  // The VM stays: it is ended by the exit request only.
  EXPECT_EQ(launch.state.vm, &gVm);
}

TEST(JavaVmLauncher, FirstRunHook) {
  struct Case {
    const char* name;
    bool brindle;
    bool marker;
    const char* missingClass;
    const char* missingMethod;
    jboolean result;
    bool throws;
    bool launched;  // launchProgram's result
    bool mainCalled;
    const char* message;  // "" for none
  };
  const Case cases[] = {
      {"kerno flavour: marker ignored", false, true, "", "", JNI_FALSE, false, true, true, ""},
      {"no marker: hook not looked up", true, false, "", "", JNI_FALSE, false, true, true, ""},
      {"marker, true", true, true, "", "", JNI_TRUE, false, true, true, ""},
      {"marker, any non-zero is true", true, true, "", "", 7, false, true, true, ""},
      {"marker, false", true, true, "", "", JNI_FALSE, false, true, false, ""},
      {"marker, hook throws", true, true, "", "", JNI_TRUE, true, true, false, ""},
      {"marker, class missing", true, true, "com/brindle/runtime/FirstRun", "", JNI_TRUE, false,
       false, false, "fatal 1009 %ERROR_CODE%=14"},
      {"marker, method missing", true, true, "", "firstRun", JNI_TRUE, false, false, false,
       "fatal 1009 %ERROR_CODE%=15"},
  };
  for (const Case& c : cases) {
    Launch launch;
    launch.brindle = c.brindle;
    launch.marker = c.marker;
    launch.jvm.classes.erase(c.missingClass);
    launch.jvm.methods.erase(c.missingMethod);
    launch.jvm.firstRunResult = c.result;
    launch.jvm.firstRunThrows = c.throws;
    EXPECT_EQ(launch.run(), c.launched) << c.name;
    EXPECT_EQ(has(launch.jvm.calls, "call main array"), c.mainCalled) << c.name;
    EXPECT_EQ(has(launch.seen.log, "(marker asked)"), c.brindle) << c.name;
    EXPECT_EQ(has(launch.jvm.calls, "FindClass com/brindle/runtime/FirstRun"),
              c.brindle && c.marker)
        << c.name;
    bool stopped = c.launched && !c.mainCalled;
    EXPECT_EQ(has(launch.seen.log, "checkFirstRun stopped further execution"), stopped) << c.name;
    EXPECT_EQ(has(launch.seen.log, "main class: com/kerno/runtime/WinLauncher"), c.mainCalled)
        << c.name;
    std::vector<std::string> messages;
    if (*c.message) messages.push_back(c.message);
    EXPECT_EQ(launch.seen.messages, messages) << c.name;
    EXPECT_EQ(has(launch.jvm.calls, "ExceptionDescribe"), c.throws || *c.message) << c.name;
  }
}

TEST(JavaVmLauncher, OneLaunchPerProcess) {
  Launch launch;
  ASSERT_TRUE(launch.run());
  launch.jvm.calls.clear();
  EXPECT_FALSE(launch.run());
  EXPECT_FALSE(has(launch.jvm.calls, "JNI_CreateJavaVM"));
}

TEST(JavaVmLauncher, ExitRequest) {
  Launch launch;
  ASSERT_TRUE(launch.run());
  launch.jvm.calls.clear();
  requestVmExit(launch.state);
  EXPECT_EQ(launch.jvm.calls,
            (std::vector<std::string>{"FindClass java/lang/System",
                                      "GetStaticMethodID java/lang/System.exit(I)V",
                                      "System.exit 0", "ExceptionOccurred", "DestroyJavaVM"}));
  EXPECT_EQ(launch.state.vm, nullptr);
  EXPECT_EQ(launch.state.env, nullptr);

  // Without a VM there is nothing to ask.
  launch.jvm.calls.clear();
  requestVmExit(launch.state);
  EXPECT_TRUE(launch.jvm.calls.empty());
}
