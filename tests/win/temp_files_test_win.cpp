// The temporary area under Wine: the directory choice and its fallbacks.
#include "files/temp_files_win.h"

#include <gtest/gtest.h>

#include <string>

#include "files_test_support_win.h"

using namespace files_test;

TEST(TempPath, IsTheSystemsAndChosenWhenItsLongFormIsAnsi) {
  char buf[MAX_PATH + 1];
  EXPECT_EQ(getTempPath(), std::string(buf, GetTempPathA(sizeof buf, buf)));
  std::string chosen;
  chooseTempDirectory(chosen);
  EXPECT_EQ(chosen, getTempPath());
}

TEST(TempPath, FallsBackWhenTheLongFormCannotBeShownAndLeavesNoTestDirectory) {
  // A temporary directory whose name holds a character outside the ANSI code
  // page, named through its short form as TMP often is.
  std::string scratch = makeScratchDir("fallback");
  std::wstring wide(scratch.begin(), scratch.end());
  wide += L"\\\x4E2D\x6587";
  ASSERT_TRUE(CreateDirectoryW(wide.c_str(), nullptr));
  wchar_t shortWide[MAX_PATH + 1];
  DWORD n = GetShortPathNameW(wide.c_str(), shortWide, MAX_PATH + 1);
  ASSERT_GT(n, 0u);
  std::string shortPath;
  for (DWORD i = 0; i < n; ++i) {
    ASSERT_LT(shortWide[i], 0x80) << "the system gave no ASCII short name";
    shortPath += char(shortWide[i]);
  }
  std::string chosen, fileName;
  bool created;
  {
    ScopedVariable tmp("TMP", shortPath.c_str());
    chooseTempDirectory(chosen);
    created = createTempFileName(fileName);
  }

  char windows[MAX_PATH + 1];
  EXPECT_EQ(chosen, std::string(windows, GetWindowsDirectoryA(windows, sizeof windows)) + "\\temp");
  EXPECT_FALSE(exists(chosen + "\\krn_w_testdir"));
  ASSERT_TRUE(created);
  EXPECT_EQ(fileName.rfind(chosen + "\\krn", 0), 0u) << fileName;
  DeleteFileA(fileName.c_str());
  RemoveDirectoryW(wide.c_str());
  removeTree(scratch);
}

TEST(CanWriteDirectory, TriesAndRemovesItsTestDirectory) {
  std::string scratch = makeScratchDir("write");
  EXPECT_TRUE(canWriteDirectory(scratch));
  EXPECT_FALSE(exists(scratch + "\\krn_w_testdir"));
  // One left behind by an earlier try is no obstacle, and goes too.
  ASSERT_TRUE(CreateDirectoryA((scratch + "\\krn_w_testdir").c_str(), nullptr));
  EXPECT_TRUE(canWriteDirectory(scratch));
  EXPECT_FALSE(exists(scratch + "\\krn_w_testdir"));
  EXPECT_FALSE(canWriteDirectory(scratch + "\\missing"));
  removeTree(scratch);
}
