// The temporary area under Wine: the directory choice and its fallbacks,
// and temporary file names.
#include "files/temp_files_win.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "files_test_support_win.h"

using namespace files_test;

namespace {

std::string windowsDirectory() {
  char buf[MAX_PATH + 1];
  UINT n = GetWindowsDirectoryA(buf, sizeof buf);
  return std::string(buf, n);
}

}  // namespace

TEST(TempPath, IsTheSystemsWithItsBackslashAndChosenWhenItsLongFormIsAnsi) {
  char buf[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof buf, buf);
  std::string path = getTempPath();
  EXPECT_EQ(path, std::string(buf, n));
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.back(), '\\');
  std::string chosen;
  chooseTempDirectory(chosen);
  EXPECT_EQ(chosen, path);
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

  EXPECT_EQ(chosen, windowsDirectory() + "\\temp");
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

TEST(CreateTempFileName, MakesANewEmptyKrnFileInTheTempDirectory) {
  std::string first, second;
  ASSERT_TRUE(createTempFileName(first));
  ASSERT_TRUE(createTempFileName(second));
  std::string temp = getTempPath();
  std::regex shape("krn[0-9A-F]{1,4}\\.tmp", std::regex::icase);
  for (const std::string& name : {first, second}) {
    ASSERT_EQ(name.rfind(temp, 0), 0u) << name;
    EXPECT_TRUE(std::regex_match(name.substr(temp.size()), shape)) << name;
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data)) << name;
    EXPECT_EQ(data.nFileSizeLow, 0u);
    EXPECT_FALSE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  }
  EXPECT_NE(first, second);
  DeleteFileA(first.c_str());
  DeleteFileA(second.c_str());
}
