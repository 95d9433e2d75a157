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

// Bytes before the section, so that the extraction must seek to it.
constexpr size_t kSectionOffset = 100;

std::string pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = char((i * 131 + seed) ^ (i >> 10));
  return s;
}

class Extraction : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registry_.ok());
    saved_ = launcher().paths;
    scratch_ = makeScratchDir("extract");
    media_ = scratch_ + "\\media.bin";
    launcher().extraction = ExtractionState{};
  }
  void TearDown() override {
    for (const std::string& dir : launcher().extraction.extractedDirs) removeTree(dir);
    launcher().extraction = ExtractionState{};
    launcher().config = ConfigTables{};
    launcher().paths = saved_;
    removeTree(scratch_);
  }

  // Makes the media file the "executable" with the given section and keys.
  void useMedia(const std::string& section, const std::string& count, const std::string& names) {
    ASSERT_TRUE(writeFile(media_, std::string(kSectionOffset, 'M') + section));
    launcher().paths.executablePath = media_;
    launcher().paths.executablePathComputed = true;
    launcher().config.narrow[2002] = count;
    launcher().config.narrow[2003] = names;
    launcher().config.includedFilesOffset = kSectionOffset;
  }

  static const std::vector<std::string>& files() { return launcher().extraction.extractedFiles; }
  static const std::vector<std::string>& dirs() { return launcher().extraction.extractedDirs; }

  PrivateCurrentUser registry_;
  PathCache saved_;
  std::string scratch_, media_;
};

}  // namespace

TEST_F(Extraction, NothingIncludedMakesNoDirectory) {
  for (const char* count : {"0", "", "-3"}) {
    CapturedLog log;
    launcher().config.narrow[2002] = count;
    std::string out = "stale";
    EXPECT_TRUE(extractIncludedFiles(out));
    EXPECT_EQ(out, "");
    EXPECT_TRUE(dirs().empty());
    std::vector<std::string> lines = log.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "extracting files");
    EXPECT_EQ(lines[1].rfind("Included files: ", 0), 0u);
    EXPECT_FALSE(hasLine(lines, "extracting files done"));
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

  // <temp>krnXXXX.tmp_dir<128 random bits>, and the temporary file itself is gone.
  std::string temp = getTempPath();
  ASSERT_EQ(out.rfind(temp, 0), 0u) << out;
  std::smatch m;
  std::string rest = out.substr(temp.size());
  ASSERT_TRUE(std::regex_match(rest, m, std::regex("(krn[0-9A-F]{1,4}\\.tmp)_dir[0-9a-f]{32}", std::regex::icase))) << out;
  EXPECT_FALSE(exists(temp + m[1].str()));

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
  EXPECT_TRUE(hasLine(lines, "Included files: 5"));
  EXPECT_TRUE(hasLine(lines, "Temp dir: " + out));
  EXPECT_TRUE(hasLine(lines, "extracting " + out + "\\f0.jar (size: 0)"));
  EXPECT_TRUE(hasLine(lines, "extracting " + out + "\\f3.jar (size: 8193)"));
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

TEST_F(Extraction, ANameThatWouldLeaveTheDirectoryIsAFailedExtraction) {
  std::string outside = getTempPath() + "krn_glue_escaped.txt";
  DeleteFileA(outside.c_str());
  // Which names are refused is the unit tier's; here: what a refusal does.
  const char* names[] = {"..\\krn_glue_escaped.txt", "c:krn_glue_escaped.txt", "CON"};
  for (const char* name : names) {
    std::string section;
    appendEntry(section, 5, "owned");
    useMedia(section, "1", name);
    CapturedLog log;
    std::string out;
    EXPECT_FALSE(extractIncludedFiles(out)) << name;
    EXPECT_FALSE(exists(outside)) << name;
    // The name is never registered (its path could be anywhere); the
    // directory is, so that it does not stay behind.
    EXPECT_TRUE(files().empty()) << name;
    EXPECT_EQ(dirs(), std::vector<std::string>{out}) << name;
    std::vector<std::string> lines = log.lines();
    EXPECT_EQ(lines.back(), "ERROR: Failed to extract " + out + "\\" + name);
    EXPECT_FALSE(hasLine(lines, "extracting files done"));
    TearDown();
    SetUp();
  }
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

  // At the next message or exit, both files and the directory are handed over.
  cleanupExtractedFiles();
  EXPECT_EQ(readListValue("delete_file").text(), out + "\\a.txt;" + out + "\\b.bin;");
  EXPECT_EQ(readListValue("delete_dir").text(), out + ";");
}

TEST_F(Extraction, CopyDescramblesOnlyWhenAsked) {
  std::string plain = pattern(2 * kExtractionCopyChunk + 3, 5);
  std::string source = scratch_ + "\\source.bin";
  ASSERT_TRUE(writeFile(source, plain));
  for (bool descramble : {false, true}) {
    std::string target = scratch_ + (descramble ? "\\descrambled.bin" : "\\copy.bin");
    HANDLE in = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE out = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(in, INVALID_HANDLE_VALUE);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(copyIncludedData(in, out, plain.size(), descramble));
    CloseHandle(in);
    CloseHandle(out);
    std::string expected = plain;
    if (descramble) scrambleIncludedBytes(reinterpret_cast<uint8_t*>(expected.data()), expected.size());
    EXPECT_TRUE(readFile(target) == expected) << descramble;
  }
}

TEST_F(Extraction, CleanupSchedulesFilesThenDirectoriesEveryTime) {
  registerExtractedFile("c:\\t\\krn1.tmp_dir2\\a.jar");
  registerExtractedFile("c:\\t\\krn1.tmp_dir2\\b.jar");
  registerExtractedDir("c:\\t\\krn1.tmp_dir2");
  cleanupExtractedFiles();
  cleanupExtractedFiles();  // a second message schedules them again
  EXPECT_EQ(readListValue("delete_file").text(),
            "c:\\t\\krn1.tmp_dir2\\a.jar;c:\\t\\krn1.tmp_dir2\\b.jar;c:\\t\\krn1.tmp_dir2\\a.jar;"
            "c:\\t\\krn1.tmp_dir2\\b.jar;");
  EXPECT_EQ(readListValue("delete_dir").text(), "c:\\t\\krn1.tmp_dir2;c:\\t\\krn1.tmp_dir2;");
  EXPECT_EQ(files().size(), 2u);  // the lists are kept
  launcher().extraction = ExtractionState{};  // nothing of this exists
}
