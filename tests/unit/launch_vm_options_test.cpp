#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "launch/vm_options.h"

namespace {

constexpr LauncherFlavour kKerno = LauncherFlavour::kerno;
constexpr LauncherFlavour kBrindle = LauncherFlavour::brindle;

// Wide text back to narrow: every test text is ASCII.
std::string ascii(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

// A file system and environment for the class-path rules, with the
// executable in c:\app\.
struct FakeSystem {
  std::set<std::string> existing;
  std::map<std::string, std::vector<std::string>> listings;  // "dir|ext" -> names
  std::map<std::string, std::string> environment;
  std::map<std::string, std::string> variables;  // ${NAME} -> value, for expansion

  ClassPathSystem system(LauncherFlavour flavour = kKerno) const {
    ClassPathSystem sys;
    sys.flavour = flavour;
    sys.installationDirectory = "c:\\app";
    sys.expandVariables = [this](std::string& text) {
      for (const auto& [reference, value] : variables) {
        for (size_t pos = text.find(reference); pos != std::string::npos;
             pos = text.find(reference, pos + value.size())) {
          text.replace(pos, reference.size(), value);
        }
      }
    };
    sys.appendExeRelative = [](std::string_view path) {
      std::string full =
          path.size() > 2 && path[1] == ':' ? std::string(path) : "c:\\app\\" + std::string(path);
      std::string collapsed;
      for (char c : full) {
        if (c == '\\' && !collapsed.empty() && collapsed.back() == '\\') continue;
        collapsed.push_back(c);
      }
      return collapsed;
    };
    sys.pathExists = [this](const std::string& path) { return existing.count(path) > 0; };
    sys.listDirectory = [this](const std::string& dir, const std::string& ext) {
      auto it = listings.find(dir + "|" + ext);
      return it == listings.end() ? std::vector<std::string>() : it->second;
    };
    sys.environmentVariable = [this](const std::string& name) {
      auto it = environment.find(name);
      EnvironmentValue value;
      if (it != environment.end()) value = {true, it->second};
      return value;
    };
    return sys;
  }
};

struct ClassPathOutcome {
  bool ok;
  std::string option;
  LaunchProblem problem;
};

ClassPathOutcome classPath(const FakeSystem& fake, std::string_view key, LauncherFlavour flavour = kKerno,
                           std::vector<std::string> extractedFiles = {}) {
  ClassPathSystem sys = fake.system(flavour);
  sys.extractedFiles = std::move(extractedFiles);
  ClassPathOutcome out;
  out.ok = buildClassPathOption(key, sys, out.option, out.problem);
  return out;
}

const std::string kPrefix = "-Djava.class.path=";

}  // namespace

TEST(VmOptionsFile, LineRules) {
  struct Case {
    const char* line;
    std::optional<std::string> option;
  };
  const Case cases[] = {
      {"-Xmx512m\n", "-Xmx512m"},
      {"   -Xmx512m   \n", "-Xmx512m"},
      {"-Xmx512m\r\n", "-Xmx512m"},
      {"-Xmx512m\r\r\n\n", "-Xmx512m"},
      {"-Xmx512m", "-Xmx512m"},  // last line without a line feed
      // Only spaces are trimmed: a tab stays.
      {"\t-Xmx512m\n", "\t-Xmx512m"},
      {"-Xmx512m\t\n", "-Xmx512m\t"},
      // Spaces inside belong to the option; no quoting, no continuation.
      {"-Dname=a b  c\n", "-Dname=a b  c"},
      {"\"-Dq=x\"\n", "\"-Dq=x\""},
      {"-Dpath=c:\\dir\\\n", "-Dpath=c:\\dir\\"},
      // Not expanded.
      {"-Dx=${KERNO_EXEDIR}\n", "-Dx=${KERNO_EXEDIR}"},
      // Comments and empty lines.
      {"#-Xmx1g\n", std::nullopt},
      {"   # comment\n", std::nullopt},
      {"\n", std::nullopt},
      {"\r\n", std::nullopt},
      {"     \n", std::nullopt},
      {"", std::nullopt},
      {"-Da=#1\n", "-Da=#1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vmOptionFromFileLine(c.line), c.option) << ::testing::PrintToString(c.line);
  }
}

TEST(VmOptionsFile, PieceIsACText) {
  EXPECT_EQ(vmOptionFromFileLine(std::string_view("-Xrs\0tail\n", 10)), "-Xrs");
  EXPECT_EQ(vmOptionFromFileLine(std::string_view("\0-Xrs\n", 6)), std::nullopt);
}

TEST(VmOptionsFile, NamesTriedInOrder) {
  EXPECT_EQ(vmOptionsFileNames("c:\\program files\\app\\server.exe"),
            (std::vector<std::string>{"c:\\program files\\app\\server.vmoptions",
                                      "c:\\program files\\app\\server.exe.vmoptions"}));
  // Too short to lose four characters: only the second name.
  EXPECT_EQ(vmOptionsFileNames("a.x"), (std::vector<std::string>{"a.x.vmoptions"}));
}

TEST(SystemProperties, TableOrderAndConditions) {
  struct Case {
    SystemPropertyInputs in;
    std::vector<std::string> options;
  };
  const Case cases[] = {
      {{kBrindle, "c:\\app\\server.exe", false, "ignored", "", ""},
       {"-Dkerno.isBrindle=true", "-Dkerno.moduleName=c:\\app\\server.exe", "-Dkerno.tempDir="}},
      {{kKerno, "c:\\app\\server.exe", false, "", "c:\\tmp\\krn1.tmp_dir5", ""},
       {"-Dkerno.moduleName=c:\\app\\server.exe", "-Dkerno.tempDir=c:\\tmp\\krn1.tmp_dir5"}},
      {{kKerno, "c:\\a b\\s.exe", true, "c:\\tmp\\krn_p42.tmp", "", ""},
       {"-Dkerno.moduleName=c:\\a b\\s.exe", "-Dkerno.processCommFile=c:\\tmp\\krn_p42.tmp",
        "-Dkerno.tempDir="}},
      {{LauncherFlavour::none, "c:\\s.exe", true, "p", "t", ""},
       {"-Dkerno.moduleName=c:\\s.exe", "-Dkerno.processCommFile=p", "-Dkerno.tempDir=t"}},
      // Output rotation (key 30007), last and only when set.
      {{kKerno, "c:\\s.exe", false, "", "", "1048576,5"},
       {"-Dkerno.moduleName=c:\\s.exe", "-Dkerno.tempDir=", "-Dkerno.outputRotation=1048576,5"}},
  };
  for (const Case& c : cases) EXPECT_EQ(systemPropertyOptions(c.in), c.options);
}

TEST(ClassPathItems, Parsing) {
  std::vector<ClassPathItem> items = parseClassPathItems("A1.\\app.jar;;S0lib;E1CP;x;D2dir;");
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].type, 'A');
  EXPECT_TRUE(items[0].mustExist);
  EXPECT_EQ(items[0].path, ".\\app.jar");
  EXPECT_EQ(items[1].type, 'S');
  EXPECT_FALSE(items[1].mustExist);
  EXPECT_EQ(items[1].path, "lib");
  EXPECT_EQ(items[2].type, 'E');
  EXPECT_EQ(items[2].path, "CP");
  // "x" is too short to be an item; only '1' makes an item required.
  EXPECT_EQ(items[3].type, 'D');
  EXPECT_FALSE(items[3].mustExist);
  EXPECT_TRUE(parseClassPathItems("").empty());
  EXPECT_TRUE(parseClassPathItems(";;;").empty());
  EXPECT_EQ(parseClassPathItems("A1").front().path, "");
}

