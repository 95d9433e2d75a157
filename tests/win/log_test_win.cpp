#include "config/log_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "common/launcher_state.h"

namespace {

// Each test starts from an unopened log, as a fresh process would.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override {
    reset();
    SetEnvironmentVariableA("KERNO_LOG", nullptr);
    SetEnvironmentVariableA("BRINDLE_LOG", nullptr);
    SetEnvironmentVariableA("TMP", savedTmp_.empty() ? nullptr : savedTmp_.c_str());
  }
  static void reset() {
    LogState& log = launcher().log;
    if (log.stream) std::fclose(log.stream);
    log = LogState{};
  }
  static std::string readFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string savedTmp_ = [] {
    char buf[4096];
    DWORD n = GetEnvironmentVariableA("TMP", buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
  }();
};

TEST_F(LogTest, OffUnlessAVariableIsExactlyYes) {
  const char* values[][2] = {{nullptr, nullptr}, {"yes ", nullptr}, {"YES", "no"}, {"", "Yes"}};
  for (auto& v : values) {
    reset();
    SetEnvironmentVariableA("KERNO_LOG", v[0]);
    SetEnvironmentVariableA("BRINDLE_LOG", v[1]);
    logInfo("nothing %d", 1);
    EXPECT_EQ(logFileName(), nullptr) << (v[0] ? v[0] : "(unset)");
    EXPECT_TRUE(launcher().log.opened);
  }
}

TEST_F(LogTest, WritesHeaderEmptyLineAndPrefixedLines) {
  SetEnvironmentVariableA("KERNO_LOG", "no");
  SetEnvironmentVariableA("BRINDLE_LOG", "yes");
  logInfo("Included files: %d", 3);
  logError("Could not open %s", "x.exe");
  const std::string* name = logFileName();
  ASSERT_NE(name, nullptr);
  EXPECT_NE(name->find("brd_nlog_"), std::string::npos);
  std::string text = readFile(*name);
  char module[MAX_PATH * 4];
  GetModuleFileNameA(nullptr, module, sizeof module);
  std::string header = std::string("Started executable ") + module + " at ";
  ASSERT_EQ(text.compare(0, header.size(), header), 0) << text;
  // ctime's 24 characters, its own line end, then an empty line, in text mode.
  size_t afterHeader = header.size() + 24;
  EXPECT_EQ(text.substr(afterHeader), "\r\n\r\nIncluded files: 3\r\nERROR: Could not open x.exe\r\n");
  reset();
  DeleteFileA(name->c_str());
}

TEST_F(LogTest, TmpThatIsNoDirectoryFallsBackToDriveRoot) {
  SetEnvironmentVariableA("KERNO_LOG", "yes");
  SetEnvironmentVariableA("TMP", "c:\\no\\such\\dir");
  logInfo("x");
  const std::string* name = logFileName();
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->rfind("c:\\brd_nlog_", 0), 0u) << *name;
  std::string copy = *name;
  reset();
  DeleteFileA(copy.c_str());
}

}  // namespace
