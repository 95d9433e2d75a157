#include "config/config_store.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>

namespace {

TEST(ConfigInt, FollowsTheAtoiRules) {
  struct Case { const char* text; int value; };
  const Case cases[] = {
      {"12abc", 12}, {" 7", 7}, {"-3", -3}, {"abc", 0}, {"", 0}, {"+5", 5},
      {"\t\n\v\f\r 9", 9}, {"- 4", 0}, {"--4", 0}, {"0x10", 0}, {"007", 7},
      {"2147483647", INT_MAX}, {"-2147483648", INT_MIN},
      {"99999999999999999999", INT_MAX}, {"-99999999999999999999", INT_MIN},
      {"yes", 0}, {"4 2", 4},
  };
  for (const Case& c : cases) EXPECT_EQ(parseConfigInt(c.text), c.value) << '"' << c.text << '"';
}

TEST(ConfigStore, AbsentKeysReadAsEmptyOrZeroAndValuesEndAtNul) {
  ConfigTables t;
  t.narrow[101] = std::string("svc\0hidden", 10);
  t.narrow[107] = "12abc";
  t.wide[20017] = std::u16string(u"d\0x", 3);
  EXPECT_EQ(getConfigString(t, ConfigKey::serviceName), "svc");
  EXPECT_EQ(getConfigString(t, ConfigKey::mainClass), "");
  EXPECT_EQ(getConfigInt(t, ConfigKey::executableType), 12);
  EXPECT_EQ(getConfigInt(t, ConfigKey::stdoutRedirect), 0);
  EXPECT_EQ(getConfigWString(t, WideKey::serviceDescription), u"d");
  EXPECT_EQ(getConfigWString(t, WideKey::wideErrorCaption), u"");
}

TEST(KeyTable, NamesAndNumbersAreUniqueAndMatchTheEnums) {
  std::set<std::string_view> names;
  std::set<std::pair<int32_t, bool>> numbers;
  for (const KeyInfo* k = keyTableBegin(); k != keyTableEnd(); ++k) {
    bool wide = k->type == ValueType::wideText;
    EXPECT_TRUE(names.insert(k->name).second) << k->name;
    EXPECT_TRUE(numbers.insert({k->number, wide}).second) << k->number;
    EXPECT_EQ(findKeyByName(k->name), k);
    EXPECT_EQ(findKeyByNumber(k->number, wide), k);
    if (k->type == ValueType::list) {
      EXPECT_NE(k->separator, 0) << k->name;
    }
  }
  EXPECT_EQ(findKeyByName("serviceName")->number, int32_t(ConfigKey::serviceName));
  EXPECT_EQ(findKeyByName("MSG_INTERNAL_ERROR")->number, 1009);
  EXPECT_EQ(findKeyByName("serviceDescription")->number, int32_t(WideKey::serviceDescription));
  EXPECT_EQ(findKeyByNumber(20017, false), nullptr);  // a wide key, not a narrow one
  EXPECT_EQ(findKeyByName("nosuchkey"), nullptr);
  // A new service accepts any Java: the version bounds have no default.
  EXPECT_EQ(findKeyByName("minJavaVersion")->packDefault, nullptr);
  EXPECT_EQ(findKeyByName("maxJavaVersion")->packDefault, nullptr);
}

}  // namespace
