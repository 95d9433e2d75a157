// Deferred deletion under Wine: scheduling into the registry lists and the
// sweep of a later run, against a private HKEY_CURRENT_USER.
#include "files/deferred_deletion_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "files_test_support_win.h"

using namespace files_test;

namespace {

class DeferredDeletion : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(registry_.ok()) << "HKEY_CURRENT_USER could not be redirected"; }
  void TearDown() override {
    for (const std::string& dir : made_) removeTree(dir);
  }

  std::string extractionDir() {
    made_.push_back(makeExtractionShapedDir());
    return made_.back();
  }

  static std::string list(const char* name) { return readListValue(name).text(); }

  static size_t countOf(const std::vector<std::string>& lines, const std::string& line) {
    return size_t(std::count(lines.begin(), lines.end(), line));
  }

  PrivateCurrentUser registry_;
  std::vector<std::string> made_;
};

}  // namespace

TEST_F(DeferredDeletion, SchedulingAppendsEachPathWithItsSeparator) {
  CapturedLog log;
  scheduleFileDeletion("c:\\t\\krn1.tmp_dir5\\a.jar");
  scheduleFileDeletion("c:\\t\\krn1.tmp_dir5\\a.jar");
  scheduleDirDeletion("c:\\t\\krn1.tmp_dir5");
  scheduleDirDeletion("c:\\users\\a;b\\krn1.tmp_dir2");  // holds the separator: not scheduled
  ListValue files = readListValue("delete_file");
  EXPECT_EQ(files.type, DWORD(REG_SZ));
  EXPECT_EQ(files.text(), "c:\\t\\krn1.tmp_dir5\\a.jar;c:\\t\\krn1.tmp_dir5\\a.jar;");
  EXPECT_EQ(list("delete_dir"), "c:\\t\\krn1.tmp_dir5;");
  std::vector<std::string> lines = log.lines();
  EXPECT_EQ(countOf(lines, "schedule for deletion in delete_file: c:\\t\\krn1.tmp_dir5\\a.jar"), 2u);
  EXPECT_EQ(countOf(lines, "schedule for deletion in delete_dir: c:\\t\\krn1.tmp_dir5"), 1u);
}

TEST_F(DeferredDeletion, SweepWithoutTheKeyChangesAndCreatesNothing) {
  ASSERT_FALSE(listKeyExists());
  sweepScheduledDeletions();
  EXPECT_FALSE(listKeyExists());
}

TEST_F(DeferredDeletion, SweepWritesAnEmptyFileListWhenOnlyDirectoriesAreListed) {
  std::string sub = extractionDir();
  writeListValue("delete_dir", sub + ";");
  sweepScheduledDeletions();
  ListValue files = readListValue("delete_file");
  EXPECT_TRUE(files.present);
  EXPECT_EQ(files.bytes, "");  // the empty text, not even a terminator
  EXPECT_EQ(list("delete_dir"), "");
  EXPECT_FALSE(exists(sub));
}

TEST_F(DeferredDeletion, AFileHeldOpenStaysListedAndSoDoesItsDirectory) {
  std::string sub = extractionDir();
  std::string held = sub + "\\held.jar";
  std::string free = sub + "\\free.jar";
  ASSERT_TRUE(writeFile(held, "1"));
  ASSERT_TRUE(writeFile(free, "2"));
  scheduleFileDeletion(held);
  scheduleFileDeletion(free);
  scheduleFileDeletion(free);  // twice: deleted once, the second copy (gone by then) dropped silently
  scheduleDirDeletion(sub);
  // Open as another program would hold it: sharing everything, even deletion.
  HANDLE h = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(canOpenExclusively(held));
  EXPECT_TRUE(canOpenExclusively(free));
  {
    CapturedLog log;
    sweepScheduledDeletions();
    std::vector<std::string> lines = log.lines();
    EXPECT_EQ(lines, (std::vector<std::string>{"didn't delete " + held, "delete file " + free, "delete dir " + sub,
                                               "didn't delete " + sub}));
  }
  EXPECT_TRUE(exists(held));
  EXPECT_FALSE(exists(free));
  EXPECT_EQ(list("delete_file"), held + ";");
  EXPECT_EQ(list("delete_dir"), sub + ";");

  // Once let go, the next sweep finishes the job: files, then their directory.
  CloseHandle(h);
  CapturedLog log;
  sweepScheduledDeletions();
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"delete file " + held, "delete dir " + sub}));
  EXPECT_FALSE(exists(held));
  EXPECT_FALSE(exists(sub));
  EXPECT_EQ(list("delete_file"), "");
  EXPECT_EQ(list("delete_dir"), "");
}

// Which names the sweep may act on is the unit tier's; here: that it acts on
// no other, in either list, and keeps them listed. Each would be deleted by a
// sweep that trusted its lists or only the names' shape: a file in a
// directory of the launcher's shape outside the temporary area, and an empty
// directory of that shape outside it.
TEST_F(DeferredDeletion, OnlyTheLauncherOwnNamesInTheTemporaryAreaAreTouched) {
  std::string elsewhere = makeScratchDir("sweep-victims");
  made_.push_back(elsewhere);
  std::string outside = elsewhere + "\\krn1.tmp_dir2", foreign = elsewhere + "\\krn1.tmp_dir3\\a.jar";
  ASSERT_TRUE(CreateDirectoryA(outside.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((elsewhere + "\\krn1.tmp_dir3").c_str(), nullptr));
  ASSERT_TRUE(writeFile(foreign, "keep"));
  writeListValue("delete_file", foreign + ";");
  writeListValue("delete_dir", outside + ";");
  CapturedLog log;
  sweepScheduledDeletions();
  EXPECT_TRUE(exists(foreign));
  EXPECT_TRUE(exists(outside));
  EXPECT_EQ(list("delete_file"), foreign + ";");
  EXPECT_EQ(list("delete_dir"), outside + ";");
  EXPECT_EQ(countOf(log.lines(), "not deleting " + foreign + ": not a name the launcher makes in the temporary area"),
            1u);
}

TEST_F(DeferredDeletion, SweepsListsOfAnyLengthStoredWithATerminator) {
  // More than 8192 bytes of entries: none may be lost or left behind.
  std::string dir = extractionDir(), value;
  std::vector<std::string> paths;
  for (int i = 0; value.size() < 3 * 8192; ++i) {
    paths.push_back(dir + "\\a-rather-long-name-for-an-extracted-library-number-" + std::to_string(i) + ".jar");
    ASSERT_TRUE(writeFile(paths.back(), "x"));
    value += paths.back() + ";";
  }
  writeListValue("delete_file", value + std::string(1, '\0'));
  sweepScheduledDeletions();
  for (const std::string& p : paths) ASSERT_FALSE(exists(p)) << p;
  EXPECT_EQ(list("delete_file"), "");
}
