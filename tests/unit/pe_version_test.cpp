// The version resource reader on an image made up in memory: a resource
// section with the RT_VERSION tree as the resource compiler writes it. Every
// shorter file and every single damaged byte must be read safely (the tier
// runs under AddressSanitizer).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/pe_version.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, size_t at, uint16_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
void pad4(Bytes& b) { b.resize((b.size() + 3) & ~size_t(3), 0); }

// One VS_VERSION_INFO node: header, key, value and children, each part
// aligned to 4 bytes.
Bytes node(const std::u16string& key, const Bytes& value, uint16_t type, uint16_t valueLength,
           const std::vector<Bytes>& children = {}) {
  Bytes b(6, 0);
  for (char16_t c : key + u'\0') b.insert(b.end(), {uint8_t(c), uint8_t(c >> 8)});
  pad4(b);
  b.insert(b.end(), value.begin(), value.end());
  for (const Bytes& child : children) {
    pad4(b);
    b.insert(b.end(), child.begin(), child.end());
  }
  put16(b, 0, uint16_t(b.size()));
  put16(b, 2, valueLength);
  put16(b, 4, type);
  return b;
}

Bytes text(const std::u16string& key, const std::u16string& value) {
  Bytes v;
  for (char16_t c : value + u'\0') v.insert(v.end(), {uint8_t(c), uint8_t(c >> 8)});
  return node(key, v, 1, uint16_t(value.size() + 1));
}

Bytes versionBlob() {
  Bytes fixed(52, 0);
  put32(fixed, 0, 0xFEEF04BD);
  put32(fixed, 8, 0x00010002);   // 1.2
  put32(fixed, 12, 0x00030004);  // .3.4
  Bytes table = node(u"040904b0", {}, 1, 0,
                     {text(u"FileVersion", u"1.2.3"), text(u"OriginalFilename", u"kernosvc-x64.exe")});
  return node(u"VS_VERSION_INFO", fixed, 0, 52,
              {node(u"StringFileInfo", {}, 1, 0, {table}),
               node(u"VarFileInfo", {}, 1, 0, {node(u"Translation", {9, 4, 0xb0, 4}, 0, 4)})});
}

constexpr uint32_t kSectionRva = 0x1000;
constexpr size_t kSectionRaw = 0x200;

// MZ, PE32+ headers with 16 data directories, one section holding the
// resource directory (type 16, name 1, language 0x409) and the blob.
Bytes image() {
  Bytes blob = versionBlob();
  Bytes rsrc(0x58, 0);
  auto dir = [&](size_t at, uint32_t id, uint32_t target) {
    put16(rsrc, at + 14, 1);
    put32(rsrc, at + 16, id);
    put32(rsrc, at + 20, target);
  };
  dir(0x00, 16, 0x80000000u | 0x18);
  dir(0x18, 1, 0x80000000u | 0x30);
  dir(0x30, 0x409, 0x48);
  put32(rsrc, 0x48, kSectionRva + 0x58);
  put32(rsrc, 0x4c, uint32_t(blob.size()));
  rsrc.insert(rsrc.end(), blob.begin(), blob.end());

  Bytes b(kSectionRaw, 0);
  b[0] = 'M';
  b[1] = 'Z';
  put32(b, 0x3c, 0x80);
  b[0x80] = 'P';
  b[0x81] = 'E';
  put16(b, 0x84, 0x8664);
  put16(b, 0x86, 1);
  put16(b, 0x94, 0xF0);
  size_t opt = 0x98;
  put16(b, opt, 0x20b);
  put32(b, opt + 108, 16);
  put32(b, opt + 112 + 2 * 8, kSectionRva);
  put32(b, opt + 112 + 2 * 8 + 4, uint32_t(rsrc.size()));
  size_t section = opt + 0xF0;
  put32(b, section + 8, uint32_t(rsrc.size()));
  put32(b, section + 12, kSectionRva);
  put32(b, section + 16, uint32_t(rsrc.size()));
  put32(b, section + 20, kSectionRaw);
  b.insert(b.end(), rsrc.begin(), rsrc.end());
  return b;
}

TEST(PeVersion, ReadsTheFixedVersionAndTheStrings) {
  Bytes b = image();
  VersionInfo v = readVersionInfo(b.data(), b.size());
  ASSERT_TRUE(v.found) << v.error;
  EXPECT_EQ(std::vector<uint16_t>(v.fileVersion, v.fileVersion + 4), (std::vector<uint16_t>{1, 2, 3, 4}));
  EXPECT_EQ(v.value(u"OriginalFilename"), u"kernosvc-x64.exe");
  EXPECT_EQ(v.value(u"FileVersion"), u"1.2.3");
  EXPECT_EQ(v.value(u"Translation"), u"");  // VarFileInfo is no string table
  EXPECT_EQ(v.strings.size(), 2u);
}

TEST(PeVersion, AnImageWithoutAVersionResourceHasNone) {
  Bytes b = image();
  put32(b, 0x98 + 112 + 2 * 8 + 4, 0);  // resource directory size 0
  EXPECT_FALSE(readVersionInfo(b.data(), b.size()).found);
  b = image();
  put32(b, kSectionRaw + 16, 11);  // the type is RT_MESSAGETABLE, not RT_VERSION
  VersionInfo v = readVersionInfo(b.data(), b.size());
  EXPECT_FALSE(v.found);
  EXPECT_EQ(v.error, "no version resource");
}

TEST(PeVersion, ShortOrDamagedFilesAreReadSafely) {
  Bytes whole = image();
  // The blob ends the file, so no shorter file holds all of it.
  for (size_t size = 0; size < whole.size(); ++size) {
    Bytes cut(whole.begin(), whole.begin() + ptrdiff_t(size));
    EXPECT_FALSE(readVersionInfo(cut.data(), cut.size()).found) << size;
  }
  // Every byte set to each of a few values: found or not, nothing is read
  // outside the file and no value grows past its bound.
  for (size_t at = 0; at < whole.size(); ++at) {
    for (uint8_t value : {0x00, 0x01, 0x7f, 0xff}) {
      Bytes b = whole;
      b[at] = value;
      VersionInfo v = readVersionInfo(b.data(), b.size());
      EXPECT_LE(v.strings.size(), kMaxVersionStrings);
      for (const auto& [k, s] : v.strings) EXPECT_LE(k.size() + s.size(), 2 * kMaxVersionValueUnits);
    }
  }
}

}  // namespace
