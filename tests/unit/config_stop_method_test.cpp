// The stop method's stored form and checks (its calls into the VM are the
// real-JVM tier's, tests/jvm).
#include <gtest/gtest.h>

#include <string>

#include "config/stop_method_setting.h"

TEST(StopMethodSetting, StoredFormAndChecks) {
  StopMethodSetting s;
  std::string why;
  // Good texts come back as they are; "" after the method is one empty argument.
  for (const char* good : {"30\nServer\nstop", "3600\na.b.Outer$Inner\n_stop\n", "5\nS\nm\nwith spaces; \xE9\nx"}) {
    ASSERT_TRUE(parseStopMethod(good, s, why)) << good << ": " << why;
    EXPECT_EQ(stopMethodText(s), good);
  }
  EXPECT_EQ(stopMethodClassPath(s) + stopMethodSignature(s), "S([Ljava/lang/String;)V");
  const std::pair<std::string, const char*> bad[] = {
      {"30\nS", "not a time-out, a class and a method"},
      {"0\nS\nm", "timeoutSeconds: 0 is outside 1..3600"},
      {"30\norg..Server\nm", "empty part"},
      {"30\norg/example/Server\nm", "other than ASCII"},
      {"30\nS\n\xE9t\xE9", "other than ASCII"},
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
