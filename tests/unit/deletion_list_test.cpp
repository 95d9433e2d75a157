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

TEST(DeletionListRules, TheSweepActsOnAbsolutePathsOnly) {
  struct Case {
    const char* path;
    bool sweepable;
  } cases[] = {
      {"c:\\temp\\a.jar", true},
      {"Z:\\x", true},
      {"\\\\srv\\share\\a.jar", true},
      // Relative ones would be taken from the current directory.
      {"a.jar", false},
      {"temp\\a.jar", false},
      {"\\temp\\a.jar", false},
      {"c:temp", false},
      {"c:", false},
      {"..\\x", false},
      {"\"c:\\quoted\"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(isSweepablePath(c.path), c.sweepable) << c.path;
}
