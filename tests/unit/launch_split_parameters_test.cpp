#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launch/vm_options.h"

namespace {

struct Case {
  const char16_t* text;
  std::vector<std::u16string> parameters;
};

void expectSplits(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    std::vector<std::u16string> out;
    EXPECT_TRUE(splitParameters(c.text, out)) << ::testing::PrintToString(std::u16string(c.text));
    EXPECT_EQ(out, c.parameters) << ::testing::PrintToString(std::u16string(c.text));
  }
}

}  // namespace

TEST(SplitParameters, SpacesSeparate) {
  expectSplits({
      {u"", {}},
      {u"   ", {}},
      {u"a", {u"a"}},
      {u"a b c", {u"a", u"b", u"c"}},
      {u"  a   b  ", {u"a", u"b"}},
      {u"-Xmx512m -Dx=1", {u"-Xmx512m", u"-Dx=1"}},
      // Only the space separates: tabs and other white space belong to a parameter.
      {u"a\tb c\n", {u"a\tb", u"c\n"}},
  });
}

TEST(SplitParameters, QuotesOpeningAParameter) {
  expectSplits({
      {u"\"c d\"", {u"c d"}},
      {u"'x y'", {u"x y"}},
      {u"a b \"c d\"", {u"a", u"b", u"c d"}},
      {u"-Xms64m \"-Dp=c:\\a b\" 'x y' \"\"", {u"-Xms64m", u"-Dp=c:\\a b", u"x y", u""}},
      // Empty parameters.
      {u"\"\"", {u""}},
      {u"'' ''", {u"", u""}},
      // Inside quotes the other kind is an ordinary character.
      {u"\"it's\" 'say \"hi\"'", {u"it's", u"say \"hi\""}},
      // No escape character.
      {u"\"a\\\" b", {u"a\\", u"b"}},
      // Text right after a closing quote starts the next parameter.
      {u"\"a\"b", {u"a", u"b"}},
      {u"\"a\"\"b\"", {u"a", u"b"}},
      {u"'a'  b", {u"a", u"b"}},
  });
}

TEST(SplitParameters, QuoteInsideAParameterJoinsTheTextBeforeIt) {
  expectSplits({
      {u"-Dp=\"c:\\a b\"", {u"-Dp=c:\\a b"}},
      {u"-Dp=\"c:\\a b\" -Xrs", {u"-Dp=c:\\a b", u"-Xrs"}},
      {u"x'a b'y", {u"xa b", u"y"}},
      // A space before the quote ends the parameter first.
      {u"a \"b c\"", {u"a", u"b c"}},
  });
}

TEST(SplitParameters, UnmatchedQuoteFails) {
  struct Failing {
    const char16_t* text;
    std::vector<std::u16string> before;  // what was split before the quote
  };
  const Failing cases[] = {
      {u"\"", {}},           {u"\"abc", {}}, {u"a b 'c d", {u"a", u"b"}}, {u"-Dp=\"c:\\a b", {}},
      {u"'a' \"b'", {u"a"}},
  };
  for (const Failing& c : cases) {
    std::vector<std::u16string> out;
    EXPECT_FALSE(splitParameters(c.text, out)) << ::testing::PrintToString(std::u16string(c.text));
    EXPECT_EQ(out, c.before);
  }
}

TEST(SplitParameters, AppendsToWhatTheListHolds) {
  std::vector<std::u16string> out = {u"kept"};
  ASSERT_TRUE(splitParameters(u"x", out));
  EXPECT_EQ(out, (std::vector<std::u16string>{u"kept", u"x"}));
}
