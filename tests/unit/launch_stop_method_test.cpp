// The stop method: its stored form and checks, and its JNI calls against
// the JNI double (tests/standins/jni_double), as a real VM would answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../standins/jni_double.h"
#include "launch/stop_method.h"

namespace {

using Strings = std::vector<std::string>;

TEST(StopMethodSetting, StoredFormAndChecks) {
  StopMethodSetting s;
  std::string why;
  // Good texts come back as they are; "" after the method is one empty argument.
  for (const char* good : {"30\norg.example.Server\nshutdown\ngraceful\nnow", "1\nServer\nstop",
                           "3600\na.b.Outer$Inner\n_stop\n", "5\nS\nm\nwith spaces; and \xE9"}) {
    ASSERT_TRUE(parseStopMethod(good, s, why)) << good << ": " << why;
    EXPECT_EQ(stopMethodText(s), good);
  }
  EXPECT_EQ(s.arguments, Strings{"with spaces; and \xE9"});
  ASSERT_TRUE(parseStopMethod("30\norg.example.Server\nshutdown\n", s, why));
  EXPECT_EQ(s.arguments, Strings{""});
  EXPECT_EQ(std::string(stopMethodSignature(s)), "([Ljava/lang/String;)V");
  EXPECT_EQ(stopMethodClassPath(s), "org/example/Server");
  ASSERT_TRUE(parseStopMethod("30\nS\nm", s, why));
  EXPECT_EQ(std::string(stopMethodSignature(s)), "()V");

  const std::pair<std::string, const char*> bad[] = {
      {"30\nS", "not a time-out, a class and a method"},
      {"0\nS\nm", "timeoutSeconds: 0 is outside 1..3600"},
      {"3601\nS\nm", "timeoutSeconds"},
      {"30\norg..Server\nm", "empty part"},
      {"30\n.Server\nm", "empty part"},
      {"30\norg.1x.Server\nm", "begins with a digit"},
      {"30\norg/example/Server\nm", "other than ASCII"},
      {"30\nS\nstop()", "other than ASCII"},
      {"30\nS\na.b", "other than ASCII"},
      {"30\nS\n\xE9t\xE9", "other than ASCII"},
      {"30\nS\n", "empty part"},
      {"30\nS\nm\na\rb", "control character"},
      {"30\n" + std::string(1001, 'a') + "\nm", "longer than 1000"},
      {"30\nS\nm\n" + std::string(8192, 'a'), "longer than 8191"},
      {"30\nS\nm" + std::string(101, '\n'), "more than 100 arguments"},
  };
  for (const auto& [text, expected] : bad) {
    EXPECT_FALSE(parseStopMethod(text, s, why)) << text;
    EXPECT_NE(why.find(expected), std::string::npos) << text << ": " << why;
  }
}

void JNICALL trap() { std::abort(); }

struct Vm : jni_double::Double {
  Strings calls;
  bool throws = false;
  Vm() {
    printsDescriptions = false;
    record = [this](const std::string& line) { calls.push_back(line); };
    perform = [this](const std::string& method, jint) -> jboolean {
      if (method == "stop" && throws) throwNew("java/lang/IllegalStateException", u"not now");
      return JNI_TRUE;
    };
    buildTables(trap);
  }
};

StopMethodCall call(Strings arguments) {
  StopMethodCall c;
  c.setting.className = "org.example.Server";
  c.setting.method = "shutdown";
  c.setting.arguments = arguments;
  c.setting.timeoutSeconds = 5;
  for (const std::string& a : arguments) c.arguments.emplace_back(a.begin(), a.end());
  return c;
}

bool has(const Strings& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(StopMethod, CalledOnAnAttachedThreadWithItsArguments) {
  Vm vm;
  StopMethodOutcome o = callStopMethod(&vm.vm, call({"graceful", "now"}));
  EXPECT_EQ(o.result, StopMethodResult::returned);
  EXPECT_EQ(stopMethodOutcomeLine(call({}).setting, o), "");
  const Strings expected = {
      "AttachCurrentThreadAsDaemon \"kerno stop method\" -> 0",
      "FindClass \"org/example/Server\" -> class",
      "GetStaticMethodID class \"org/example/Server\" \"shutdown\" \"([Ljava/lang/String;)V\" -> method",
      "FindClass \"java/lang/String\" -> class",
      "NewObjectArray 2 class \"java/lang/String\" null -> array",
      "DeleteLocalRef class \"java/lang/String\"",
      "NewString \"graceful\" -> string",
      "SetObjectArrayElement 0 \"graceful\"",
      "DeleteLocalRef \"graceful\"",
      "NewString \"now\" -> string",
      "SetObjectArrayElement 1 \"now\"",
      "DeleteLocalRef \"now\"",
      "CallStaticVoidMethodA \"org/example/Server\" \"shutdown\" \"([Ljava/lang/String;)V\" \"graceful\" \"now\"",
      "DeleteLocalRef array \"java/lang/String\"",
      "DeleteLocalRef class \"org/example/Server\"",
      "ExceptionOccurred -> null",
      "DetachCurrentThread -> 0"};
  EXPECT_EQ(vm.calls, expected);
  EXPECT_EQ(vm.liveStrings, 0);

  Vm plain;  // no arguments: ()V, no array
  EXPECT_EQ(callStopMethod(&plain.vm, call({})).result, StopMethodResult::returned);
  EXPECT_TRUE(has(plain.calls, "CallStaticVoidMethodA \"org/example/Server\" \"shutdown\" \"()V\""));
  EXPECT_FALSE(has(plain.calls, "FindClass \"java/lang/String\" -> class"));
}

TEST(StopMethod, WhatWentWrongIsOneLine) {
  struct Case {
    const char* missing;
    bool throws;
    StopMethodResult result;
    const char* line;
  };
  const Case cases[] = {
      {"org/example/Server", false, StopMethodResult::notFound,
       "the stop method org.example.Server.shutdown could not be called: the class org.example.Server is not on "
       "the class path; stopping all the same"},
      {"org/example/Server.shutdown", false, StopMethodResult::notFound,
       "the stop method org.example.Server.shutdown could not be called: the class org.example.Server has no "
       "static method shutdown([Ljava/lang/String;)V; stopping all the same"},
      {"", true, StopMethodResult::threw,
       "the stop method org.example.Server.shutdown threw java.lang.IllegalStateException: not now; stopping "
       "all the same"},
  };
  for (const Case& c : cases) {
    Vm vm;
    if (*c.missing) vm.missing.insert(c.missing);
    vm.throws = c.throws;
    StopMethodCall stop = call({"graceful"});
    StopMethodOutcome o = invokeStopMethod(&vm.env, stop);
    EXPECT_EQ(o.result, c.result) << c.line;
    EXPECT_EQ(stopMethodOutcomeLine(stop.setting, o), c.line);
    EXPECT_EQ(vm.pending, nullptr) << c.line;  // nothing left pending on the thread
  }
  StopMethodOutcome late{StopMethodResult::timedOut, ""};
  EXPECT_EQ(stopMethodOutcomeLine(call({}).setting, late),
            "the stop method org.example.Server.shutdown did not return within its time-out of 5 seconds; "
            "stopping all the same");
}

}  // namespace
