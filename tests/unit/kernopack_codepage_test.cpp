// Text conversions of the packer: the built-in Windows-1252 table, the
// system's code pages, and UTF-8/UTF-16.
#include <gtest/gtest.h>

#include "codepage.h"

namespace {

// --- Windows-1252 table ---------------------------------------------------

TEST(KernopackCp1252, EveryByteSurvivesARoundTrip) {
  for (int b = 0; b < 256; ++b) {
    std::string bytes(1, char(b));
    Decoded d = decodeNarrow(bytes, 1252);
    ASSERT_TRUE(d.ok) << b;
    Encoded e = encodeNarrow(d.utf8, 1252);
    ASSERT_TRUE(e.ok) << b;
    EXPECT_EQ(e.bytes, bytes) << b;
  }
}

TEST(KernopackCp1252, MapsTheSpecialRangeAndTheUndefinedBytes) {
  struct Case {
    unsigned char byte;
    char32_t unicode;
  } cases[] = {
      {0x00, 0x0000}, {0x41, 0x0041}, {0x7F, 0x007F}, {0x80, 0x20AC}, {0x8A, 0x0160},
      {0x9F, 0x0178}, {0xA0, 0x00A0}, {0xFF, 0x00FF},
      // Undefined in the code page; Windows maps them through as C1 controls.
      {0x81, 0x0081}, {0x8D, 0x008D}, {0x8F, 0x008F}, {0x90, 0x0090}, {0x9D, 0x009D},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cp1252ToUnicode(c.byte), c.unicode) << int(c.byte);
    EXPECT_EQ(unicodeToCp1252(c.unicode), c.byte) << int(c.byte);
  }
}

TEST(KernopackCp1252, RefusesCharactersWithoutAByteAndNamesTheirPosition) {
  struct Case {
    const char* utf8;
    size_t position;  // 1-based, in characters
    char32_t character;
  } cases[] = {
      {"\xC2\x80", 1, 0x80},                 // C1 control that Windows-1252 replaces by the euro sign
      {"ab\xC4\x80", 3, 0x100},              // Latin Extended-A
      {"a\xC3\xA9\xE4\xB8\xAD", 3, 0x4E2D},  // position counts characters, not bytes
      {"\xE2\x82\xAC\xF0\x9F\x98\x80", 2, 0x1F600},
  };
  for (const Case& c : cases) {
    Encoded e = encodeNarrow(c.utf8, 1252);
    EXPECT_FALSE(e.ok) << c.utf8;
    EXPECT_EQ(e.position, c.position) << c.utf8;
    EXPECT_EQ(e.character, c.character) << c.utf8;
  }
}

// --- UTF-8 and UTF-16 -----------------------------------------------------

TEST(KernopackUtf8, RefusesMalformedSequences) {
  struct Case {
    std::string text;
    size_t bad;
  } cases[] = {
      {"a\xC0\x80", 1},          // overlong NUL
      {"\xED\xA0\x80", 0},       // encoded surrogate
      {"ab\xE2\x82", 2},         // cut short
      {"\xC3(", 0},              // bad continuation byte
      {"\xF4\x90\x80\x80", 0},   // beyond U+10FFFF
      {"\xFF", 0},
  };
  for (const Case& c : cases) {
    std::u32string out;
    size_t bad = 99;
    EXPECT_FALSE(utf8ToCodePoints(c.text, out, bad));
    EXPECT_EQ(bad, c.bad);
    EXPECT_FALSE(encodeNarrow(c.text, 1252).ok);
  }
}

TEST(KernopackUtf16, ConvertsPairsAndRefusesUnpairedSurrogates) {
  std::u16string wide;
  size_t bad = 0;
  ASSERT_TRUE(utf8ToUtf16("a\xF0\x9F\x98\x80\xC3\xA9", wide, bad));
  EXPECT_EQ(wide, (std::u16string{u'a', 0xD83D, 0xDE00, 0xE9}));
  std::string back;
  ASSERT_TRUE(utf16ToUtf8(wide, back, bad));
  EXPECT_EQ(back, "a\xF0\x9F\x98\x80\xC3\xA9");

  struct Case {
    std::u16string units;
    size_t bad;
  } cases[] = {
      {{u'x', 0xD800}, 1},
      {{0xDC00, u'x'}, 0},
      {{u'a', 0xD800, u'b'}, 1},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(utf16ToUtf8(c.units, back, bad));
    EXPECT_EQ(bad, c.bad);
  }
}

// --- Other code pages -----------------------------------------------------

TEST(KernopackCodePages, Utf8PassesThroughButMustBeValid) {
  Encoded e = encodeNarrow("\xE4\xB8\xAD", kCodePageUtf8);
  ASSERT_TRUE(e.ok);
  EXPECT_EQ(e.bytes, "\xE4\xB8\xAD");
  EXPECT_TRUE(decodeNarrow("\xE4\xB8\xAD", kCodePageUtf8).ok);
  Decoded d = decodeNarrow("ab\xE4", kCodePageUtf8);
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.offset, 2u);
}

TEST(KernopackCodePages, SystemCodePageEncodesAndDecodes) {
  std::string why;
  ASSERT_TRUE(codePageSupported(932, why)) << why;
  Encoded e = encodeNarrow("\xE6\x97\xA5\xE6\x9C\xAC", 932);  // two kanji
  ASSERT_TRUE(e.ok);
  EXPECT_EQ(e.bytes, "\x93\xFA\x96\x7B");
  Decoded d = decodeNarrow(e.bytes, 932);
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(d.utf8, "\xE6\x97\xA5\xE6\x9C\xAC");

  Encoded bad = encodeNarrow("a\xC3\xA9", 932);  // no e-acute in Shift-JIS
  EXPECT_FALSE(bad.ok);
  EXPECT_EQ(bad.position, 2u);
  EXPECT_EQ(bad.character, char32_t(0xE9));
}

TEST(KernopackCodePages, DecodingRefusesBytesThatDoNotComeBack) {
  // A lone lead byte does not decode; a duplicate mapping decodes to a
  // character that encodes to other bytes, so a rebuild would differ.
  Decoded lone = decodeNarrow("\x81", 932);
  EXPECT_FALSE(lone.ok);
  EXPECT_NE(lone.error.find("byte 1"), std::string::npos) << lone.error;
  Decoded dup = decodeNarrow("\xED\x40", 932);
  EXPECT_FALSE(dup.ok);
  EXPECT_NE(dup.error.find("convert back"), std::string::npos) << dup.error;
}

TEST(KernopackCodePages, UnknownCodePageIsReported) {
  std::string why;
  EXPECT_TRUE(codePageSupported(1252, why));
  EXPECT_TRUE(codePageSupported(65001, why));
  EXPECT_FALSE(codePageSupported(4242, why));
  EXPECT_NE(why.find("4242"), std::string::npos);
  Encoded e = encodeNarrow("a", 4242);
  EXPECT_TRUE(!e.ok && e.position == 0 && !e.error.empty());
  EXPECT_FALSE(decodeNarrow("a", 4242).ok);
}

}  // namespace
