// Finding a Java runtime: the version rules, the search sequence, the layout
// of a runtime's files and the machine of its library.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "jvm/library_machine.h"
#include "jvm/runtime_layout.h"
#include "jvm/search_sequence.h"
#include "jvm/version_rules.h"
#include "pe_test_image.h"

namespace {

using Strings = std::vector<std::string>;

TEST(VersionRules, AcceptedVersions) {
  struct Case { const char* version; const char* minimum; const char* maximum; bool allowBeta, accepted; };
  const Case cases[] = {
      // Bounds are inclusive prefixes; a proper prefix of the minimum sorts below it.
      {"1.4.2_05", "1.4", "1.4", false, true}, {"1.4", "1.4", "1.4", false, true},
      {"1.3.1_04", "1.4", "1.4", false, false}, {"1.5.0", "1.4", "1.4", false, false},
      {"anything", "", "", false, true},        {"1.4", "1.4.2", "", false, false},
      {"1.4.2_99", "", "1.4.2", false, true},   {"1.4.3", "", "1.4.2", false, false},
      // Characters, not numbers.
      {"1.10.0", "1.4", "", false, false},      {"17.0.2", "1.8", "", false, true},
      {"17.0.2", "11", "17", false, true},      {"21", "11", "17", false, false},
      // Pre-releases ("beta" or "ea" anywhere, case-sensitive) only when allowed; the bounds still hold.
      {"1.4.2-beta", "1.4", "1.4", false, false}, {"1.4.2-realtime", "1.4", "1.4", false, false},
      {"1.4.2-Beta", "1.4", "1.4", false, true},  {"1.4.2-ea", "1.4", "1.4", true, true},
      {"1.5.0-beta", "1.4", "1.4", true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isVersionAccepted(c.version, c.minimum, c.maximum, c.allowBeta), c.accepted)
        << c.version << " in [" << c.minimum << ", " << c.maximum << "] beta " << c.allowBeta;
  }
}

TEST(VersionRules, RegistryKeysCompareOverTheShorterLengthHighestFirst) {
  const std::tuple<const char*, const char*, const char*, bool> cases[] = {
      {"1.4", "1.4.2", "", true}, {"1.3", "1.4.2", "", false}, {"1.5", "1.4", "1.4", false},
      {"", "1.4", "1.4", true},   {"1.4-beta", "1.4", "1.4", true},  // no pre-release test here
  };
  for (const auto& [name, minimum, maximum, inRange] : cases)
    EXPECT_EQ(isVersionKeyInRange(name, minimum, maximum), inRange) << name;
  EXPECT_EQ(versionKeysToProbe({"1.3.1", "1.4", "1.4.2_05"}, "1.4", "1.4"), (Strings{"1.4.2_05", "1.4"}));
  EXPECT_EQ(versionKeysToProbe({"1.10", "1.4", "1.9"}, "", ""), (Strings{"1.9", "1.4", "1.10"}));
  EXPECT_GT(compareVersionText("1.5", "1.4.2"), 0);
  EXPECT_LT(compareVersionText("1.4", "1.4.2"), 0);
  EXPECT_GT(compareVersionText("\xe9", "z"), 0);  // bytes are unsigned
  EXPECT_EQ(compareVersionText(std::string("1.4\0x", 5), "1.4"), 0);
}

TEST(VersionRules, BannerGivesTheQuotedVersionOfTheFirstLine) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"java version \"1.4.2_05\"\nJava(TM) 2 Runtime Environment\n", "1.4.2_05"},
      {"java version \"1.5.0-beta\"\r\n", "1.5.0-beta"},
      {"openjdk version \"17.0.2\" 2022-01-18\nOpenJDK Runtime Environment\n", "17.0.2"},
      {"java version \"1.4.2\"", "1.4.2"},
      {"Picked up _JAVA_OPTIONS: -Xmx1g\njava version \"1.8.0\"\n", std::nullopt},
      {"", std::nullopt},
      {"java version \"\"\n", std::nullopt},
      {"java version \"1.4.2\nx\"\n", std::nullopt},  // the closing quote is on the next line
      {"java  version \"1.4.2\"\n", std::nullopt},
      {"openjdk  version \"17\"\n", std::nullopt},
      {std::string("java version \"1.4\0.2\"\n", 22), std::nullopt},  // a NUL ends the line
  };
  for (const auto& [output, version] : cases) EXPECT_EQ(parseVersionBanner(output), version) << output;
  // Only what fits the line buffer is read: the closing quote as its 99th byte, not its 100th.
  const std::string prefix = "java version \"";
  std::string fits(kBannerLineBytes - 2 - prefix.size(), '1');
  EXPECT_EQ(parseVersionBanner(prefix + fits + "\"\n"), fits);
  EXPECT_EQ(parseVersionBanner(prefix + fits + "1\"\n"), std::nullopt);
}

