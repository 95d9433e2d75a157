#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "service/dependency_list.h"
#include "startup/command_line.h"

namespace {

using namespace std::string_literals;

TEST(DependencyList, NamesEachEndWithANulAndTheListWithOneMore) {
  struct Case {
    std::string text;
    std::optional<std::string> list;
  };
  const Case cases[] = {
      {"a", "a\0\0"s},
      {"a,b", "a\0b\0\0"s},
      {"a,,b", "a\0b\0\0"s},  // empty pieces vanish
      {",a,", "a\0\0"s},
      {"Tcpip,Afd", "Tcpip\0Afd\0\0"s},
      {" a , b ", " a \0 b \0\0"s},  // names are taken as they are
      {"My Service", "My Service\0\0"s},
      {"", std::nullopt},  // no dependencies at all
      {",", std::nullopt},
      {",,,", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(buildDependencyList(c.text), c.list) << c.text;
}

TEST(DependencyList, HasNoLengthLimit) {
  // Far beyond the 8192 bytes the list was once built in.
  std::string text;
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    std::string name = "svc" + std::to_string(i);
    text += name + ",";
    expected += name + '\0';
  }
  expected += '\0';
  ASSERT_GT(expected.size(), 8192u);
  EXPECT_EQ(buildDependencyList(text), expected);

  std::string oneName(20000, 'n');
  EXPECT_EQ(buildDependencyList(oneName), oneName + "\0\0"s);
  EXPECT_EQ(buildDependencyList(std::string(20000, ',')), std::nullopt);
}

TEST(ServiceBinaryPath, QuotedExactlyWhenItHoldsASpace) {
  struct Case {
    const char* path;
    const char* registered;
  };
  const Case cases[] = {
      {"c:\\progra~1\\myapp\\svc.exe", "c:\\progra~1\\myapp\\svc.exe"},
      {"c:\\program files\\my app\\svc.exe", "\"c:\\program files\\my app\\svc.exe\""},
      {"c:\\apps\\svc .exe", "\"c:\\apps\\svc .exe\""},
      {" c:\\svc.exe", "\" c:\\svc.exe\""},
      {"\\\\server\\share name\\svc.exe", "\"\\\\server\\share name\\svc.exe\""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(serviceBinaryPath(c.path), c.registered) << c.path;
}

TEST(ServiceBinaryPath, TheServiceProcessSeesNoCommandWord) {
  // The service control manager starts the registered path as a command
  // line: the whole path must be the program name, so that the launcher
  // finds an empty command tail and becomes the service.
  for (const char* path : {"c:\\program files\\app\\svc.exe", "c:\\progra~1\\app\\svc.exe"}) {
    EXPECT_EQ(commandTail(serviceBinaryPath(path)), "") << path;
  }
  // Unquoted, the part after the space would be taken for the command tail.
  EXPECT_EQ(commandTail("c:\\program files\\app\\svc.exe"), "files\\app\\svc.exe");
}

}  // namespace