TEST(ClassPathItems, EnvironmentValue) {
  struct Case {
    const char* value;
    const char* contribution;
  };
  const Case cases[] = {
      {"c:\\a.jar", "c:\\a.jar;"},
      {"c:\\a.jar;", "c:\\a.jar;"},
      {"\"c:\\a b;c:\\c\"", "c:\\a b;c:\\c;"},
      {"\"c:\\a;\"", "c:\\a;"},
      {"\"c:\\a", "\"c:\\a;"},  // only a pair of quotes is dropped
      {"\"", "\";"},
      {"\"\"", ""},
      {"", ""},
      {"${X}", "${X};"},  // not expanded
  };
  for (const Case& c : cases)
    EXPECT_EQ(classPathFromEnvironment(c.value), c.contribution) << c.value;
}

TEST(ClassPath, ShippedConfiguration) {
  FakeSystem fake;
  fake.existing = {"c:\\app\\.\\kerno-demo.jar", "c:\\app\\.\\lib"};
  fake.listings["c:\\app\\.\\lib|jar"] = {"b.jar", "a.jar"};
  fake.listings["c:\\app\\.\\lib|zip"] = {"c.zip"};
  ClassPathOutcome out = classPath(fake, "A1.\\kerno-demo.jar;S0.\\lib", kBrindle);
  ASSERT_TRUE(out.ok);
  // Runtime jar first; archives in enumeration order, all jars before zips.
  EXPECT_EQ(out.option,
            kPrefix +
                "c:\\app\\.brindle\\brdruntime.jar;c:\\app\\.\\kerno-demo.jar;"
                "c:\\app\\.\\lib\\b.jar;c:\\app\\.\\lib\\a.jar;c:\\app\\.\\lib\\c.zip;");
}

