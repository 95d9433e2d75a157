// Names that may be written into the extraction directory, the scrambling of
// included files and the name list of key 2003.
#include "files/included_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct NameCase {
  std::string name;
  FileNameProblem problem;
};

void expectProblems(const std::vector<NameCase>& cases) {
  for (const NameCase& c : cases) {
    EXPECT_EQ(checkIncludedFileName(c.name), c.problem) << '"' << c.name << '"';
  }
}

}  // namespace

TEST(IncludedFileName, AcceptsPlainFileNames) {
  expectProblems({
      {"app.jar", FileNameProblem::none},
      {"a", FileNameProblem::none},
      {"lib-1.2.3.zip", FileNameProblem::none},
      {".hidden", FileNameProblem::none},
      {"...a", FileNameProblem::none},
      {"with space.jar", FileNameProblem::none},
      {"caf\xE9.jar", FileNameProblem::none},  // Windows-1252 e acute
      {std::string(kMaxIncludedFileNameBytes, 'x'), FileNameProblem::none},
      // Device names only count as the whole part before the first dot.
      {"CONSOLE.jar", FileNameProblem::none},
      {"ACON", FileNameProblem::none},
      {"COM10", FileNameProblem::none},
      {"LPT0.txt", FileNameProblem::none},
      {"nul_x.jar", FileNameProblem::none},
      {"x.CON", FileNameProblem::none},
  });
}

TEST(IncludedFileName, RefusesWhatWouldLeaveTheDirectory) {
  expectProblems({
      {"..\\evil.jar", FileNameProblem::separator},
      {"../evil.jar", FileNameProblem::separator},
      {"sub\\a.jar", FileNameProblem::separator},
      {"a/", FileNameProblem::separator},
      {"\\\\server\\share\\x", FileNameProblem::separator},
      {"\\", FileNameProblem::separator},
      {"..", FileNameProblem::dotName},
      {".", FileNameProblem::dotName},
      {"c:evil.jar", FileNameProblem::drive},
      {"C:", FileNameProblem::drive},
      {"a.jar:stream", FileNameProblem::drive},
  });
}

TEST(IncludedFileName, RefusesReservedDevicesWithAndWithoutExtension) {
  expectProblems({
      {"CON", FileNameProblem::reservedDevice},
      {"con", FileNameProblem::reservedDevice},
      {"Nul.txt", FileNameProblem::reservedDevice},
      {"PRN.jar.zip", FileNameProblem::reservedDevice},
      {"aux.", FileNameProblem::trailingDotOrSpace},  // refused either way
      {"COM1", FileNameProblem::reservedDevice},
      {"com9.log", FileNameProblem::reservedDevice},
      {"LPT1", FileNameProblem::reservedDevice},
      {"lpt5.x", FileNameProblem::reservedDevice},
      {"COM\xB9", FileNameProblem::reservedDevice},  // superscript one
      {"nul .txt", FileNameProblem::reservedDevice},
      {"CONIN$", FileNameProblem::reservedDevice},
      {"conout$.txt", FileNameProblem::reservedDevice},
  });
}

TEST(IncludedFileName, RefusesOtherNamesWindowsCannotKeep) {
  expectProblems({
      {"", FileNameProblem::empty},
      {std::string(kMaxIncludedFileNameBytes + 1, 'x'), FileNameProblem::tooLong},
      {"a;b.jar", FileNameProblem::listSeparator},
      {"a?.jar", FileNameProblem::invalidCharacter},
      {"a*.jar", FileNameProblem::invalidCharacter},
      {"a<b", FileNameProblem::invalidCharacter},
      {"a>b", FileNameProblem::invalidCharacter},
      {"a|b", FileNameProblem::invalidCharacter},
      {"a\"b", FileNameProblem::invalidCharacter},
      {std::string("a\0b", 3), FileNameProblem::invalidCharacter},
      {"a\tb", FileNameProblem::invalidCharacter},
      {"a.jar.", FileNameProblem::trailingDotOrSpace},
      {"a.jar ", FileNameProblem::trailingDotOrSpace},
  });
}

TEST(IncludedFileName, SameNameIgnoresAsciiCaseOnly) {
  EXPECT_TRUE(sameIncludedFileName("App.JAR", "app.jar"));
  EXPECT_TRUE(sameIncludedFileName("a", "a"));
  EXPECT_FALSE(sameIncludedFileName("a.jar", "a.jar2"));
  EXPECT_FALSE(sameIncludedFileName("\xE9.jar", "\xC9.jar"));  // not folded: code page dependent
}

