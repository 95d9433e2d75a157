// PE images made up in memory: MZ header, PE signature at 0x80, file and
// optional headers (PE32+ for x64, PE32 otherwise), the given sections.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "config/pe_image.h"

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& b, size_t at, uint16_t v) { b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8); }
inline void put32(Bytes& b, size_t at, uint32_t v) { put16(b, at, uint16_t(v)), put16(b, at + 2, uint16_t(v >> 16)); }

// Sections as {raw size, raw pointer}, each at the address of its raw data;
// the bytes after the headers a pattern.
inline Bytes makePe(uint16_t machine, std::vector<std::pair<uint32_t, uint32_t>> sections, size_t fileSize) {
  Bytes b(fileSize, 0);
  for (size_t i = 0x200; i < fileSize; ++i) b[i] = uint8_t(i * 7 + 1);
  b[0] = 'M', b[1] = 'Z', b[0x80] = 'P', b[0x81] = 'E';
  bool plus = machine == kMachineAmd64;
  put32(b, 0x3c, 0x80), put16(b, 0x84, machine), put16(b, 0x86, uint16_t(sections.size()));
  put16(b, 0x94, plus ? 0xF0 : 0xE0), put16(b, 0x98, plus ? 0x20b : 0x10b), put16(b, 0x98 + 68, 3);
  for (size_t i = 0; i < sections.size(); ++i) {
    size_t s = 0x98 + (plus ? 0xF0 : 0xE0) + i * 40;
    put32(b, s + 12, sections[i].second), put32(b, s + 16, sections[i].first), put32(b, s + 20, sections[i].second);
  }
  return b;
}

// Names data directory `index` of a PE32+ image (2: resources, 4: certificates).
inline void setDirectory(Bytes& b, size_t index, uint32_t at, uint32_t size) {
  put32(b, 0x98 + 108, 16), put32(b, 0x98 + 112 + 8 * index, at), put32(b, 0x98 + 116 + 8 * index, size);
}
