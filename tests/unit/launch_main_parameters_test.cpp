#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launch/vm_options.h"

namespace {

using Params = std::vector<std::u16string>;

Params build(const MainParameterInputs& in, const Params& launchArguments) {
  Params out;
  LaunchProblem problem;
  EXPECT_TRUE(buildMainParameters(in, launchArguments, out, problem));
  return out;
}

MainParameterInputs shipped() {
  MainParameterInputs in;
  in.executableType = 3;
  in.mainClass = "com.example.demo.DemoService";
  return in;
}

}  // namespace

TEST(MainParameters, FixedPositions) {
  struct Case {
    const char* name;
    int executableType;
    int stdoutRedirect;
    int stderrRedirect;
    int extraLauncherFlag;
    Params first5;
  };
  const std::u16string out = u"c:\\app\\logs\\service-output.log";
  const std::u16string err = u"c:\\app\\logs\\Errors.log";
  const Case cases[] = {
      {"type 3", 3, 0, 0, 0, {u"false", u"com.example.demo.DemoService", u"", u"", u"false"}},
      {"type 1 is the only true",
       1,
       0,
       0,
       0,
       {u"true", u"com.example.demo.DemoService", u"", u"", u"false"}},
      {"type 5", 5, 0, 0, 0, {u"false", u"com.example.demo.DemoService", u"", u"", u"false"}},
      {"redirects on", 3, 1, 7, 0, {u"false", u"com.example.demo.DemoService", out, err, u"false"}},
      {"only errors", 3, 0, 1, 0, {u"false", u"com.example.demo.DemoService", u"", err, u"false"}},
      {"extra flag 2", 3, 0, 0, 2, {u"false", u"com.example.demo.DemoService", u"", u"", u"true"}},
      {"extra flag -1",
       3,
       0,
       0,
       -1,
       {u"false", u"com.example.demo.DemoService", u"", u"", u"true"}},
  };
  for (const Case& c : cases) {
    MainParameterInputs in = shipped();
    in.executableType = c.executableType;
    in.stdoutRedirect = c.stdoutRedirect;
    in.stdoutFile = out;  // a name without the flag is not passed
    in.stderrRedirect = c.stderrRedirect;
    in.stderrFile = err;
    in.extraLauncherFlag = c.extraLauncherFlag;
    EXPECT_EQ(build(in, {}), c.first5) << c.name;
  }
}

TEST(MainParameters, MainClassByteByByte) {
  MainParameterInputs in = shipped();
  in.mainClass = "p.Caf\xe9";
  EXPECT_EQ(build(in, {})[1], u"p.Caf\u00e9");
}

TEST(MainParameters, ArgumentsAfterTheFixedOnes) {
  struct Case {
    const char* name;
    const char16_t* arguments;
    int commandLineVmOptions;
    Params launchArguments;
    Params rest;  // from position 5 on
  };
  const Case cases[] = {
      {"no launch arguments: nothing at 5", u"", 0, {}, {}},
      {"no launch arguments, key 124 only", u"a b", 0, {}, {u"a", u"b"}},
      {"service name only", u"", 0, {u"svc"}, {u"svc"}},
      {"-J left out with key 125", u"", 1, {u"svc", u"-J-Xmx1g", u"x"}, {u"svc", u"x"}},
      {"-J kept without key 125", u"", 0, {u"svc", u"-J-Xmx1g", u"x"}, {u"svc", u"-J-Xmx1g", u"x"}},
      {"-j is no VM option", u"", 1, {u"svc", u"-j-Xmx1g"}, {u"svc", u"-j-Xmx1g"}},
      {"first argument is always the service name", u"", 1, {u"-Jsvc", u"-J-X"}, {u"-Jsvc"}},
      {"key 124 between service name and the others",
       u"a b \"c d\"",
       0,
       {u"svc", u"e", u""},
       {u"svc", u"a", u"b", u"c d", u"e", u""}},
      {"empty quoted parameter kept", u"'' x", 0, {u"svc"}, {u"svc", u"", u"x"}},
      {"characters beyond Latin-1 unchanged",
       u"\u20ac",
       0,
       {u"svc", u"\u65e5\u672c"},
       {u"svc", u"\u20ac", u"\u65e5\u672c"}},
  };
  for (const Case& c : cases) {
    MainParameterInputs in = shipped();
    in.arguments = c.arguments;
    in.commandLineVmOptions = c.commandLineVmOptions;
    Params out = build(in, c.launchArguments);
    ASSERT_GE(out.size(), 5u) << c.name;
    EXPECT_EQ(Params(out.begin() + 5, out.end()), c.rest) << c.name;
  }
}

TEST(MainParameters, UnmatchedQuoteInArguments) {
  MainParameterInputs in = shipped();
  in.arguments = u"a 'b";
  Params out;
  LaunchProblem problem;
  EXPECT_FALSE(buildMainParameters(in, {u"svc"}, out, problem));
  EXPECT_EQ(problem.message, ConfigKey::MSG_WRONG_PARAMETERS);
}
