// The JNI launch code against the JNI double the stand-in jvm.dll plays too
// (tests/standins/jni_double): the order of log lines and
// JNI calls, the failure paths a real VM does not produce on demand (out of
// memory while the parameters are handed over), the first-run hook and the
// exit request.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "../standins/jni_double.h"
#include "launch/java_vm_launcher.h"

namespace {

using Strings = std::vector<std::string>;

// The JNI double of the stand-in jvm.dll, told here what the Java side does,
// with the failures a real VM does not make on demand.
struct Jvm : jni_double::Double {
  jint createResult = JNI_OK;
  bool mainThrows = false, firstRunThrows = false;
  jboolean firstRunResult = JNI_TRUE;
  JavaVMInitArgs* init = nullptr;
  Strings calls;  // the record, without the parameters' strings (arrayTexts has them)

  std::vector<std::u16string> arrayTexts() const {
    std::vector<std::u16string> texts;
    for (const jni_double::Object& o : objects)
      if (o.kind == "array")
        for (const jni_double::Object* e : o.elements) texts.push_back(e ? e->text : u"(null)");
    return texts;
  }
} * gJvm;

void JNICALL trap() { std::abort(); }  // a JNI function the double lacks

jint JNICALL createJavaVm(JavaVM** vm, void** env, void* args) {
  gJvm->calls.push_back("JNI_CreateJavaVM");
  gJvm->init = static_cast<JavaVMInitArgs*>(args);
  if (gJvm->createResult != JNI_OK) return gJvm->createResult;
  *vm = &gJvm->vm, *env = &gJvm->env;
  return JNI_OK;
}

const std::string kMainCall = "CallStaticVoidMethodA \"com/kerno/runtime/WinLauncher\" \"main\"";

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
    jvm.printsDescriptions = false;
    jvm.record = [this](const std::string& line) {
      for (const char* parameterCall : {"NewString ", "SetObjectArrayElement ", "DeleteLocalRef "})
        if (line.rfind(parameterCall, 0) == 0) return;
      jvm.calls.push_back(line);
    };
    jvm.perform = [this](const std::string& method, jint) -> jboolean {
      if ((method == "main" && jvm.mainThrows) || (method == "firstRun" && jvm.firstRunThrows))
        jvm.throwNew("java/lang/IllegalStateException", u"thrown");
      return method == "firstRun" ? jvm.firstRunResult : jboolean(JNI_TRUE);
    };
    jvm.buildTables(trap);
    gJvm = &jvm;
    return launchProgram(h, state);
  }
};

bool has(const Strings& lines, const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
bool hasStart(const Strings& lines, const std::string& start) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
}

