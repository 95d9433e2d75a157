// The version resource (VERSIONINFO) of a PE image, read from the file's
// bytes: which launcher template, of which release, an executable was made
// from. Every offset and length in the file is checked before it is used, and
// every loop is bounded by the bytes it walks, so damaged or hostile input
// only ever gives "not found".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Values longer than this (in UTF-16 code units) are cut there.
inline constexpr size_t kMaxVersionValueUnits = 256;
// At most this many strings are kept from the string table.
inline constexpr size_t kMaxVersionStrings = 32;

struct VersionInfo {
  bool found = false;
  // Why nothing was found: no resource directory, no version resource, or
  // what is damaged.
  std::string error;
  // FILEVERSION of the fixed part: four 16-bit numbers, most significant
  // first.
  uint16_t fileVersion[4] = {0, 0, 0, 0};
  // The first string table's values ("OriginalFilename", "FileVersion",
  // ...), in file order.
  std::vector<std::pair<std::u16string, std::u16string>> strings;

  // The value of a string, empty when absent.
  std::u16string value(std::u16string_view name) const;
};

// Reads the version resource of the image in data[0, size): the resource
// directory's RT_VERSION entry, its first name and language, and the
// VS_VERSION_INFO tree in it. `size` may stop short of the file's end; what
// lies beyond it counts as missing.
VersionInfo readVersionInfo(const uint8_t* data, size_t size);

// Which template, of which release, the image was made from:
// "<OriginalFilename> <FileVersion>" of the string table, the four numbers
// of the fixed part when FileVersion is absent, the version alone when the
// name is; empty when no version resource was found.
std::u16string madeFrom(const VersionInfo& info);
