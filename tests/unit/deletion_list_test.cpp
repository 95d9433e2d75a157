// The text of the deletion lists kept in the registry.
#include "files/deletion_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(DeletionListValue, TakesTheByteCountWithOrWithoutATerminator) {
  struct Case {
    std::string bytes;
    std::string text;
  } cases[] = {
      {"", ""},
      {"c:\\a;", "c:\\a;"},
      {std::string("c:\\a;\0", 6), "c:\\a;"},            // written with its NUL
      {std::string("c:\\a;\0c:\\b;", 11), "c:\\a;"},     // nothing after a NUL counts
      {std::string("\0", 1), ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(deletionListFromValue(c.bytes.data(), c.bytes.size()), c.text);
  }
  EXPECT_EQ(deletionListFromValue(nullptr, 0), "");
}

TEST(DeletionListValue, ReadsAnyLength) {
  // Longer than the 8192-byte buffers the lists were once read into.
  std::string big;
  while (big.size() < 3 * 8192) big += "c:\\temp\\krn1.tmp_dir1\\file.jar;";
  EXPECT_EQ(deletionListFromValue(big.data(), big.size()), big);
}

TEST(DeletionListAppend, AddsThePathAndItsSeparatorAtAnyLength) {
  std::string list;
  appendDeletionEntry(list, "c:\\a");
  EXPECT_EQ(list, "c:\\a;");
  appendDeletionEntry(list, "c:\\a");  // scheduled twice: listed twice
  EXPECT_EQ(list, "c:\\a;c:\\a;");

  // Past 8191 bytes every earlier entry is still there.
  std::string longList;
  std::vector<std::string> paths;
  for (int i = 0; longList.size() < 20000; ++i) {
    paths.push_back("c:\\temp\\krn" + std::to_string(i) + ".tmp_dir1\\some-library.jar");
    appendDeletionEntry(longList, paths.back());
  }
  std::vector<std::string_view> entries = deletionEntries(longList);
  ASSERT_EQ(entries.size(), paths.size());
  for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(entries[i], paths[i]);
}

TEST(DeletionListEntries, KeepOrderAndDropEmptyItems) {
  struct Case {
    const char* list;
    std::vector<std::string_view> entries;
  } cases[] = {
      {"", {}},
      {";;", {}},
      {"c:\\a;", {"c:\\a"}},
      {"c:\\a;c:\\b;", {"c:\\a", "c:\\b"}},
      {"c:\\a;;c:\\b", {"c:\\a", "c:\\b"}},  // a last entry without ';' counts too
      {"c:\\a;c:\\a;", {"c:\\a", "c:\\a"}},
  };
  for (const Case& c : cases) EXPECT_EQ(deletionEntries(c.list), c.entries) << c.list;
}

TEST(DeletionListRules, OnlyPathsThatStayWholeAreScheduled) {
  EXPECT_TRUE(canScheduleForDeletion("c:\\temp\\krn1.tmp_dir2\\a.jar"));
  EXPECT_TRUE(canScheduleForDeletion("\\\\srv\\share\\x"));
  // A ';' would split it into pieces naming other paths, e.g. "c:\users\a".
  EXPECT_FALSE(canScheduleForDeletion("c:\\users\\a;b\\temp\\krn1.tmp_dir2"));
  EXPECT_FALSE(canScheduleForDeletion(""));
}

TEST(DeletionListRules, TheSweepActsOnlyOnTheLauncherOwnNamesInTheTemporaryArea) {
  const std::vector<std::string> temps = {"C:\\windows\\temp\\", "c:\\tmp", "d:\\"};
  struct Case {
    const char* path;
    bool directoryList;
    const char* directory;  // nullptr: not sweepable
  } cases[] = {
      {"C:\\windows\\temp\\krn3F.tmp_dir9f0c", true, "C:\\windows\\temp\\krn3F.tmp_dir9f0c"},
      {"c:\\WINDOWS\\TEMP\\KRN3F.TMP_DIR27314\\app.jar", false, "c:\\WINDOWS\\TEMP\\KRN3F.TMP_DIR27314"},
      {"c:\\tmp\\krnffff.tmp_dir0\\a.jar", false, "c:\\tmp\\krnffff.tmp_dir0"},
      {"d:\\krn1.tmp_dir2", true, "d:\\krn1.tmp_dir2"},  // a drive root as temporary area
      // The wrong list: a directory is never deleted as a file, nor the reverse.
      {"C:\\windows\\temp\\krn3F.tmp_dir9f0c", false, nullptr},
      {"c:\\tmp\\krn1.tmp_dir0\\a.jar", true, nullptr},
      // Outside the temporary area, or not of the launcher's making.
      {"C:\\windows\\system32\\krn1.tmp_dir0\\a.dll", false, nullptr},
      {"C:\\windows\\temp\\sub\\krn1.tmp_dir0", true, nullptr},
      {"C:\\windows\\temp\\other\\a.jar", false, nullptr},
      {"C:\\windows\\temp\\krn1.tmp", true, nullptr},
      {"C:\\windows\\temp\\krn1.tmp_dir", true, nullptr},
      {"C:\\windows\\temp\\krn123456789.tmp_dir0", true, nullptr},
      {"C:\\windows\\temp\\krnxyz.tmp_dir0", true, nullptr},
      {"C:\\windows\\temp\\krn1.tmp_dir0g", true, nullptr},
      {"C:\\windows\\temp\\krn1.tmp_dir0.", true, nullptr},
      // Ways out of the directory, and names Windows would read otherwise.
      {"C:\\windows\\temp\\krn1.tmp_dir0\\..\\..\\x", false, nullptr},
      {"C:\\windows\\temp\\x\\..\\krn1.tmp_dir0", true, nullptr},
      {"C:\\windows\\temp\\krn1.tmp_dir0\\..", false, nullptr},
      {"C:\\windows\\temp\\krn1.tmp_dir0\\a.jar:stream", false, nullptr},
      {"C:\\windows\\temp\\krn1.tmp_dir0\\con", false, nullptr},
      {"C:\\windows/temp\\krn1.tmp_dir0", true, nullptr},
      {"\\\\?\\C:\\windows\\temp\\krn1.tmp_dir0", true, nullptr},
      // Relative ones would be taken from the current directory.
      {"krn1.tmp_dir0", true, nullptr},
      {"\\krn1.tmp_dir0", true, nullptr},
      {"c:krn1.tmp_dir0", true, nullptr},
      {"", true, nullptr},
  };
  for (const Case& c : cases) {
    std::string directory = "stale";
    bool sweepable = isSweepablePath(c.path, temps, c.directoryList, directory);
    EXPECT_EQ(sweepable, c.directory != nullptr) << c.path;
    EXPECT_EQ(directory, c.directory ? c.directory : "") << c.path;
  }
  std::string directory;
  EXPECT_FALSE(isSweepablePath("C:\\windows\\temp\\krn1.tmp_dir0", {}, true, directory));
}