TEST(JavaVmLauncher, SuccessfulLaunchInOrderOncePerProcessEndedByTheExitRequest) {
  Launch launch;
  ASSERT_TRUE(launch.run());
  EXPECT_EQ(launch.log, (Strings{"launching program", "vmoption count 2", "vmoption 0: -Dkerno.tempDir=",
                                 "vmoption 1: -Xrs", "Creating JVM", "JVM created",
                                 "main class: com/kerno/runtime/WinLauncher", "param count: 7", "param 0: false",
                                 "param 1: com.example.Main", "param 2: ", "param 3: ", "param 4: false",
                                 "param 5: svc", "param 6: ?", "calling main", "main returned", "launch done"}));
  EXPECT_EQ(launch.jvm.calls,
            (Strings{"JNI_CreateJavaVM", "FindClass \"com/kerno/runtime/WinLauncher\" -> class",
                     "GetStaticMethodID class \"com/kerno/runtime/WinLauncher\" \"main\" \"([Ljava/lang/String;)V\" -> method",
                     "FindClass \"java/lang/String\" -> class", "NewObjectArray 7 class \"java/lang/String\" null -> array",
                     kMainCall + " \"([Ljava/lang/String;)V\" \"false\" \"com.example.Main\" \"\" \"\" \"false\" \"svc\" "
                                 "\"\\u20ac\"",
                     "ExceptionOccurred -> null"}));
  // The initialisation record, kept alive in the state.
  const JavaVMInitArgs* init = launch.jvm.init;
  EXPECT_EQ(init->version, 0x00010002);
  EXPECT_EQ(init->ignoreUnrecognized, JNI_TRUE);
  ASSERT_EQ(init->nOptions, 2);
  EXPECT_STREQ(init->options[1].optionString, "-Xrs");
  EXPECT_EQ(init->options[1].extraInfo, nullptr);
  // Every parameter in its place, the wide text unchanged, no local left over.
  EXPECT_EQ(launch.jvm.arrayTexts(), launch.parameters);
  EXPECT_EQ(launch.jvm.liveStrings, 0);
  EXPECT_TRUE(launch.messages.empty());
  EXPECT_EQ(launch.state.vm, &launch.jvm.vm);
  EXPECT_EQ(launch.state.env, &launch.jvm.env);
  // One launch per process, ended by the exit request.
  launch.jvm.calls.clear();
  EXPECT_FALSE(launch.run());
  EXPECT_FALSE(has(launch.jvm.calls, "JNI_CreateJavaVM"));
  launch.jvm.calls.clear();
  requestVmExit(launch.state);
  EXPECT_EQ(launch.jvm.calls, (Strings{"FindClass \"java/lang/System\" -> class",
                                       "GetStaticMethodID class \"java/lang/System\" \"exit\" \"(I)V\" -> method",
                                       "CallStaticVoidMethodA \"java/lang/System\" \"exit\" \"(I)V\" 0",
                                       "ExceptionOccurred -> null", "DestroyJavaVM -> 0"}));
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
      {"main missing", [](Launch& l) { l.jvm.missing = {"com/kerno/runtime/WinLauncher.main"}; }, "ERROR: could not call main", "fatal 1011 =", true},
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
    EXPECT_EQ(launch.state.vm, c.created ? &launch.jvm.vm : nullptr) << c.name;
    bool mainCalled = std::string(c.name) == "main throws";
    EXPECT_EQ(hasStart(launch.jvm.calls, kMainCall), mainCalled) << c.name;
    const Strings thrown = {"main returned", "ERROR: an exception occured", "ERROR: could not call main"};
    EXPECT_EQ(launch.log.size() > 2 && Strings(launch.log.end() - 3, launch.log.end()) == thrown, mainCalled) << c.name;
    // The VM's exception (OutOfMemoryError, ClassNotFoundException) is described and cleared.
    EXPECT_EQ(hasStart(launch.jvm.calls, "ExceptionDescribe throwable"), c.created) << c.name;
    EXPECT_EQ(launch.jvm.pending, nullptr) << c.name;
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
      {"marker, method missing", true, true, "com/brindle/runtime/FirstRun.firstRun", JNI_TRUE, false, false, false, "fatal 1009 %ERROR_CODE%=15"},
  };
  for (const Case& c : cases) {
    Launch launch;
    launch.brindle = c.brindle, launch.marker = c.marker;
    launch.jvm.missing = {c.missing};
    launch.jvm.firstRunResult = c.result, launch.jvm.firstRunThrows = c.throws;
    EXPECT_EQ(launch.run(), c.launched) << c.name;
    EXPECT_EQ(hasStart(launch.jvm.calls, kMainCall), c.mainCalled) << c.name;
    EXPECT_EQ(has(launch.log, "(marker asked)"), c.brindle) << c.name;
    EXPECT_EQ(hasStart(launch.jvm.calls, "FindClass \"com/brindle/runtime/FirstRun\""), c.brindle && c.marker) << c.name;
    EXPECT_EQ(has(launch.log, "checkFirstRun stopped further execution"), c.launched && !c.mainCalled) << c.name;
    EXPECT_EQ(launch.messages, *c.message ? Strings{c.message} : Strings{}) << c.name;
    EXPECT_EQ(hasStart(launch.jvm.calls, "ExceptionDescribe throwable"), c.throws || *c.message) << c.name;
  }
}

}  // namespace
