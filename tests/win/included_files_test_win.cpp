// Extraction of included files under Wine, from a made-up media file that
// stands in for the launcher's own executable, and the hand-over of what
// was extracted to deferred deletion.
#include "files/extraction_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "files/included_files.h"
#include "files_test_support_win.h"

using namespace files_test;

namespace {

std::string pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = char((i * 131 + seed) ^ (i >> 10));
  return s;
}

class Extraction : public MediaTest {
 protected:
  static const std::vector<std::string>& files() { return extractionState().extractedFiles; }
  static const std::vector<std::string>& dirs() { return extractionState().extractedDirs; }
};

}  // namespace

TEST_F(Extraction, NothingIncludedMakesNoDirectory) {
  for (const char* count : {"0", "", "-3"}) {
    CapturedLog log;
    configTables().narrow[2002] = count;
    std::string out = "stale";
    EXPECT_TRUE(extractIncludedFiles(out));
    EXPECT_EQ(out, "");
    EXPECT_TRUE(dirs().empty());
    std::vector<std::string> lines = log.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "extracting files");
    EXPECT_EQ(lines[1].rfind("Included files: ", 0), 0u);
    EXPECT_FALSE(contains(lines, "extracting files done"));
  }
}

TEST_F(Extraction, FilesComeOutByteForByteInAFreshDirectory) {
  const size_t sizes[] = {0, 1, 8192, 8193, 3 * kExtractionCopyChunk + 5};
  std::string section, names;
  for (size_t i = 0; i < std::size(sizes); ++i) {
    appendEntry(section, int32_t(sizes[i]), pattern(sizes[i], unsigned(i)));
    names += "f" + std::to_string(i) + ".jar;";
  }
  useMedia(section, std::to_string(std::size(sizes)), names);
  CapturedLog log;
  std::string out;
  ASSERT_TRUE(extractIncludedFiles(out));

  // <temp>krn_<128 random bits>.
  std::string temp = getTempPath();
  ASSERT_EQ(out.rfind(temp, 0), 0u) << out;
  EXPECT_TRUE(std::regex_match(out.substr(temp.size()), std::regex("krn_[0-9a-f]{32}"))) << out;

  for (size_t i = 0; i < std::size(sizes); ++i) {
    std::string path = out + "\\f" + std::to_string(i) + ".jar";
    // An empty entry comes out as an empty file.
    EXPECT_TRUE(exists(path)) << path;
    EXPECT_TRUE(readFile(path) == pattern(sizes[i], unsigned(i))) << path;
    EXPECT_EQ(files()[i], path);
  }
  EXPECT_EQ(files().size(), std::size(sizes));
  EXPECT_EQ(dirs(), std::vector<std::string>{out});

  std::vector<std::string> lines = log.lines();
  EXPECT_TRUE(contains(lines, "Included files: 5"));
  EXPECT_TRUE(contains(lines, "Temp dir: " + out));
  EXPECT_TRUE(contains(lines, "extracting " + out + "\\f0.jar (size: 0)"));
  EXPECT_TRUE(contains(lines, "extracting " + out + "\\f3.jar (size: 8193)"));
  EXPECT_EQ(lines.back(), "extracting files done");
}

TEST_F(Extraction, TheCountDecidesHowManyNamesAreUsed) {
  std::string section;
  appendEntry(section, 3, "abc");
  appendEntry(section, -5, "");  // a negative size: an empty file
  appendEntry(section, 2, "de");
  {
    // More names than the count: the extra names are ignored.
    useMedia(section, "1", "a.txt;b.txt;c.txt");
    std::string out;
    ASSERT_TRUE(extractIncludedFiles(out));
    EXPECT_EQ(readFile(out + "\\a.txt"), "abc");
    EXPECT_FALSE(exists(out + "\\b.txt"));
    EXPECT_EQ(files().size(), 1u);
  }
  TearDown();
  SetUp();
  {
    // Fewer names than the count: the walk ends after the last name.
    useMedia(section, "5", ";a.txt;;neg.txt;b.txt;");
    CapturedLog log;
    std::string out;
    ASSERT_TRUE(extractIncludedFiles(out));
    EXPECT_EQ(readFile(out + "\\a.txt"), "abc");
    EXPECT_TRUE(exists(out + "\\neg.txt"));
    EXPECT_EQ(readFile(out + "\\neg.txt"), "");
    EXPECT_EQ(readFile(out + "\\b.txt"), "de");
    EXPECT_EQ(log.lines().back(), "extracting files done");
  }
}

// Which names are refused is the unit tier's; here: what a refusal does.
TEST_F(Extraction, ANameThatWouldLeaveTheDirectoryIsAFailedExtraction) {
  const std::string name = "..\\krn_glue_escaped.txt", outside = getTempPath() + "krn_glue_escaped.txt";
  DeleteFileA(outside.c_str());
  std::string section;
  appendEntry(section, 5, "owned");
  useMedia(section, "1", name);
  CapturedLog log;
  std::string out;
  EXPECT_FALSE(extractIncludedFiles(out));
  EXPECT_FALSE(exists(outside));
  // The name is never registered (its path could be anywhere); the directory
  // is, so that it does not stay behind.
  EXPECT_TRUE(files().empty());
  EXPECT_EQ(dirs(), std::vector<std::string>{out});
  std::vector<std::string> lines = log.lines();
  EXPECT_EQ(lines.back(), "ERROR: Failed to extract " + out + "\\" + name);
  EXPECT_FALSE(contains(lines, "extracting files done"));
}

TEST_F(Extraction, AnExecutableThatEndsEarlyFailsWithTheHalfFileScheduled) {
  std::string section;
  appendEntry(section, 10, "0123456789");
  appendEntry(section, 3 * int32_t(kExtractionCopyChunk), pattern(kExtractionCopyChunk + 7, 1));
  useMedia(section, "2", "a.txt;b.bin");
  CapturedLog log;
  std::string out;
  EXPECT_FALSE(extractIncludedFiles(out));
  EXPECT_EQ(readFile(out + "\\a.txt"), "0123456789");
  EXPECT_EQ(readFile(out + "\\b.bin"), pattern(kExtractionCopyChunk + 7, 1));
  EXPECT_EQ(files(), (std::vector<std::string>{out + "\\a.txt", out + "\\b.bin"}));
  std::vector<std::string> lines = log.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "ERROR: ReadFile failed");
  EXPECT_EQ(lines.back(), "ERROR: Failed to extract " + out + "\\b.bin");

  // At each message or exit, both files and then the directory are handed
  // over (again: the lists are kept).
  cleanupExtractedFiles();
  cleanupExtractedFiles();
  std::string listed = out + "\\a.txt;" + out + "\\b.bin;";
  EXPECT_EQ(readListValue("delete_file").text(), listed + listed);
  EXPECT_EQ(readListValue("delete_dir").text(), out + ";" + out + ";");
}