TEST(ClassPath, ElementRules) {
  struct Case {
    const char* name;
    const char* key;
    LauncherFlavour flavour;
    std::vector<std::string> extracted;
    std::string classPath;
  };
  FakeSystem fake;
  fake.existing = {"c:\\app\\here.jar", "c:\\app\\lib", "c:\\app\\empty", "c:\\tmp\\x"};
  fake.listings["c:\\app\\lib|jar"] = {"a.jar"};
  // Planted beside the extracted files: the extraction directory is never
  // listed, so it must not show.
  fake.listings["c:\\tmp\\x|jar"] = {"inc.jar", "planted.jar"};
  fake.listings["c:\\tmp\\x|zip"] = {"inc.zip", "planted.zip"};
  const std::vector<std::string> extracted = {"c:\\tmp\\x\\inc.zip", "c:\\tmp\\x\\inc.jar", "c:\\tmp\\x\\notes.txt",
                                              "c:\\tmp\\x\\UP.JAR", "c:\\tmp\\x\\a.jarx"};
  fake.environment = {{"CP", "\"c:\\a b;c:\\c\""}, {"EMPTY", ""}};
  fake.variables = {{"${LIB}", "lib"}, {"${EXE}", "c:\\app\\"}};
  const Case cases[] = {
      {"nothing at all", "", kKerno, {}, ""},
      {"kerno flavour has no runtime jar", "A0here.jar", kKerno, {}, "c:\\app\\here.jar;"},
      {"A and D alike, appended also when missing", "A0gone.jar;D0gone", kKerno, {},
       "c:\\app\\gone.jar;c:\\app\\gone;"},
      {"absolute path kept", "A1c:\\app\\here.jar", kKerno, {}, "c:\\app\\here.jar;"},
      {"expanded before use, backslashes collapsed", "S1${LIB};A0${EXE}\\here.jar", kKerno, {},
       "c:\\app\\lib\\a.jar;c:\\app\\here.jar;"},
      {"existing directory without archives counts as found", "S1empty", kKerno, {}, ""},
      {"missing optional scan contributes nothing", "S0none", kKerno, {}, ""},
      {"environment value without its quotes", "E1CP", kKerno, {}, "c:\\a b;c:\\c;"},
      {"undefined optional variable contributes nothing", "E0NONE;E0EMPTY", kKerno, {}, ""},
      {"unknown optional letter contributes nothing", "X0here.jar", kKerno, {}, ""},
      {"only the extracted archives, jars then zips, before the runtime jar", "A0here.jar", kBrindle, extracted,
       "c:\\tmp\\x\\inc.jar;c:\\tmp\\x\\UP.JAR;c:\\tmp\\x\\inc.zip;c:\\app\\.brindle\\brdruntime.jar;"
       "c:\\app\\here.jar;"},
  };
  for (const Case& c : cases) {
    ClassPathOutcome out = classPath(fake, c.key, c.flavour, c.extracted);
    EXPECT_TRUE(out.ok) << c.name;
    EXPECT_EQ(out.option, kPrefix + c.classPath) << c.name;
  }
}

