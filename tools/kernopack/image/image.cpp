#include "image/image.h"

#include "config/pe_image.h"

namespace {

std::string offsetText(uint64_t v) { return std::to_string(v); }

}  // namespace

ImageEnd locateImageEnd(const std::vector<uint8_t>& file) {
  return locateImageEnd(file.data(), file.size(), file.size());
}

ImageEnd locateImageEnd(const uint8_t* head, size_t headSize, uint64_t fileSize) {
  ImageEnd r;
  PeLayout pe = parsePeLayout(head, headSize);
  if (!pe.ok) {
    r.error = "not a PE file (" + pe.error + ")";
    return r;
  }
  if (pe.imageEnd < pe.headerBytesNeeded) {
    r.error = "the last section's raw data ends at offset " + offsetText(pe.imageEnd) +
              ", inside the headers";
    return r;
  }
  // The launcher takes the last section header's raw data as the end of the
  // image; a block written there must not overwrite another section.
  for (size_t i = 0; i + 1 < pe.sections.size(); ++i) {
    const PeSection& s = pe.sections[i];
    uint64_t end = uint64_t(s.rawPointer) + s.rawSize;
    if (s.rawSize != 0 && end > pe.imageEnd) {
      r.error = "section " + std::to_string(i + 1) + " ends at offset " + offsetText(end) +
                ", after the last section's raw data (offset " + offsetText(pe.imageEnd) + ")";
      return r;
    }
  }
  if (pe.imageEnd > fileSize) {
    r.error = "truncated: the last section's raw data ends at offset " + offsetText(pe.imageEnd) +
              " but the file has " + offsetText(fileSize) + " bytes";
    return r;
  }
  r.ok = true;
  r.machine = pe.machine;
  r.imageEnd = pe.imageEnd;
  r.dataEnd = appendedDataEnd(pe, fileSize);
  r.isSigned = pe.certificateTableSize != 0;
  return r;
}

ImageEnd checkTemplate(const std::vector<uint8_t>& file) {
  ImageEnd r = locateImageEnd(file);
  if (r.ok && r.isSigned) {
    r.ok = false;
    r.error = "is signed (its security directory names a certificate table); use an unsigned launcher "
              "template and sign the configured executable";
    return r;
  }
  if (!r.ok || r.imageEnd == file.size()) return r;
  r.ok = false;
  uint64_t extra = file.size() - r.imageEnd;
  bool block = extra >= 4 && readLe32(file.data() + r.imageEnd) == kConfigMagic;
  r.error = block ? "already carries a configuration block (at offset " + offsetText(r.imageEnd) +
                        "); use a launcher template"
                  : offsetText(extra) + " bytes follow the last section's raw data (offset " +
                        offsetText(r.imageEnd) + "); a launcher template must end there";
  return r;
}

std::vector<uint8_t> assembleExecutable(const std::vector<uint8_t>& templ, uint64_t imageEnd,
                                        const BlockRecords& records) {
  std::vector<uint8_t> block = serializeConfigBlock(records);
  std::vector<uint8_t> out(templ.begin(), templ.begin() + ptrdiff_t(imageEnd));
  out.insert(out.end(), block.begin(), block.end());
  size_t rest = out.size() % kFileAlignment;
  if (rest != 0) out.resize(out.size() + kFileAlignment - rest, 0);
  return out;
}

ConfiguredImage readConfiguredExecutable(const std::vector<uint8_t>& file) {
  return readConfiguredHead(file, file.size());
}

ConfiguredImage readConfiguredHead(const std::vector<uint8_t>& head, uint64_t fileSize) {
  ConfiguredImage r;
  ImageEnd end = locateImageEnd(head.data(), head.size(), fileSize);
  if (!end.ok) {
    r.error = end.error;
    return r;
  }
  r.machine = end.machine;
  r.blockOffset = end.imageEnd;
  r.dataEnd = end.dataEnd;
  if (end.imageEnd == end.dataEnd) {
    r.error = end.dataEnd == fileSize
                  ? "carries no configuration block: the file ends with the last section's raw data"
                  : "carries no configuration block: the certificate table follows the last section's raw data";
    return r;
  }
  if (end.imageEnd > head.size()) {
    r.needMore = true;
    return r;
  }
  size_t size = head.size() - size_t(end.imageEnd);
  if (uint64_t(size) > end.dataEnd - end.imageEnd) size = size_t(end.dataEnd - end.imageEnd);
  BlockParse parse = parseConfigBlock(head.data() + end.imageEnd, size, end.dataEnd - end.imageEnd, end.imageEnd);
  if (parse.needMore) {
    r.needMore = true;
    return r;
  }
  switch (parse.error) {
    case BlockError::none:
      break;
    case BlockError::magic:
      r.error = "carries no configuration block: no magic number at offset " +
                offsetText(end.imageEnd) + ", after the last section's raw data";
      return r;
    default:
      r.error = std::string("the configuration block at offset ") + offsetText(end.imageEnd) +
                " is damaged: the file ends inside it (" + blockErrorText(parse.error) + ")";
      return r;
  }
  r.tables = std::move(parse.tables);
  r.ok = true;
  return r;
}