TEST(IncludedFileScrambling, CombinesEveryByteWithTheKeyAtAnyLengthAndOffset) {
  // Lengths around the eight-byte steps, at every alignment of the start.
  std::vector<uint8_t> original(64 + 8);
  for (size_t i = 0; i < original.size(); ++i) original[i] = uint8_t(i * 37 + 11);
  for (size_t offset = 0; offset < 8; ++offset) {
    for (size_t length = 0; length <= 64; ++length) {
      std::vector<uint8_t> data = original;
      scrambleIncludedBytes(data.data() + offset, length);
      for (size_t i = 0; i < data.size(); ++i) {
        bool inside = i >= offset && i < offset + length;
        uint8_t expected = inside ? uint8_t(original[i] ^ kIncludedFileScrambleKey) : original[i];
        ASSERT_EQ(data[i], expected) << "offset " << offset << " length " << length << " byte " << i;
      }
      scrambleIncludedBytes(data.data() + offset, length);
      ASSERT_EQ(data, original) << "not its own inverse at offset " << offset << " length " << length;
    }
  }
}

TEST(IncludedFileScrambling, KeyIsTheDocumentedByte) {
  // The packer and every launcher must agree; docs/formats.md names it.
  EXPECT_EQ(kIncludedFileScrambleKey, 0xA7);
  uint8_t zip[4] = {'P', 'K', 3, 4};
  scrambleIncludedBytes(zip, sizeof zip);
  EXPECT_EQ(zip[0], 0xF7);
  EXPECT_EQ(zip[1], 0xEC);
  EXPECT_EQ(zip[2], 0xA4);
  EXPECT_EQ(zip[3], 0xA3);
}

// The copy loop over an input that may fail, end early or hand out more than
// asked, into an output that may fail: how it ends and what was written.
TEST(IncludedFileCopy, EndsAsTheInputAndOutputAllow) {
  struct Case {
    const char* what;
    size_t input;       // bytes the input holds
    size_t size;        // bytes asked for
    size_t failReadAt;  // the read starting at this offset fails (npos: none)
    size_t failWriteAt; // the write starting at this offset fails
    bool overReport;    // reads claim one byte more than asked
    CopyEnd end;
    size_t copied;
  };
  const size_t none = std::string::npos;
  const size_t piece = kIncludedCopyPiece;
  const Case cases[] = {
      {"nothing asked", 10, 0, none, none, false, CopyEnd::done, 0},
      {"several pieces", 2 * piece + 3, 2 * piece + 3, none, none, false, CopyEnd::done,
       2 * piece + 3},
      {"less than the input", 100, 40, none, none, false, CopyEnd::done, 40},
      {"input ends early", piece + 5, piece + 9, none, none, false, CopyEnd::inputEnded, piece + 5},
      {"read fails", 2 * piece, 2 * piece, piece, none, false, CopyEnd::readFailed, piece},
      {"write fails", 2 * piece, 2 * piece, none, piece, false, CopyEnd::writeFailed, piece},
      {"count beyond the buffer", 50, 50, none, none, true, CopyEnd::done, 50},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> input(c.input);
    for (size_t i = 0; i < input.size(); ++i) input[i] = uint8_t(i * 7 + 1);
    std::vector<uint8_t> output;
    size_t at = 0;
    auto read = [&](uint8_t* data, size_t want, size_t& got) {
      if (at == c.failReadAt) return false;
      got = std::min(want, input.size() - at);
      std::copy(input.begin() + ptrdiff_t(at), input.begin() + ptrdiff_t(at + got), data);
      at += got;
      if (c.overReport && got != 0) ++got;
      return true;
    };
    auto write = [&](const uint8_t* data, size_t count) {
      if (output.size() == c.failWriteAt) return false;
      output.insert(output.end(), data, data + count);
      return true;
    };
    std::vector<uint8_t> buffer;
    CopyOutcome r = copyIncludedBytes(c.size, buffer, true, read, write);
    EXPECT_EQ(r.end, c.end) << c.what;
    EXPECT_EQ(r.copied, c.copied) << c.what;
    std::vector<uint8_t> expected(input.begin(), input.begin() + ptrdiff_t(c.copied));
    for (uint8_t& b : expected) b ^= kIncludedFileScrambleKey;
    EXPECT_TRUE(output == expected) << c.what;
  }
}

TEST(IncludedFileNames, SplitLikeStrtok) {
  struct Case {
    const char* list;
    std::vector<std::string_view> names;
  } cases[] = {
      {"", {}},
      {";", {}},
      {"a.jar", {"a.jar"}},
      {"a.jar;b.jar", {"a.jar", "b.jar"}},
      {";;a.jar;;b.jar;", {"a.jar", "b.jar"}},
      {"a b;c", {"a b", "c"}},
  };
  for (const Case& c : cases) EXPECT_EQ(splitIncludedFileNames(c.list), c.names) << c.list;
}