TEST(ClassPath, RequiredItemsThatAreMissing) {
  struct Case {
    const char* key;
    ConfigKey message;
    std::string_view placeholder;
    const char* value;
  };
  FakeSystem fake;
  fake.existing = {"c:\\app\\here.jar"};
  fake.environment = {{"EMPTY", ""}, {"QUOTES", "\"\""}};
  fake.variables = {{"${V}", "gone"}};
  const Case cases[] = {
      // The message names the expanded item text, not the resolved path.
      {"A1${V}.jar", ConfigKey::MSG_FILE_NOT_FOUND, kPlaceholderFileName, "gone.jar"},
      {"A1here.jar;D1gone", ConfigKey::MSG_FILE_NOT_FOUND, kPlaceholderFileName, "gone"},
      {"S1lib", ConfigKey::MSG_FILE_NOT_FOUND, kPlaceholderFileName, "lib"},
      {"E1NONE", ConfigKey::MSG_ENV_VAR_UNDEFINED, kPlaceholderEnvVarName, "NONE"},
      {"E1EMPTY", ConfigKey::MSG_ENV_VAR_UNDEFINED, kPlaceholderEnvVarName, "EMPTY"},
      {"E1QUOTES", ConfigKey::MSG_ENV_VAR_UNDEFINED, kPlaceholderEnvVarName, "QUOTES"},
      {"Q1here.jar", ConfigKey::MSG_FILE_NOT_FOUND, kPlaceholderFileName, "here.jar"},
  };
  for (const Case& c : cases) {
    ClassPathOutcome out = classPath(fake, c.key);
    EXPECT_FALSE(out.ok) << c.key;
    EXPECT_EQ(out.problem.message, c.message) << c.key;
    EXPECT_EQ(out.problem.placeholder, c.placeholder) << c.key;
    EXPECT_EQ(out.problem.value, c.value) << c.key;
    EXPECT_TRUE(out.problem.fixedText.empty()) << c.key;
  }
}

TEST(ClassPath, TooLongIsRefusedWholeElementsOnly) {
  FakeSystem fake;
  // Room for exactly one more ';' after this element.
  std::string fits(kMaxClassPathOption - kPrefix.size() - 1 - 7, 'a');  // "c:\app\" + fits + ";"
  std::string fitsPath = "c:\\app\\" + fits;
  ASSERT_EQ(kPrefix.size() + fitsPath.size() + 1, kMaxClassPathOption);
  ClassPathOutcome full = classPath(fake, "A0" + fits);
  ASSERT_TRUE(full.ok);
  EXPECT_EQ(full.option.size(), kMaxClassPathOption);

  // One character more: refused, with a message that names the element.
  ClassPathOutcome over = classPath(fake, "A0" + fits + "b");
  EXPECT_FALSE(over.ok);
  EXPECT_NE(over.problem.fixedText.find("The class path is too long"), std::string::npos);
  EXPECT_NE(over.problem.fixedText.find("c:\\app\\aaaa"), std::string::npos);
  EXPECT_LT(over.problem.fixedText.size(), 400u);  // the element is shown shortened

  // An environment value and a scanned directory are refused the same way.
  fake.environment = {{"BIG", std::string(kMaxClassPathOption, 'e')}};
  EXPECT_FALSE(classPath(fake, "A0x.jar;E0BIG").ok);
  fake.existing = {"c:\\app\\lib"};
  fake.listings["c:\\app\\lib|jar"] =
      std::vector<std::string>(kMaxClassPathOption / 16, "0123456789.jar");
  ClassPathOutcome scan = classPath(fake, "S0lib");
  EXPECT_FALSE(scan.ok);
  EXPECT_FALSE(scan.problem.fixedText.empty());
}

