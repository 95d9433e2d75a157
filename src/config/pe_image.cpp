#include "config/pe_image.h"

#include "config/config_block.h"

namespace {

constexpr uint16_t kPe32Magic = 0x10b;
constexpr uint16_t kPe32PlusMagic = 0x20b;
constexpr uint32_t kSecurityDirectory = 4;

}  // namespace

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
    // The data directories follow the fields of PE32 (magic 0x10b) or PE32+
    // (0x20b); the security directory is the fifth.
    uint16_t magic = readLe16(opt);
    size_t countField = magic == kPe32PlusMagic ? 108 : 92;
    size_t security = countField + 4 + kSecurityDirectory * 8;
    if ((magic == kPe32Magic || magic == kPe32PlusMagic) && optionalSize >= security + 8 &&
        size - peOffset - 24 >= security + 8 && readLe32(opt + countField) > kSecurityDirectory) {
      pe.certificateTableOffset = readLe32(opt + security);
      pe.certificateTableSize = readLe32(opt + security + 4);
    }
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

uint64_t appendedDataEnd(const PeLayout& pe, uint64_t fileSize) {
  if (pe.certificateTableSize == 0) return fileSize;
  uint64_t start = pe.certificateTableOffset;
  if (start < pe.imageEnd || start > fileSize) return fileSize;
  return start;
}
