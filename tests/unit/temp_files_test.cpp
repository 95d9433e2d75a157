// Names in the temporary area.
#include "files/temp_files.h"

#include <gtest/gtest.h>

TEST(TempDirectoryChoice, FallsBackOnlyWhenTheLongFormLostCharacters) {
  EXPECT_FALSE(needsTempFallback("C:\\Users\\anna\\AppData\\Local\\Temp\\"));
  EXPECT_FALSE(needsTempFallback("C:\\Users\\J\xF6rg\\Temp\\"));
  EXPECT_TRUE(needsTempFallback("C:\\Users\\??\\Temp\\"));
  EXPECT_TRUE(needsTempFallback("?"));
}

TEST(TempDirectoryChoice, CandidatesComeInOrderWithoutTrailingBackslash) {
  std::vector<std::string> expected = {"C:\\WINDOWS\\temp", "c:\\temp", "c:\\tmp", "C:\\WINDOWS"};
  EXPECT_EQ(tempFallbackCandidates("C:\\WINDOWS"), expected);
}

TEST(TempNames, WriteTestDirectoryLiesInTheCandidate) {
  EXPECT_EQ(writeTestPath("c:\\temp"), "c:\\temp\\krn_w_testdir");
}

TEST(TempNames, ProcessCommFileFollowsTheTempPath) {
  EXPECT_EQ(processCommFileNameIn("C:\\T\\", 4242), "C:\\T\\krn_p4242.tmp");
  EXPECT_EQ(processCommFileNameIn("", 7), "krn_p7.tmp");
  EXPECT_EQ(processCommFileNameIn("C:\\T\\", 4294967295ul), "C:\\T\\krn_p4294967295.tmp");
}
