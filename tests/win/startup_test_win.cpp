#include "startup/startup_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/environment_win.h"
#include "common/handles_win.h"
#include "common/launcher_state.h"
#include "files/paths_win.h"

namespace {

// Runs a command line and returns what it printed on standard output.
std::string childOutput(std::string commandLine) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return "<no pipe>";
  UniqueHandle reader(readEnd), writer(writeEnd);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &si, &pi)) {
    return "<no process>";
  }
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  writer.reset();
  std::string out;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(readEnd, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
  WaitForSingleObject(pi.hProcess, INFINITE);
  return out;
}

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
    launcher().config = ConfigTables{};
  }
  std::string savedPath_, savedDir_;
};

TEST_F(StartupTest, PathPrefixComesFirstAndAChildSeesIt) {
  launcher().config.narrow[10004] = "lib;d:\\tools;;x";
  prefixSearchPath();
  std::string expected = exeDirectory() + "lib;d:\\tools;" + exeDirectory() + "x;" + savedPath_;
  EXPECT_EQ(environmentValue("PATH"), expected);
  std::string printed = childOutput("cmd.exe /c echo %PATH%");
  EXPECT_EQ(printed.rfind(exeDirectory() + "lib;d:\\tools;", 0), 0u) << printed;
}

TEST_F(StartupTest, EmptyPrefixKeepsPathAndLongOldValuesSurvive) {
  prefixSearchPath();
  EXPECT_EQ(environmentValue("PATH"), savedPath_);
  std::string longPath = savedPath_ + ";" + std::string(20000, 'p');
  SetEnvironmentVariableA("PATH", longPath.c_str());
  launcher().config.narrow[10004] = "c:\\first";
  prefixSearchPath();
  EXPECT_EQ(environmentValue("PATH"), "c:\\first;" + longPath);
}

TEST_F(StartupTest, WorkingDirectoryIsResolvedFromTheExecutable) {
  launcher().config.narrow[146] = ".";
  enterWorkingDirectory();
  char dir[MAX_PATH * 4];
  DWORD n = GetCurrentDirectoryA(sizeof dir, dir);
  std::string expected = exeDirectory();
  expected.pop_back();  // no trailing backslash on a current directory
  EXPECT_EQ(std::string(dir, n), expected);

  // A directory that does not exist is ignored: the directory stays.
  launcher().config.narrow[146] = "c:\\no\\such\\directory";
  enterWorkingDirectory();
  n = GetCurrentDirectoryA(sizeof dir, dir);
  EXPECT_EQ(std::string(dir, n), expected);
}

}  // namespace
