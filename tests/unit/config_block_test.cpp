#include "config/config_block.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// Builds block bytes field by field, so tests can damage any part of it.
struct Bytes {
  std::vector<uint8_t> v;
  Bytes& i32(int32_t x) { appendLe32(v, uint32_t(x)); return *this; }
  Bytes& raw(const std::string& s) { v.insert(v.end(), s.begin(), s.end()); return *this; }
  Bytes& narrow(int32_t key, const std::string& s) { return i32(key).i32(int32_t(s.size())).raw(s); }
};

BlockParse parse(const std::vector<uint8_t>& v, uint64_t base = 1000) {
  return parseConfigBlock(v.data(), v.size(), v.size(), base);
}

TEST(ConfigBlock, RoundTripsRecordsAndRecordsWhereIncludedFilesBegin) {
  BlockRecords r;
  r.narrow = {{101, "Svc"}, {1009, "x %ERROR_CODE%"}, {146, ""}};
  r.wide = {{20017, u"d\u00e9sc"}, {20013, u""}};
  std::vector<uint8_t> bytes = serializeConfigBlock(r);
  bytes.push_back(0x55);  // first byte of the included-file section
  BlockParse p = parse(bytes, 4096);
  ASSERT_EQ(p.error, BlockError::none);
  EXPECT_EQ(p.tables.narrow.at(101), "Svc");
  EXPECT_EQ(p.tables.narrow.at(1009), "x %ERROR_CODE%");
  EXPECT_TRUE(p.tables.narrow.count(146));  // present and empty, not absent
  EXPECT_EQ(p.tables.wide.at(20017), u"d\u00e9sc");
  EXPECT_EQ(p.tables.includedFilesOffset, 4096 + bytes.size() - 1);
}

TEST(ConfigBlock, LaterRecordReplacesEarlierAndSectionsAreIndependent) {
  Bytes b;
  b.i32(int32_t(kConfigMagic)).i32(2).narrow(7, "first").narrow(7, "second");
  b.i32(1).i32(7).i32(2).raw(std::string("w\0", 2));
  BlockParse p = parse(b.v);
  ASSERT_EQ(p.error, BlockError::none);
  EXPECT_EQ(p.tables.narrow.at(7), "second");
  EXPECT_EQ(p.tables.wide.at(7), u"w");
}

TEST(ConfigBlock, ZeroOrNegativeCountsMeanNoRecords) {
  for (int32_t count : {0, -1, INT32_MIN}) {
    Bytes b;
    b.i32(int32_t(kConfigMagic)).i32(count).i32(count);
    BlockParse p = parse(b.v);
    EXPECT_EQ(p.error, BlockError::none) << count;
    EXPECT_TRUE(p.tables.narrow.empty());
    EXPECT_EQ(p.tables.includedFilesOffset, 1000u + 12);
  }
}

TEST(ConfigBlock, OddWideLengthKeepsWholeCodeUnitsAndConsumesAllBytes) {
  Bytes b;
  b.i32(int32_t(kConfigMagic)).i32(0).i32(1).i32(5).i32(3).raw(std::string("a\0b", 3));
  b.raw("X");
  BlockParse p = parse(b.v);
  ASSERT_EQ(p.error, BlockError::none);
  EXPECT_EQ(p.tables.wide.at(5), u"a");
  EXPECT_EQ(p.tables.includedFilesOffset, 1000u + b.v.size() - 1);
}

struct Damage {
  const char* what;
  Bytes bytes;
  BlockError expected;
};

TEST(ConfigBlock, DamagedBlocksFailWithTheReadThatCameShort) {
  const int32_t magic = int32_t(kConfigMagic);
  std::vector<Damage> cases = {
      {"empty", Bytes{}, BlockError::readInt},
      {"short magic", Bytes{}.raw("\xD5\x13"), BlockError::readInt},
      {"wrong magic", Bytes{}.i32(0x12345678).i32(0).i32(0), BlockError::magic},
      {"no narrow count", Bytes{}.i32(magic), BlockError::readInt},
      {"no wide count", Bytes{}.i32(magic).i32(0), BlockError::readInt},
      {"count beyond file", Bytes{}.i32(magic).i32(1000).i32(0), BlockError::readInt},
      {"huge count", Bytes{}.i32(magic).i32(INT32_MAX), BlockError::readInt},
      {"missing length", Bytes{}.i32(magic).i32(1).i32(101).raw("\0\0\0\0"), BlockError::readInt},
      {"text cut short", Bytes{}.i32(magic).i32(1).i32(101).i32(10).raw("abc"),
       BlockError::readString},
      {"negative length", Bytes{}.i32(magic).i32(1).i32(101).i32(-1).i32(0), BlockError::readString},
      {"length beyond file", Bytes{}.i32(magic).i32(1).i32(101).i32(INT32_MAX).i32(0),
       BlockError::readString},
      {"wide cut short", Bytes{}.i32(magic).i32(0).i32(1).i32(20017).i32(8).raw("ab"),
       BlockError::readWString},
      {"negative wide length", Bytes{}.i32(magic).i32(0).i32(1).i32(20017).i32(-2),
       BlockError::readWString},
  };
  for (const Damage& c : cases) {
    BlockParse p = parse(c.bytes.v);
    EXPECT_EQ(p.error, c.expected) << c.what;
    EXPECT_FALSE(p.needMore) << c.what;
  }
}

// The records read before the damage stay, so that the caption (key 1000)
// can be shown; the record that came short is not among them.
TEST(ConfigBlock, RecordsBeforeTheDamageAreKept) {
  const int32_t magic = int32_t(kConfigMagic);
  Bytes narrowCut;
  narrowCut.i32(magic).i32(3).narrow(101, "s").narrow(1000, "Error").i32(1001).i32(10).raw("abc");
  Bytes wideCut;
  wideCut.i32(magic).i32(1).narrow(1000, "Cap").i32(2).narrow(20013, std::string("a\0", 2));
  wideCut.i32(20017).i32(8).raw("ab");
  BlockParse p = parse(narrowCut.v);
  EXPECT_EQ(p.error, BlockError::readString);
  EXPECT_EQ(p.tables.narrow, (std::map<int32_t, std::string>{{101, "s"}, {1000, "Error"}}));
  p = parse(wideCut.v);
  EXPECT_EQ(p.error, BlockError::readWString);
  EXPECT_EQ(p.tables.narrow, (std::map<int32_t, std::string>{{1000, "Cap"}}));
  EXPECT_EQ(p.tables.wide, (std::map<int32_t, std::u16string>{{20013, u"a"}}));
}

TEST(ConfigBlock, AsksForMoreWhenTheFileHoldsMoreThanWasRead) {
  BlockRecords r;
  r.narrow = {{101, std::string(100, 'x')}};
  std::vector<uint8_t> bytes = serializeConfigBlock(r);
  BlockParse p = parseConfigBlock(bytes.data(), 20, bytes.size(), 0);
  EXPECT_TRUE(p.needMore);
  EXPECT_EQ(p.error, BlockError::readString);
  p = parseConfigBlock(bytes.data(), bytes.size(), bytes.size(), 0);
  EXPECT_EQ(p.error, BlockError::none);
}

TEST(ConfigBlock, FixedTexts) {
  EXPECT_STREQ(blockErrorText(BlockError::magic), "Internal Error: magic");
  EXPECT_STREQ(blockErrorText(BlockError::readInt), "Internal Error: readInt");
  EXPECT_STREQ(blockErrorText(BlockError::readString), "Internal Error: readString");
  EXPECT_STREQ(blockErrorText(BlockError::readWString), "Internal Error: readWString");
}

}  // namespace
