#include "jvm/version_rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {
struct AcceptCase {
  const char* version;
  const char* minimum;
  const char* maximum;
  bool allowBeta;
  bool accepted;
};

void expectAccepted(const AcceptCase* begin, const AcceptCase* end) {
  for (const AcceptCase* c = begin; c != end; ++c) {
    EXPECT_EQ(isVersionAccepted(c->version, c->minimum, c->maximum, c->allowBeta), c->accepted)
        << c->version << " in [" << c->minimum << ", " << c->maximum << "] beta "
        << c->allowBeta;
  }
}
}  // namespace

TEST(IsVersionAccepted, BoundsAreInclusivePrefixes) {
  const AcceptCase cases[] = {
      {"1.4.2_05", "1.4", "1.4", false, true},
      {"1.4.0", "1.4", "1.4", false, true},
      {"1.4", "1.4", "1.4", false, true},
      {"1.3.1_04", "1.4", "1.4", false, false},
      {"1.5.0", "1.4", "1.4", false, false},
      {"1.5.0", "1.4", "", false, true},
      {"1.3.1", "", "1.4", false, true},
      {"anything", "", "", false, true},
      {"", "", "", false, true},
      // A proper prefix of the minimum sorts below it.
      {"1.4", "1.4.2", "", false, false},
      {"1.4.2", "1.4.2", "", false, true},
      {"1.4.10", "1.4.2", "", false, false},
      // The maximum is compared over its own length only.
      {"1.4.2_99", "", "1.4.2", false, true},
      {"1.4.3", "", "1.4.2", false, false},
  };
  expectAccepted(std::begin(cases), std::end(cases));
}

TEST(IsVersionAccepted, ComparesCharactersNotNumbers) {
  const AcceptCase cases[] = {
      {"1.10.0", "1.4", "", false, false},  // '1' < '4'
      {"17.0.2", "1.8", "", false, true},   // '7' > '.'
      {"9", "1.8", "", false, true},
      {"11.0.1", "11", "17", false, true},
      {"17.0.2", "11", "17", false, true},
      {"21", "11", "17", false, false},
  };
  expectAccepted(std::begin(cases), std::end(cases));
}

TEST(IsVersionAccepted, PreReleasesOnlyWithAllowBeta) {
  const AcceptCase cases[] = {
      {"1.4.2-beta", "1.4", "1.4", false, false},
      {"1.4.2-ea", "1.4", "1.4", false, false},
      {"1.4.2-realtime", "1.4", "1.4", false, false},  // "ea" anywhere
      {"1.4.2-Beta", "1.4", "1.4", false, true},       // case-sensitive
      {"1.4.2-EA", "1.4", "1.4", false, true},
      {"1.4.2-beta", "1.4", "1.4", true, true},
      {"1.4.2-ea", "1.4", "1.4", true, true},
      {"1.5.0-beta", "1.4", "1.4", true, false},  // the bounds still hold
  };
  expectAccepted(std::begin(cases), std::end(cases));
}

TEST(IsVersionKeyInRange, ComparesOverTheShorterLength) {
  struct Case {
    const char* name;
    const char* minimum;
    const char* maximum;
    bool inRange;
  };
  const Case cases[] = {
      {"1.4", "1.4.2", "", true},
      {"1.3", "1.4.2", "", false},
      {"1.4.2_05", "1.4", "1.4", true},
      {"1.4", "1.4", "1.4", true},
      {"1.3.1", "1.4", "1.4", false},
      {"1.5", "1.4", "1.4", false},
      {"1.5", "", "", true},
      {"", "1.4", "1.4", true},  // nothing to compare
      {"1.4-beta", "1.4", "1.4", true},  // no pre-release test here
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isVersionKeyInRange(c.name, c.minimum, c.maximum), c.inRange)
        << c.name << " in [" << c.minimum << ", " << c.maximum << "]";
  }
}

