#include "config/value_list.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Items joined by '|' so that empty items show.
std::string items(std::string_view list, EmptyItems empty) {
  std::string out;
  for (std::string_view item : splitList(list, ';', empty)) out += std::string(item) + "|";
  return out;
}

TEST(ValueList, SplitsKeepingOrDroppingEmptyItems) {
  struct Case {
    std::string_view list;
    const char* kept;
    const char* dropped;
  };
  const Case cases[] = {
      {"", "", ""},
      {"a", "a|", "a|"},
      {"ab;c", "ab|c|", "ab|c|"},
      {"a;;b", "a||b|", "a|b|"},
      {";a;", "|a||", "a|"},
      {";", "||", ""},
      {"a,b", "a,b|", "a,b|"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(items(c.list, EmptyItems::keep), c.kept) << c.list;
    EXPECT_EQ(items(c.list, EmptyItems::drop), c.dropped) << c.list;
  }
}

}  // namespace
