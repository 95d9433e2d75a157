// The diagnostic log under Wine: switched on by the environment, its file in
// the temporary directory or, failing that, the drive's root.
#include "config/log_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "config/config_state.h"
#include "files_test_support_win.h"

using namespace files_test;

namespace {

// Each case starts from an unopened log, as a fresh process would, and
// leaves no log file behind. Which values switch the log on is the unit
// tier's; here: neither variable set.
TEST(Log, OffWithoutTheVariables) {
  resetLog();
  ScopedVariable kerno("KERNO_LOG", nullptr), brindle("BRINDLE_LOG", nullptr);
  logInfo("nothing %d", 1);
  EXPECT_EQ(logFileName(), nullptr);
  EXPECT_TRUE(logState().opened);
  resetLog();
}

TEST(Log, WritesHeaderEmptyLineAndPrefixedLines) {
  resetLog();
  ScopedVariable kerno("KERNO_LOG", "no"), brindle("BRINDLE_LOG", "yes");
  logInfo("Included files: %d", 3);
  logError("Could not open %s", "x.exe");
  ASSERT_NE(logFileName(), nullptr);
  EXPECT_NE(logFileName()->find("brd_nlog_"), std::string::npos);
  std::string text = readFile(*logFileName());
  char module[MAX_PATH * 4];
  GetModuleFileNameA(nullptr, module, sizeof module);
  std::string header = std::string("Started executable ") + module + " at ";
  ASSERT_EQ(text.compare(0, header.size(), header), 0) << text;
  // ctime's 24 characters, its own line end, then an empty line, in text mode.
  EXPECT_EQ(text.substr(header.size() + 24), "\r\n\r\nIncluded files: 3\r\nERROR: Could not open x.exe\r\n");
  resetLog();
}

TEST(Log, TmpThatIsNoDirectoryFallsBackToDriveRoot) {
  resetLog();
  ScopedVariable kerno("KERNO_LOG", "yes"), tmp("TMP", "c:\\no\\such\\dir");
  logInfo("x");
  ASSERT_NE(logFileName(), nullptr);
  EXPECT_EQ(logFileName()->rfind("c:\\brd_nlog_", 0), 0u) << *logFileName();
  resetLog();
}

}  // namespace