TEST(VersionKeysToProbe, KeepsTheNamesInRangeHighestFirst) {
  EXPECT_EQ(versionKeysToProbe({"1.3.1", "1.4", "1.4.2_05"}, "1.4", "1.4"),
            (std::vector<std::string>{"1.4.2_05", "1.4"}));
  EXPECT_EQ(versionKeysToProbe({"1.10", "1.4", "1.9"}, "", ""),
            (std::vector<std::string>{"1.9", "1.4", "1.10"}));
  EXPECT_EQ(versionKeysToProbe({}, "", ""), std::vector<std::string>{});
}

TEST(CompareVersionText, IsStrcmpOrder) {
  EXPECT_GT(compareVersionText("1.5", "1.4.2"), 0);
  EXPECT_LT(compareVersionText("1.4", "1.4.2"), 0);
  EXPECT_EQ(compareVersionText("1.4", "1.4"), 0);
  EXPECT_GT(compareVersionText("1.4", ""), 0);
  EXPECT_GT(compareVersionText("\xe9", "z"), 0);  // bytes are unsigned
  EXPECT_EQ(compareVersionText(std::string("1.4\0x", 5), "1.4"), 0);
}

TEST(ParseVersionBanner, TakesTheQuotedVersionOfTheFirstLine) {
  struct Case {
    std::string output;
    std::optional<std::string> version;
  };
  const Case cases[] = {
      // The banners of old runtimes give what they always gave.
      {"java version \"1.4.2_05\"\nJava(TM) 2 Runtime Environment\n", "1.4.2_05"},
      {"java version \"1.5.0-beta\"\r\n", "1.5.0-beta"},
      {"java version \"1.3.1\"\n", "1.3.1"},
      // Current runtimes put a date after the quote, and OpenJDK builds say so.
      {"java version \"17.0.2\" 2022-01-18 LTS\n", "17.0.2"},
      {"openjdk version \"17.0.2\" 2022-01-18\nOpenJDK Runtime Environment\n", "17.0.2"},
      {"openjdk version \"1.8.0_392\"\n", "1.8.0_392"},
      // Without a line end (the output ends there).
      {"java version \"1.4.2\"", "1.4.2"},
      // Only the first line counts.
      {"Picked up _JAVA_OPTIONS: -Xmx1g\njava version \"1.8.0\"\n", std::nullopt},
      {"\njava version \"1.8.0\"\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parseVersionBanner(c.output), c.version) << c.output;
  }
}

TEST(ParseVersionBanner, RefusesMalformedBanners) {
  const std::string cases[] = {
      "java version \"\"\n",             // nothing between the quotes
      "java version \"1.4.2\n",          // no closing quote on the line
      "java version \"1.4.2\nx\"\n",     // the closing quote is on the next line
      "java version 1.4.2\n",            // no quote at all
      "java  version \"1.4.2\"\n",       // the prefix is exact
      "Java version \"1.4.2\"\n",
      " java version \"1.4.2\"\n",
      "openjdk  version \"17\"\n",
      "jdk version \"17\"\n",
      "java version \"",
      std::string("java version \"1.4\0.2\"\n", 22),  // a NUL ends the line
  };
  for (const std::string& output : cases) {
    EXPECT_EQ(parseVersionBanner(output), std::nullopt) << output;
  }
}

TEST(ParseVersionBanner, ReadsOnlyWhatFitsTheLineBuffer) {
  const std::string prefix = "java version \"";
  // The closing quote as the 99th byte still fits; as the 100th it does not.
  std::string fits = prefix + std::string(kBannerLineBytes - 2 - prefix.size(), '1') + "\"\n";
  std::string tooLong = prefix + std::string(kBannerLineBytes - 1 - prefix.size(), '1') + "\"\n";
  EXPECT_EQ(parseVersionBanner(fits), std::string(kBannerLineBytes - 2 - prefix.size(), '1'));
  EXPECT_EQ(parseVersionBanner(tooLong), std::nullopt);
  EXPECT_EQ(parseVersionBanner(prefix + std::string(100000, '7') + "\"\n"), std::nullopt);
}
