#include "config/pe_image.h"

#include "config/config_block.h"

PeLayout parsePeLayout(const uint8_t* data, size_t size) {
  PeLayout pe;
  auto fail = [&](const char* why) {
    pe.ok = false;
    pe.error = why;
    return pe;
  };
  if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return fail("no MZ header");
  uint32_t peOffset = readLe32(data + 0x3c);
  if (peOffset > size || size - peOffset < 24) return fail("PE header offset out of range");
  const uint8_t* nt = data + peOffset;
  if (nt[0] != 'P' || nt[1] != 'E' || nt[2] != 0 || nt[3] != 0) return fail("no PE signature");
  pe.machine = readLe16(nt + 4);
  uint16_t sections = readLe16(nt + 6);
  uint16_t optionalSize = readLe16(nt + 20);
  if (sections == 0) return fail("no section headers");
  if (optionalSize >= 70) {
    const uint8_t* opt = nt + 24;
    if (size - peOffset - 24 < 70) return fail("optional header truncated");
    pe.subsystem = readLe16(opt + 68);
  }
  uint64_t table = uint64_t(peOffset) + 24 + optionalSize;
  uint64_t tableEnd = table + uint64_t(sections) * 40;
  if (tableEnd > size) return fail("section table truncated");
  pe.sections.reserve(sections);
  for (uint16_t i = 0; i < sections; ++i) {
    const uint8_t* header = data + table + uint64_t(i) * 40;
    pe.sections.push_back({readLe32(header + 16), readLe32(header + 20)});
  }
  pe.lastSectionRawSize = pe.sections.back().rawSize;
  pe.lastSectionRawPointer = pe.sections.back().rawPointer;
  pe.imageEnd = uint64_t(pe.lastSectionRawSize) + pe.lastSectionRawPointer;
  pe.headerBytesNeeded = size_t(tableEnd);
  pe.ok = true;
  return pe;
}
