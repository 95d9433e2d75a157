#include "jvm/search_sequence.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {
std::string describe(const std::vector<SearchEntry>& entries) {
  std::string out;
  for (const SearchEntry& e : entries) {
    out += e.type;
    out += '[';
    out += e.argument;
    out += ']';
  }
  return out;
}
}  // namespace

TEST(SplitSearchSequence, SplitsLikeStrtok) {
  struct Case {
    const char* sequence;
    const char* entries;
  };
  const Case cases[] = {
      {"B.\\jre;Y;EJAVA_HOME;EJDK_HOME;", "B[.\\jre]Y[]E[JAVA_HOME]E[JDK_HOME]"},
      {";;B.\\jre;;", "B[.\\jre]"},
      {"", ""},
      {";;;", ""},
      {"S", "S[]"},
      {"Sanything", "S[anything]"},
      // Nothing is trimmed, letters are not checked.
      {" A c:\\jre ;b.\\jre", " [A c:\\jre ]b[.\\jre]"},
      {"AC:\\Program Files\\Java", "A[C:\\Program Files\\Java]"},
      {"x;Z;?", "x[]Z[]?[]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(describe(splitSearchSequence(c.sequence)), c.entries) << c.sequence;
  }
}

TEST(SplitSearchSequence, BothPassesSeeEveryEntry) {
  // The fallback pass splits the same text again and gets the same entries.
  const char* sequence = "Y;B.\\jre;AC:\\jre";
  EXPECT_EQ(describe(splitSearchSequence(sequence)), describe(splitSearchSequence(sequence)));
  EXPECT_EQ(splitSearchSequence(std::string(20000, ';') + "A" + std::string(9000, 'x')).size(),
            1u);
}

TEST(FallbackPass, AbsoluteArgumentsByTheirFirstTwoCharacters) {
  struct Case {
    const char* argument;
    bool absolute;
  };
  const Case cases[] = {
      {"C:\\jre", true}, {"c:", true},       {"x:relative", true}, {"\\\\srv\\jre", true},
      {"\\\\", true},    {"..\\jre", false}, {".\\jre", false},    {"\\jre", false},
      {"jre", false},    {"c", false},       {"", false},          {"/x:", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isAbsoluteEntryArgument(c.argument), c.absolute) << c.argument;
  }
}

TEST(FallbackPass, TestsRelativeAAndREntriesAndEveryBEntry) {
  struct Case {
    char type;
    const char* argument;
    bool takesPart;
  };
  const Case cases[] = {
      {'A', "C:\\jre", false}, {'A', "..\\jre", true},    {'R', "\\\\srv\\jre", false},
      {'R', ".\\jre", true},   {'B', "C:\\jre", true},    {'B', ".\\jre", true},
      {'E', "JAVA_HOME", false}, {'S', "", false},       {'Y', "", false},
      {'b', ".\\jre", false},  {'a', ".\\jre", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(takesPartInFallback({c.type, c.argument}), c.takesPart)
        << c.type << c.argument;
  }
}

// From the value of key 2001 to the product-home variable: only the first
// character counts, and only a lower-case 'e' or 'i' picks a flavour.
TEST(ProductHomeVariable, ChosenByTheFlavourOfKey2001) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"e", "KERNO_JAVA_HOME"}, {"i", "BRINDLE_JAVA_HOME"}, {"ix", "BRINDLE_JAVA_HOME"},
      {"", ""},  {"E", ""},  {"I", ""},  {"x", ""},  {std::string_view("\0i", 2), ""},
  };
  for (const auto& [value, variable] : cases) {
    EXPECT_EQ(productHomeVariable(parseLauncherFlavour(value)), variable) << value;
  }
}

TEST(LoadFailureMessage, OneMessagePerKind) {
  struct Case {
    JvmLocationKind kind;
    ConfigKey key;
    std::string_view placeholder;
  };
  const Case cases[] = {
      {JvmLocationKind::kindSearchPath, ConfigKey::MSG_PATH_JVM_DAMAGED, ""},
      {JvmLocationKind::kindEnvironmentVariable, ConfigKey::MSG_ENV_VAR_JVM_INVALID,
       "%ENV_VAR_NAME%"},
      {JvmLocationKind::kindDefinedPath, ConfigKey::MSG_DEFINED_JVM_DAMAGED, "%DEFINED_PATH%"},
      {JvmLocationKind::kindRegistry, ConfigKey::MSG_JVM_START_FAILED, ""},
      {JvmLocationKind::kindNone, ConfigKey::MSG_NO_JVM, ""},
  };
  for (const Case& c : cases) {
    LoadFailureMessage m = loadFailureMessage(c.kind);
    EXPECT_EQ(m.key, c.key) << static_cast<int>(c.kind);
    EXPECT_EQ(m.placeholder, c.placeholder) << static_cast<int>(c.kind);
  }
}

TEST(LocationFileLine, FirstLineWithoutItsLineEnd) {
  struct Case {
    std::string content;
    std::optional<std::string> line;
  };
  const Case cases[] = {
      {"", std::nullopt},
      {"\n", ""},
      {"\r\n", ""},
      {"c:\\jre\r\nsecond\n", "c:\\jre"},
      {"c:\\jre", "c:\\jre"},
      {"c:\\jre \n", "c:\\jre "},  // trailing blanks stay
      {"c:\\jre\r\r\n", "c:\\jre"},
      {"..\\jre\n\n", "..\\jre"},
      {std::string("c:\\j\0re\n", 8), "c:\\j"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(locationFileLine(c.content), c.line) << c.content;
  }
}

TEST(LocationFileLine, ReadsAtMostTheLineBuffer) {
  std::string longLine(kLocationLineBytes + 500, 'x');
  EXPECT_EQ(locationFileLine(longLine + "\n"), std::string(kLocationLineBytes - 1, 'x'));
}

TEST(SystemSearchPath, OnlyAnSEntryCounts) {
  EXPECT_TRUE(usesSystemSearchPath("S"));
  EXPECT_TRUE(usesSystemSearchPath("B.\\jre;;Sanything;Y"));
  // Not the letter inside an argument, not a lower-case s (skipped by the search).
  EXPECT_FALSE(usesSystemSearchPath("B.\\jre;Y;EJAVA_HOME;EJDK_HOME;"));
  EXPECT_FALSE(usesSystemSearchPath("AS;ESYSTEM;s"));
  EXPECT_FALSE(usesSystemSearchPath(""));
}
