#include "startup/startup_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/environment_win.h"
#include "config/config_state.h"
#include "config/paths_win.h"

namespace {

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedPath_ = environmentValue("PATH");
    char dir[MAX_PATH * 4];
    GetCurrentDirectoryA(sizeof dir, dir);
    savedDir_ = dir;
  }
  void TearDown() override {
    SetEnvironmentVariableA("PATH", savedPath_.c_str());
    SetCurrentDirectoryA(savedDir_.c_str());
    configTables() = ConfigTables{};
  }
  std::string savedPath_, savedDir_;
};

TEST_F(StartupTest, PathPrefixComesFirstForTheSystemAndTheCRuntime) {
  configTables().narrow[10004] = "lib;d:\\tools;;x";
  prefixSearchPath();
  std::string expected = exeDirectory() + "lib;d:\\tools;" + exeDirectory() + "x;" + savedPath_;
  EXPECT_EQ(environmentValue("PATH"), expected);
  // The C runtime's copy too, which a library loaded in the process reads.
  EXPECT_STREQ(std::getenv("PATH"), expected.c_str());
}

TEST_F(StartupTest, ALongOldValueSurvives) {
  std::string longPath = savedPath_ + ";" + std::string(20000, 'p');
  SetEnvironmentVariableA("PATH", longPath.c_str());
  configTables().narrow[10004] = "c:\\first";
  prefixSearchPath();
  EXPECT_EQ(environmentValue("PATH"), "c:\\first;" + longPath);
}

TEST_F(StartupTest, WorkingDirectoryIsResolvedFromTheExecutable) {
  configTables().narrow[146] = ".";
  enterWorkingDirectory();
  char dir[MAX_PATH * 4];
  DWORD n = GetCurrentDirectoryA(sizeof dir, dir);
  std::string expected = exeDirectory();
  expected.pop_back();  // no trailing backslash on a current directory
  EXPECT_EQ(std::string(dir, n), expected);

  // A directory that does not exist is ignored: the directory stays.
  configTables().narrow[146] = "c:\\no\\such\\directory";
  enterWorkingDirectory();
  n = GetCurrentDirectoryA(sizeof dir, dir);
  EXPECT_EQ(std::string(dir, n), expected);
}

}  // namespace
