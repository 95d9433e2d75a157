// What the launch decides from values: variable expansion, parameter
// splitting, the VM options (options file, system properties, class path,
// their order) and the parameters of the Java-side launcher class.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "config/path_text.h"
#include "jvm/variables.h"
#include "launch/vm_options.h"

namespace {

using U16s = std::vector<std::u16string>;
using Strings = std::vector<std::string>;

const BuiltinValues kValues = {"c:\\app\\", "c:\\t\\krn3f.tmp_dir2", "c:\\jre\\bin\\.."};

std::string expanded(std::string text, const Strings& environment = {}, const BuiltinValues& values = kValues) {
  expandVariables(text, values, environment);
  return text;
}

TEST(Variables, ReplaceAllReplacesEveryOccurrenceOnce) {
  const char* cases[][4] = {
      {"a${X}b${X}c", "${X}", "1", "a1b1c"}, {"${x}", "${X}", "1", "${x}"},  // case-sensitive
      // The inserted value is not searched again; the search goes on right after it.
      {"${X}.${X}", "${X}", "<${X}>", "<${X}>.<${X}>"}, {"aaa", "aa", "b", "ba"}, {"text", "", "v", "text"},
  };
  for (auto& c : cases) {
    std::string text = c[0];
    replaceAll(text, c[1], c[2]);
    EXPECT_EQ(text, c[3]) << c[0];
  }
  // Never past the text limit: occurrences before it are replaced, the others stay.
  std::string text = "${X}" + std::string(kMaxExpandedText - 10, 'a'), at = text;
  replaceAll(at, "${X}", std::string(10, 'v'));
  EXPECT_EQ(at.size(), kMaxExpandedText);
  replaceAll(text, "${X}", std::string(11, 'v'));
  EXPECT_EQ(text.substr(0, 4), "${X}");
}

TEST(Variables, BuiltinsThenTheEnvironmentInTwoSpellings) {
  EXPECT_EQ(expanded("%KERNO_EXEDIR%\\lib;${BRINDLE_EXEDIR}"), "c:\\app\\\\lib;c:\\app\\");  // doubled backslash kept
  EXPECT_EQ(expanded("a%BRINDLE_PATHLIST_SEPARATOR%b${KERNO_PATHLIST_SEPARATOR}"), "a;b;");
  EXPECT_EQ(expanded("%KERNO_TEMPDIR%|${BRINDLE_TEMPDIR}"), "c:\\t\\krn3f.tmp_dir2|c:\\t\\krn3f.tmp_dir2");
  EXPECT_EQ(expanded("%BRINDLE_JVM_HOME%|${KERNO_JVM_HOME}|${kerno_jvm_home}"), "c:\\jre\\bin\\..|c:\\jre\\bin\\..|${kerno_jvm_home}");
  EXPECT_EQ(expanded("[${KERNO_JVM_HOME}][%KERNO_TEMPDIR%]", {}, {"c:\\app\\", "", ""}), "[][]");
  const Strings env = {"Foo=bar", "KERNO_EXEDIR=evil", "=C:=C:\\work", "NOEQUALS", "E=", "F=a=b"};
  EXPECT_EQ(expanded("${Foo}|${FOO}|${foo}|%Foo%|${KERNO_EXEDIR}", env), "bar|bar|${foo}|%Foo%|c:\\app\\");
  EXPECT_EQ(expanded("${}|${E}|${F}|${NOEQUALS}", env), "C:=C:\\work||a=b|${NOEQUALS}");
  // Later entries expand what earlier values inserted, never the reverse; self references end.
  EXPECT_EQ(expanded("${A}", {"A=${B}", "B=b"}), "b");
  EXPECT_EQ(expanded("${B}", {"A=a", "B=${A}"}), "${A}");
  EXPECT_EQ(expanded("${X}", {"X=${X}y"}), "${X}yy");
  EXPECT_EQ(expanded("${N}", {std::string("N=a\0b", 5)}), "a");  // an entry is a C text
  EXPECT_EQ(expanded("${L}", {"L=" + std::string(kMaxEnvironmentEntry, 'v')}), "${L}");  // overlong: not used
  std::string fits(kMaxEnvironmentEntry - 2, 'v');
  EXPECT_EQ(expanded("${L}", {"L=" + fits}), fits);
  EXPECT_EQ(jvmHomeFromJavaExe("d:\\java\\jre\\bin\\javaw.exe"), "d:\\java\\jre\\bin\\..");
  EXPECT_EQ(jvmHomeFromJavaExe("x"), "..");
}

// %NAME% as the system expands it: defined names only, values not expanded again.
TEST(Variables, PercentReferencesOfDefinedNames) {
  const std::map<std::string, std::string> env = {{"APP_HOME", "c:\\app"}, {"PATH", "c:\\w"}, {"V", "%APP_HOME%"}};
  VariableLookup lookup = [&env](const std::string& name) -> std::optional<std::string> {
    auto it = env.find(name);
    return it == env.end() ? std::nullopt : std::optional<std::string>(it->second);
  };
  const std::pair<const char*, const char*> cases[] = {
      {"%APP_HOME%\\bin;%PATH%", "c:\\app\\bin;c:\\w"}, {"%V%", "%APP_HOME%"},
      {"hs_err_pid%p.log", "hs_err_pid%p.log"}, {"%UNDEF%PATH%", "%UNDEF%PATH%"}, {"50%%PATH%", "50%%PATH%"},
      {"%PATH", "%PATH"}, {"a%%b", "a%%b"}, {"%path%", "%path%"},  // the lookup decides about case
  };
  for (const auto& [text, want] : cases) {
    std::string t = text;
    EXPECT_TRUE(expandPercentReferences(t, lookup, 100)) << text;
    EXPECT_EQ(t, want) << text;
  }
  std::string t = "%APP_HOME%%APP_HOME%";
  EXPECT_FALSE(expandPercentReferences(t, lookup, 11));
  EXPECT_EQ(t, "%APP_HOME%%APP_HOME%");  // unchanged
}

// A description's class-path items: the launcher's own form kept, the forms
// of java -cp turned into it.
TEST(ClassPathItems, JavaFormsBecomeLauncherItems) {
  const std::pair<const char*, const char*> cases[] = {  // nullptr: refused
      {"app.jar", "A0app.jar"}, {"lib/util.jar", "A0lib\\util.jar"}, {"lib/*", "S0lib"}, {"lib\\*", "S0lib"},
      {"*", "S0."}, {"c:/opt/x/*", "S0c:\\opt\\x"}, {"%APP_HOME%\\lib\\x.jar", "A0${APP_HOME}\\lib\\x.jar"},
      {"%KERNO_EXEDIR%x.jar", "A0%KERNO_EXEDIR%x.jar"}, {"%APP_CP%", "E0APP_CP"}, {"%KERNO_EXEDIR%", "A0%KERNO_EXEDIR%"},
      {"50%.jar", "A050%.jar"}, {"a%%b%X%.jar", "A0a%%b${X}.jar"}, {"./A1.jar", "A0.\\A1.jar"},
      {"", nullptr}, {"lib/*.jar", nullptr}, {"lib*", nullptr}, {"*/x.jar", nullptr},
  };
  for (const auto& [path, item] : cases) {
    std::string out, why;
    EXPECT_EQ(classPathItemFromJavaForm(path, out, why), item != nullptr) << path;
    if (item) {
      EXPECT_EQ(out, item) << path;
      EXPECT_TRUE(isLauncherClassPathItem(out)) << path;
    }
  }
  for (const char* own : {"A1lib\\x.jar", "S0lib", "E0APP_CP", "Z1x"}) EXPECT_TRUE(isLauncherClassPathItem(own));
  for (const char* java : {"app.jar", "a1.jar", "A", "./A1.jar", "A2x"}) EXPECT_FALSE(isLauncherClassPathItem(java));
}

void expectSplits(const std::vector<std::pair<const char16_t*, U16s>>& cases, bool ok = true) {
  for (const auto& [text, parameters] : cases) {
    U16s out;
    EXPECT_EQ(splitParameters(text, out), ok) << ::testing::PrintToString(std::u16string(text));
    EXPECT_EQ(out, parameters) << ::testing::PrintToString(std::u16string(text));
  }
}

TEST(SplitParameters, SpacesSeparateQuotesGroup) {
  expectSplits({
      {u"   ", {}}, {u"  a   b  ", {u"a", u"b"}},
      {u"a\tb c\n", {u"a\tb", u"c\n"}},  // only the space separates
      {u"-Xms64m \"-Dp=c:\\a b\" 'x y' \"\"", {u"-Xms64m", u"-Dp=c:\\a b", u"x y", u""}},
      {u"\"it's\" 'say \"hi\"'", {u"it's", u"say \"hi\""}},  // the other kind is an ordinary character
      {u"\"a\\\" b", {u"a\\", u"b"}},                         // no escape character
      {u"\"a\"b 'c'  d", {u"a", u"b", u"c", u"d"}},           // text after a closing quote starts the next
      // A quote inside a parameter joins the quoted text to what came before.
      {u"-Dp=\"c:\\a b\" -Xrs", {u"-Dp=c:\\a b", u"-Xrs"}}, {u"x'a b'y", {u"xa b", u"y"}},
  });
  // An unmatched quote fails with what came before it.
  expectSplits({{u"\"abc", {}}, {u"a b 'c d", {u"a", u"b"}}, {u"'a' \"b'", {u"a"}}}, false);
  U16s out = {u"kept"};
  ASSERT_TRUE(splitParameters(u"x", out));
  EXPECT_EQ(out, (U16s{u"kept", u"x"}));
}

TEST(VmOptionsFile, LinesAndNames) {
  const std::pair<std::string_view, std::optional<std::string>> lines[] = {
      {"   -Xmx512m   \n", "-Xmx512m"}, {"-Xmx512m\r\r\n\n", "-Xmx512m"}, {"-Xmx512m", "-Xmx512m"},
      {"\t-Xmx512m\t\n", "\t-Xmx512m\t"},  // only spaces are trimmed
      {"-Dname=a b \"c\" ${X}\n", "-Dname=a b \"c\" ${X}"},  // no quoting, no expansion
      {"   # comment\n", std::nullopt}, {"     \r\n", std::nullopt}, {"", std::nullopt}, {"-Da=#1\n", "-Da=#1"},
      {std::string_view("-Xrs\0tail\n", 10), "-Xrs"}, {std::string_view("\0-Xrs\n", 6), std::nullopt},  // C texts
  };
  for (const auto& [line, option] : lines) EXPECT_EQ(vmOptionFromFileLine(line), option) << ::testing::PrintToString(line);
  EXPECT_EQ(vmOptionsFileNames("c:\\app\\server.exe"), (Strings{"c:\\app\\server.vmoptions", "c:\\app\\server.exe.vmoptions"}));
  EXPECT_EQ(vmOptionsFileNames("a.x"), (Strings{"a.x.vmoptions"}));  // too short to lose four characters
}

TEST(SystemProperties, InTheirOrderWhenTheyApply) {
  const std::pair<SystemPropertyInputs, Strings> properties[] = {
      {{LauncherFlavour::brindle, "c:\\s.exe", false, "ignored", "", ""},
       {"-Dkerno.isBrindle=true", "-Dkerno.moduleName=c:\\s.exe", "-Dkerno.tempDir="}},
      {{LauncherFlavour::kerno, "c:\\a b\\s.exe", true, "c:\\p42.tmp", "c:\\t\\x", "1048576,5"},
       {"-Dkerno.moduleName=c:\\a b\\s.exe", "-Dkerno.processCommFile=c:\\p42.tmp", "-Dkerno.tempDir=c:\\t\\x",
        "-Dkerno.outputRotation=1048576,5"}},
  };
  for (const auto& [in, options] : properties) EXPECT_EQ(systemPropertyOptions(in), options);
}

TEST(ClassPathItems, ParsingAndEnvironmentValues) {
  std::string described;
  for (const ClassPathItem& item : parseClassPathItems("A1.\\app.jar;;S0lib;x;D2dir;A1"))
    described += item.type + std::string(item.mustExist ? "!" : "?") + "[" + item.path + "]";
  EXPECT_EQ(described, "A![.\\app.jar]S?[lib]D?[dir]A![]");  // "x" is too short; only '1' makes an item required
  const char* values[][2] = {{"c:\\a.jar", "c:\\a.jar;"}, {"\"c:\\a b;c:\\c;\"", "c:\\a b;c:\\c;"},
                             {"\"c:\\a", "\"c:\\a;"}, {"\"", "\";"}, {"\"\"", ""}, {"", ""}};
  for (auto& v : values) EXPECT_EQ(classPathFromEnvironment(v[0]), v[1]) << v[0];
}

// A file system and environment for the class-path rules; the executable
// lies in c:\app\ and the real expansion and path rules apply.
struct Fake {
  std::set<std::string> existing = {"c:\\app\\here.jar", "c:\\app\\lib", "c:\\app\\empty", "c:\\tmp\\x"};
  std::map<std::string, Strings> listings = {{"c:\\app\\lib|jar", {"b.jar", "a.jar"}},
                                             {"c:\\app\\lib|zip", {"c.zip"}},
                                             {"c:\\tmp\\x|jar", {"planted.jar"}}};  // never listed
  Strings environment = {"CP=\"c:\\a b;c:\\c\"", "EMPTY=", "LIB=lib", "EXE=c:\\app\\", "V=gone"};