TEST(VmOptionList, SourcesInOrder) {
  VmOptionSources sources;
  sources.systemProperties = {"-Dkerno.isBrindle=true", "-Dkerno.moduleName=c:\\app\\s.exe",
                              "-Dkerno.tempDir="};
  sources.optionsFileLines = {"  -Xmx512m  \n", "# comment\n", "\n", "-Dfile=1\n"};
  sources.classPathOption = kPrefix + "c:\\app\\a.jar;";
  sources.vmParameters = u" -Xrs \"-Dp=c:\\a b\"";
  sources.commandLineVmOptions = true;
  sources.launchArguments = {u"-J-Dfirst=1", u"-J-Xmx1g", u"run", u"-j-Xss1m", u"-J"};
  std::vector<std::string> out;
  LaunchProblem problem;
  ASSERT_TRUE(assembleVmOptions(sources, ascii, out, problem));
  EXPECT_EQ(out,
            (std::vector<std::string>{"-Dkerno.isBrindle=true", "-Dkerno.moduleName=c:\\app\\s.exe",
                                      "-Dkerno.tempDir=", "-Xmx512m", "-Dfile=1",
                                      kPrefix + "c:\\app\\a.jar;", "-Xrs", "-Dp=c:\\a b",
                                      // Every -J argument, the first launch argument included.
                                      "-Dfirst=1", "-Xmx1g", ""}));

  sources.commandLineVmOptions = false;
  ASSERT_TRUE(assembleVmOptions(sources, ascii, out, problem));
  EXPECT_EQ(out.back(), "-Dp=c:\\a b");
}

TEST(VmOptionList, ClassPathOptionEvenWhenEmpty) {
  VmOptionSources sources;
  sources.classPathOption = kPrefix;
  std::vector<std::string> out;
  LaunchProblem problem;
  ASSERT_TRUE(assembleVmOptions(sources, ascii, out, problem));
  EXPECT_EQ(out, (std::vector<std::string>{kPrefix}));
}

TEST(VmOptionList, UnmatchedQuoteInVmParameters) {
  VmOptionSources sources;
  sources.vmParameters = u"-Xrs \"-Dx=1";
  std::vector<std::string> out;
  LaunchProblem problem;
  EXPECT_FALSE(assembleVmOptions(sources, ascii, out, problem));
  EXPECT_EQ(problem.message, ConfigKey::MSG_WRONG_PARAMETERS);
  EXPECT_TRUE(problem.placeholder.empty());
}

TEST(VmOptionList, ParametersGoThroughTheNarrowConversion) {
  VmOptionSources sources;
  sources.vmParameters = u"-Dx=\u20ac";
  sources.commandLineVmOptions = true;
  sources.launchArguments = {u"svc", u"-J-Dy=\u00e9"};
  std::vector<std::u16string> seen;
  NarrowConversion recording = [&seen](std::u16string_view text) {
    seen.emplace_back(text);
    return std::string("N");
  };
  std::vector<std::string> out;
  LaunchProblem problem;
  ASSERT_TRUE(assembleVmOptions(sources, recording, out, problem));
  EXPECT_EQ(seen, (std::vector<std::u16string>{u"-Dx=\u20ac", u"-Dy=\u00e9"}));
}