TEST(SearchSequence, EntriesSplitLikeStrtokAndTheFallbackPass) {
  std::string described;
  for (const SearchEntry& e : splitSearchSequence(";;B.\\jre;;Y; A c:\\jre ;AC:\\Program Files"))
    described += e.type + ("[" + e.argument + "]");
  EXPECT_EQ(described, "B[.\\jre]Y[] [A c:\\jre ]A[C:\\Program Files]");  // nothing trimmed or checked
  EXPECT_TRUE(splitSearchSequence(";;;").empty());
  const std::pair<const char*, bool> absolute[] = {
      {"C:\\jre", true}, {"x:", true}, {"\\\\srv", true}, {"..\\jre", false}, {"\\jre", false}, {"c", false}};
  for (const auto& [argument, isAbsolute] : absolute) EXPECT_EQ(isAbsoluteEntryArgument(argument), isAbsolute);
  // Relative A and R entries and every B entry take part in the fallback pass.
  EXPECT_TRUE(takesPartInFallback({'A', "..\\jre"}));
  EXPECT_FALSE(takesPartInFallback({'R', "\\\\srv\\jre"}));
  EXPECT_TRUE(takesPartInFallback({'B', "C:\\jre"}));
  EXPECT_FALSE(takesPartInFallback({'E', "JAVA_HOME"}));
  EXPECT_TRUE(usesSystemSearchPath("B.\\jre;;Sanything;Y"));
  EXPECT_FALSE(usesSystemSearchPath("AS;ESYSTEM;s"));  // not inside an argument, not lower case
}

TEST(SearchSequence, FlavourHomeVariableAndFailureMessages) {
  // Only the first character of key 2001 counts, and only a lower-case 'e' or 'i'.
  const std::pair<std::string_view, std::string_view> flavours[] = {
      {"e", "KERNO_JAVA_HOME"}, {"ix", "BRINDLE_JAVA_HOME"}, {"", ""}, {"I", ""}, {std::string_view("\0i", 2), ""}};
  for (const auto& [value, variable] : flavours)
    EXPECT_EQ(productHomeVariable(parseLauncherFlavour(value)), variable) << value;
  using K = JvmLocationKind;
  const std::tuple<K, ConfigKey, std::string_view> messages[] = {
      {K::kindSearchPath, ConfigKey::MSG_PATH_JVM_DAMAGED, ""},
      {K::kindEnvironmentVariable, ConfigKey::MSG_ENV_VAR_JVM_INVALID, "%ENV_VAR_NAME%"},
      {K::kindDefinedPath, ConfigKey::MSG_DEFINED_JVM_DAMAGED, "%DEFINED_PATH%"},
      {K::kindRegistry, ConfigKey::MSG_JVM_START_FAILED, ""}, {K::kindNone, ConfigKey::MSG_NO_JVM, ""}};
  for (const auto& [kind, key, placeholder] : messages) {
    EXPECT_EQ(loadFailureMessage(kind).key, key) << int(kind);
    EXPECT_EQ(loadFailureMessage(kind).placeholder, placeholder) << int(kind);
  }
}

TEST(SearchSequence, LocationFileFirstLineWithoutItsLineEnd) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"", std::nullopt},          {"\r\n", ""},           {"c:\\jre\r\nsecond\n", "c:\\jre"},
      {"c:\\jre \n", "c:\\jre "},  {"c:\\jre\r\r\n", "c:\\jre"}, {std::string("c:\\j\0re\n", 8), "c:\\j"},
      {std::string(kLocationLineBytes + 500, 'x') + "\n", std::string(kLocationLineBytes - 1, 'x')},
  };
  for (const auto& [content, line] : cases) EXPECT_EQ(locationFileLine(content), line) << content.substr(0, 20);
}

TEST(RuntimeLayout, ExecutableDirectoryLibraryAndRegistryNames) {
  const char* dirs[][2] = {
      {"c:\\jre\\bin\\javaw.exe", "c:\\jre\\bin\\"}, {"c:\\jre\\bin\\JAVAW.EXE", "c:\\jre\\bin\\J"},  // exact case
      {"c:\\jre\\bin\\xxxx.yyy", "c:\\jre\\bin\\"}, {"short", ""}};
  for (auto& d : dirs) EXPECT_EQ(javaExeDirectory(d[0]), d[1]) << d[0];
  EXPECT_EQ(jvmLibraryPath(javaExeDirectory("c:\\jre\\bin\\java.exe"), "server"), "c:\\jre\\bin\\server\\jvm.dll");
  EXPECT_EQ(developmentKitJreExe("c:\\jdk\\bin\\javaw.exe"), "c:\\jdk\\bin\\..\\jre\\bin\\java.exe");
  EXPECT_EQ(javawFromJavaExe("c:\\jre\\bin\\java.exe"), "c:\\jre\\bin\\javaw.exe");
  EXPECT_EQ(javawFromJavaExe("abc"), "w.exe");
  EXPECT_EQ(versionCacheKeyName("c:\\jre\\bin\\java.exe"), "SOFTWARE\\quarrow\\kerno\\jvms\\c:/jre/bin/java.exe");
  EXPECT_EQ(locatedJvmPath("c:/jre/bin/java.exe"), "c:\\jre\\bin\\java.exe");
  // The development kit's key only when its version sorts higher.
  const std::string jre = "SOFTWARE\\JavaSoft\\Java Runtime Environment\\";
  const std::string jdk = "SOFTWARE\\JavaSoft\\Java Development Kit\\";
  EXPECT_EQ(currentVersionKeyName("1.5", "1.4"), jdk + "1.5");
  EXPECT_EQ(currentVersionKeyName("1.4", "1.4"), jre + "1.4");
  EXPECT_EQ(currentVersionKeyName("", ""), jre);
}