  bool build(std::string_view key, std::string& option, LaunchProblem& problem,
             LauncherFlavour flavour = LauncherFlavour::kerno, Strings extracted = {}) const {
    ClassPathSystem sys;
    sys.flavour = flavour;
    sys.extractedFiles = std::move(extracted);
    sys.installationDirectory = "c:\\app";
    sys.expandVariables = [this](std::string& text) { expandVariables(text, kValues, environment); };
    sys.appendExeRelative = [](std::string_view path) {
      std::string joined = appendExeRelative("c:\\app\\", path);
      std::u16string wide(joined.begin(), joined.end());
      collapseBackslashes(wide);
      return std::string(wide.begin(), wide.end());
    };
    sys.pathExists = [this](const std::string& path) { return existing.count(path) > 0; };
    sys.listDirectory = [this](const std::string& dir, const std::string& ext) {
      auto it = listings.find(dir + "|" + ext);
      return it == listings.end() ? Strings() : it->second;
    };
    sys.environmentVariable = [this](const std::string& name) {
      for (const std::string& e : environment)
        if (e.rfind(name + "=", 0) == 0) return EnvironmentValue{true, e.substr(name.size() + 1)};
      return EnvironmentValue{};
    };
    return buildClassPathOption(key, sys, option, problem);
  }
};

const std::string kPrefix = "-Djava.class.path=";

TEST(ClassPath, ElementRules) {
  struct Case {
    const char* name;
    const char* key;
    LauncherFlavour flavour;
    Strings extracted;
    std::string classPath;
  };
  const LauncherFlavour kerno = LauncherFlavour::kerno, brindle = LauncherFlavour::brindle;
  const Case cases[] = {
      {"nothing at all", "", kerno, {}, ""},
      {"runtime jar first, archives in listing order, jars before zips", "A1here.jar;S0lib", brindle, {},
       "c:\\app\\.brindle\\brdruntime.jar;c:\\app\\here.jar;c:\\app\\lib\\b.jar;c:\\app\\lib\\a.jar;c:\\app\\lib\\c.zip;"},
      {"A and D alike, appended also when missing", "A0gone.jar;D0gone", kerno, {}, "c:\\app\\gone.jar;c:\\app\\gone;"},
      {"expanded before use, backslashes collapsed", "S1${LIB};A0${EXE}\\here.jar", kerno, {},
       "c:\\app\\lib\\b.jar;c:\\app\\lib\\a.jar;c:\\app\\lib\\c.zip;c:\\app\\here.jar;"},
      {"existing directory without archives counts as found", "S1empty", kerno, {}, ""},
      {"missing optional scan contributes nothing", "S0none", kerno, {}, ""},
      {"environment value without its quotes", "E1CP", kerno, {}, "c:\\a b;c:\\c;"},
      {"undefined or empty optional variable, unknown optional letter", "E0NONE;E0EMPTY;X0here.jar", kerno, {}, ""},
      {"only the extracted archives, jars then zips, before the runtime jar", "", brindle,
       {"c:\\tmp\\x\\inc.zip", "c:\\tmp\\x\\inc.jar", "c:\\tmp\\x\\notes.txt", "c:\\tmp\\x\\UP.JAR", "c:\\tmp\\x\\a.jarx"},
       "c:\\tmp\\x\\inc.jar;c:\\tmp\\x\\UP.JAR;c:\\tmp\\x\\inc.zip;c:\\app\\.brindle\\brdruntime.jar;"},
  };
  for (const Case& c : cases) {
    std::string option;
    LaunchProblem problem;
    EXPECT_TRUE(Fake{}.build(c.key, option, problem, c.flavour, c.extracted)) << c.name;
    EXPECT_EQ(option, kPrefix + c.classPath) << c.name;
  }
}

TEST(ClassPath, RequiredItemsThatAreMissingNameTheExpandedText) {
  const std::tuple<const char*, ConfigKey, std::string_view, const char*> cases[] = {
      {"A1${V}.jar", ConfigKey::MSG_FILE_NOT_FOUND, kPlaceholderFileName, "gone.jar"},
      {"A1here.jar;D1gone", ConfigKey::MSG_FILE_NOT_FOUND, kPlaceholderFileName, "gone"},
      {"S1none", ConfigKey::MSG_FILE_NOT_FOUND, kPlaceholderFileName, "none"},
      {"E1NONE", ConfigKey::MSG_ENV_VAR_UNDEFINED, kPlaceholderEnvVarName, "NONE"},
      {"E1EMPTY", ConfigKey::MSG_ENV_VAR_UNDEFINED, kPlaceholderEnvVarName, "EMPTY"},
      {"Q1here.jar", ConfigKey::MSG_FILE_NOT_FOUND, kPlaceholderFileName, "here.jar"},
  };
  for (const auto& [key, message, placeholder, value] : cases) {
    std::string option;
    LaunchProblem problem;
    EXPECT_FALSE(Fake{}.build(key, option, problem)) << key;
    EXPECT_EQ(problem.message, message) << key;
    EXPECT_EQ(problem.placeholder, placeholder) << key;
    EXPECT_EQ(problem.value, value) << key;
  }
}

TEST(ClassPath, TooLongIsRefusedWholeElementsOnly) {
  Fake fake;
  std::string option;
  LaunchProblem problem;
  // "c:\app\" + fits + ";" leaves the option exactly at its limit.
  std::string fits(kMaxClassPathOption - kPrefix.size() - 1 - 7, 'a');
  ASSERT_TRUE(fake.build("A0" + fits, option, problem));
  EXPECT_EQ(option.size(), kMaxClassPathOption);
  EXPECT_FALSE(fake.build("A0" + fits + "b", option, problem));
  EXPECT_NE(problem.fixedText.find("The class path is too long"), std::string::npos);
  EXPECT_NE(problem.fixedText.find("c:\\app\\aaaa"), std::string::npos);
  EXPECT_LT(problem.fixedText.size(), 400u);  // the element is shown shortened
  // An environment value, a scanned directory and an extracted file are refused the same way.
  fake.environment = {"BIG=" + std::string(kMaxClassPathOption, 'e')};
  EXPECT_FALSE(fake.build("A0x.jar;E0BIG", option, problem));
  fake.listings["c:\\app\\lib|jar"] = Strings(kMaxClassPathOption / 16, "0123456789.jar");
  EXPECT_FALSE(fake.build("S0lib", option, problem));
  EXPECT_FALSE(fake.build("", option, problem, LauncherFlavour::kerno, {"c:\\x\\" + fits + ".jar"}));
  EXPECT_FALSE(fake.build("", option, problem, LauncherFlavour::brindle, {"c:\\" + fits + ".jar"}));
}

std::string ascii(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

TEST(VmOptionList, InTheOrderOfItsSources) {
  VmOptionSources sources;
  sources.systemProperties = {"-Dkerno.moduleName=c:\\app\\s.exe", "-Dkerno.tempDir="};
  sources.optionsFileLines = {"  -Xmx512m  \n", "# comment\n", "-Dfile=1\n"};
  sources.classPathOption = kPrefix + "c:\\app\\a.jar;";
  sources.vmParameters = u" -Xrs \"-Dp=c:\\a b\"";
  sources.vmOptions = {"-Dgreeting=hello 'world'", "-Dq=\"x\""};  // one option each, as they are
  sources.commandLineVmOptions = true;
  sources.launchArguments = {u"-J-Dfirst=1", u"run", u"-j-Xss1m", u"-J\u00e9"};
  sources.libraryPathOption = "-Djava.library.path=c:\\app";
  Strings out;
  LaunchProblem problem;
  ASSERT_TRUE(assembleVmOptions(sources, ascii, out, problem));
  // Every -J argument, the first launch argument included.
  EXPECT_EQ(out, (Strings{"-Dkerno.moduleName=c:\\app\\s.exe", "-Dkerno.tempDir=", "-Djava.library.path=c:\\app",
                          "-Xmx512m", "-Dfile=1", kPrefix + "c:\\app\\a.jar;", "-Xrs", "-Dp=c:\\a b",
                          "-Dgreeting=hello 'world'", "-Dq=\"x\"", "-Dfirst=1", "?"}));
  sources.commandLineVmOptions = false;
  ASSERT_TRUE(assembleVmOptions(sources, ascii, out, problem));
  EXPECT_EQ(out.back(), "-Dq=\"x\"");
  sources.vmParameters = u"-Xrs \"-Dx=1";
  EXPECT_FALSE(assembleVmOptions(sources, ascii, out, problem));
  EXPECT_EQ(problem.message, ConfigKey::MSG_WRONG_PARAMETERS);
}

// The launcher's library path stands unless the configuration sets its own,
// wherever it does; a -J start parameter counts only where key 125 lets it in.
TEST(VmOptionList, LibraryPathOnlyWhereTheConfigurationSetsNone) {
  const std::string ours = "-Djava.library.path=c:\\app";
  // (options file lines, key 123, key 125, whether the launcher's option is in)
  const std::tuple<Strings, std::u16string, bool, bool> cases[] = {
      {{"-Djava.library.path=d:\\native\n"}, u"", false, false},
      {{}, u"-Xrs \"-Djava.library.path=d:\\a b\"", false, false},
      {{}, u"-Djava.library.path", false, false},
      {{}, u"", true, false},  // the -J start parameter below, let in
      {{}, u"", false, true},  // the same, left to the application
      {{"# -Djava.library.path=x\n", "-Djava.library.pathX=1\n", "-DJava.library.path=x\n"}, u"", false, true},
  };
  for (const auto& [fileLines, vmParameters, commandLine, launcherSetsIt] : cases) {
    VmOptionSources sources;
    sources.optionsFileLines = fileLines, sources.vmParameters = vmParameters;
    sources.commandLineVmOptions = commandLine, sources.libraryPathOption = ours;
    sources.launchArguments = {u"svc", u"-J-Djava.library.path=e:\\j"};
    Strings out;
    LaunchProblem problem;
    ASSERT_TRUE(assembleVmOptions(sources, ascii, out, problem));
    EXPECT_EQ(std::count(out.begin(), out.end(), ours), launcherSetsIt ? 1 : 0) << ascii(vmParameters);
  }
  // Trailing backslashes go (not a root's); repeats and names with ';' are left out.
  EXPECT_EQ(libraryPathOption({"c:\\app\\", "", "C:\\APP", "c:\\a;b", "d:\\", "c:\\jre\\bin\\"}),
            "-Djava.library.path=c:\\app;d:\\;c:\\jre\\bin");
}

TEST(MainParameters, FixedPositionsThenTheArguments) {
  const std::u16string out = u"c:\\logs\\out.log", err = u"c:\\logs\\err.log";
  const std::tuple<int, int, int, int, U16s> fixed[] = {
      {1, 1, 0, 0, {u"true", u"p.Caf\u00e9", out, u"", u"false"}},  // type 1 is the only true
      {3, 0, 7, -1, {u"false", u"p.Caf\u00e9", u"", err, u"true"}},
  };
  for (const auto& [type, stdoutRedirect, stderrRedirect, extraFlag, first5] : fixed) {
    MainParameterInputs in;
    in.executableType = type, in.mainClass = "p.Caf\xe9", in.extraLauncherFlag = extraFlag;
    in.stdoutRedirect = stdoutRedirect, in.stdoutFile = out, in.stderrRedirect = stderrRedirect, in.stderrFile = err;
    U16s params;
    LaunchProblem problem;
    ASSERT_TRUE(buildMainParameters(in, {}, params, problem));
    EXPECT_EQ(params, first5) << type;
  }
  struct Case {
    const char16_t* arguments;
    int commandLineVmOptions;
    U16s launchArguments, rest;  // rest: from position 5 on
  } cases[] = {
      {u"a b", 0, {}, {u"a", u"b"}},
      {u"", 1, {u"svc", u"-J-Xmx1g", u"-j-X", u"x"}, {u"svc", u"-j-X", u"x"}},  // -J left out with key 125
      {u"", 0, {u"svc", u"-J-Xmx1g"}, {u"svc", u"-J-Xmx1g"}},
      {u"", 1, {u"-Jsvc", u"-J-X"}, {u"-Jsvc"}},  // the first argument is always the service name
      {u"a '' \u20ac", 0, {u"svc", u"e", u""}, {u"svc", u"a", u"", u"\u20ac", u"e", u""}},
  };
  for (const Case& c : cases) {
    MainParameterInputs in;
    in.arguments = c.arguments, in.commandLineVmOptions = c.commandLineVmOptions;
    U16s params;
    LaunchProblem problem;
    ASSERT_TRUE(buildMainParameters(in, c.launchArguments, params, problem));
    EXPECT_EQ(U16s(params.begin() + 5, params.end()), c.rest) << ::testing::PrintToString(c.launchArguments);
  }
  MainParameterInputs in;
  in.arguments = u"a 'b";
  U16s params;
  LaunchProblem problem;
  EXPECT_FALSE(buildMainParameters(in, {u"svc"}, params, problem));
  EXPECT_EQ(problem.message, ConfigKey::MSG_WRONG_PARAMETERS);
}

}  // namespace
