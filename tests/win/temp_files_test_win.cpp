// The temporary area under Wine: the directory choice and its fallbacks, and
// private directories whose names cannot be taken in advance.
#include "files/temp_files_win.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/access_rules.h"
#include "files_test_support_win.h"

using namespace files_test;

namespace {

// Entries of a directory whose names begin with `prefix`.
int countEntries(const std::string& directory, const std::string& prefix) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((directory + "\\" + prefix + "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  int n = 0;
  do ++n;
  while (FindNextFileA(find, &data));
  FindClose(find);
  return n;
}

// Draws the tests know in advance: draw n is the process id's bytes, then n.
unsigned gDraws = 0;
bool knownDraws(uint8_t* data, std::size_t size) {
  std::memset(data, 0, size);
  DWORD pid = GetCurrentProcessId();
  std::memcpy(data, &pid, sizeof pid);
  data[size - 1] = uint8_t(++gDraws);
  return true;
}

std::string knownName(unsigned n) {
  uint8_t bytes[kExtractionNameRandomBytes];
  unsigned saved = gDraws;
  gDraws = n - 1;
  knownDraws(bytes, sizeof bytes);
  gDraws = saved;
  return extractionDirectoryName(getTempPath(), bytes, sizeof bytes);
}

}  // namespace

TEST(TempPath, IsTheSystemsAndChosenWhenItsLongFormIsAnsi) {
  // Wine 8's kernel32 has no GetTempPath2W: the long-standing route answers.
  if (GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTempPath2W") == nullptr) {
    char buf[MAX_PATH + 1];
    EXPECT_EQ(getTempPath(), std::string(buf, GetTempPathA(sizeof buf, buf)));
  }
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
  std::string chosen, made;
  bool created;
  {
    ScopedVariable tmp("TMP", shortPath.c_str());
    chooseTempDirectory(chosen);
    created = createPrivateDirectory(made);
  }

  char windows[MAX_PATH + 1];
  EXPECT_EQ(chosen, std::string(windows, GetWindowsDirectoryA(windows, sizeof windows)) + "\\temp");
  EXPECT_EQ(countEntries(chosen, "krn_w_"), 0);
  ASSERT_TRUE(created);
  EXPECT_EQ(made.rfind(chosen + "\\krn_", 0), 0u) << made;
  RemoveDirectoryA(made.c_str());
  RemoveDirectoryW(wide.c_str());
  removeTree(scratch);
}

TEST(CanWriteDirectory, TriesAndRemovesItsTestDirectory) {
  std::string scratch = makeScratchDir("write");
  EXPECT_TRUE(canWriteDirectory(scratch));
  EXPECT_EQ(countEntries(scratch, "krn_w_"), 0);
  EXPECT_FALSE(canWriteDirectory(scratch + "\\missing"));
  removeTree(scratch);
}

// A name that is taken, by a directory or a file, costs a draw: what is there
// is left as it is, and the start goes on under a fresh name. Only a run of
// taken names as long as the bound gives up.
TEST(PrivateDirectory, ATakenNameCostsAnotherDrawNeverTheStart) {
  const std::string dir1 = knownName(1), file2 = knownName(2), dir3 = knownName(3);
  for (const std::string& name : {dir1, file2, dir3, knownName(4), knownName(5)}) {
    removeTree(name);
    DeleteFileA(name.c_str());
  }
  ASSERT_TRUE(CreateDirectoryA(dir1.c_str(), nullptr));
  ASSERT_TRUE(writeFile(dir1 + "\\planted.jar", "planted"));
  ASSERT_TRUE(writeFile(file2, "planted"));
  gDraws = 0;
  std::string made;
  ASSERT_TRUE(createPrivateDirectory(made, knownDraws));
  EXPECT_EQ(made, dir3);
  EXPECT_TRUE(GetFileAttributesA(made.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(readFile(dir1 + "\\planted.jar"), "planted");
  EXPECT_EQ(readFile(file2), "planted");

  // dir1, file2, dir3 and a fourth taken: the bound is reached.
  ASSERT_EQ(kPrivateDirectoryAttempts, 4u);
  ASSERT_TRUE(writeFile(knownName(4), "planted"));
  gDraws = 0;
  EXPECT_FALSE(createPrivateDirectory(made, knownDraws));
  EXPECT_EQ(made, "");
  EXPECT_FALSE(exists(knownName(5)));

  removeTree(dir1);
  removeTree(dir3);
  DeleteFileA(file2.c_str());
  DeleteFileA(knownName(4).c_str());
}