TEST(RuntimeLayout, CommandLinesQuotePathsWithBlanksAndPackedRuntime) {
  EXPECT_EQ(versionCommandLine("c:\\progra~1\\java.exe"), "c:\\progra~1\\java.exe -version");
  EXPECT_EQ(versionCommandLine("c:\\tab\there\\java.exe"), "\"c:\\tab\there\\java.exe\" -version");
  EXPECT_EQ(unpackCommandLine("c:\\my jre", "c:\\my jre\\p", "c:\\x"),
            "\"c:\\my jre\\bin\\unpack200.exe\" -r \"c:\\my jre\\p\" c:\\x");
  EXPECT_EQ(packedRuntimeMarker("c:\\jre"), "c:\\jre\\lib\\rt.jar.pack");
  // The prepared marker is the last jar unpacked.
  EXPECT_EQ("c:\\jre\\" + packedJars().back(), preparedRuntimeMarker("c:\\jre"));
}

TEST(LibraryMachine, HeaderJudgedAgainstTheLaunchersMachine) {
  const std::tuple<uint16_t, uint16_t, LibraryFit> cases[] = {
      {kMachineAmd64, kMachineAmd64, LibraryFit::loadable}, {kMachineI386, kMachineI386, LibraryFit::loadable},
      {kMachineI386, kMachineAmd64, LibraryFit::otherMachine}, {0xAA64, kMachineAmd64, LibraryFit::otherMachine}};
  for (const auto& [library, own, fit] : cases) {
    Bytes header = makePe(library, {{0x200, 0x200}}, 0x400);  // a DLL as a linker writes it
    LibraryMachine judged = judgeLibraryHeader(header.data(), header.size(), own);
    EXPECT_EQ(judged.fit, fit) << std::hex << library << " in " << own;
    EXPECT_EQ(judged.machine, library);
  }
  // What is not a whole PE header is for the load to decide.
  Bytes header = makePe(kMachineI386, {{0x200, 0x200}}, 0x400);
  EXPECT_EQ(judgeLibraryHeader(header.data(), 0x90, kMachineAmd64).fit, LibraryFit::unknown);
  header[0x80] = 'X';
  EXPECT_EQ(judgeLibraryHeader(header.data(), header.size(), kMachineAmd64).fit, LibraryFit::unknown);
}

TEST(LibraryMachine, RuntimeSkippedOnlyWhenEveryExistingLibraryIsOfAnotherMachine) {
  const LibraryMachine fits{LibraryFit::loadable, kMachineAmd64}, other{LibraryFit::otherMachine, kMachineI386};
  const std::pair<std::vector<LibraryMachine>, bool> cases[] = {
      {{}, false}, {{other, other}, true}, {{other, fits}, false}, {{other, LibraryMachine{}}, false}};
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(isOtherMachineRuntime(cases[i].first), cases[i].second) << i;
  EXPECT_EQ(jvmLibraryCandidates("c:\\jdk\\bin\\java.exe", "server"),
            (Strings{"c:\\jdk\\bin\\server\\jvm.dll", "c:\\jdk\\bin\\hotspot\\jvm.dll", "c:\\jdk\\bin\\client\\jvm.dll",
                     "c:\\jdk\\bin\\classic\\jvm.dll", "c:\\jdk\\bin\\..\\jre\\bin\\server\\jvm.dll",
                     "c:\\jdk\\bin\\..\\jre\\bin\\hotspot\\jvm.dll", "c:\\jdk\\bin\\..\\jre\\bin\\client\\jvm.dll",
                     "c:\\jdk\\bin\\..\\jre\\bin\\classic\\jvm.dll"}));
  EXPECT_EQ(jvmLibraryCandidates("c:\\jre\\bin\\javaw.exe", "").front(), "c:\\jre\\bin\\hotspot\\jvm.dll");
  EXPECT_EQ(otherMachineNote(1, kMachineI386, kMachineAmd64),
            "The Java runtime found is 32-bit; this program needs a 64-bit Java runtime.");
  EXPECT_EQ(otherMachineNote(2, kMachineAmd64, kMachineI386),
            "The Java runtimes found are 64-bit; this program needs a 32-bit Java runtime.");
  EXPECT_EQ(machineTypeName(0xAA64), "machine type 0xaa64");
}

}  // namespace
