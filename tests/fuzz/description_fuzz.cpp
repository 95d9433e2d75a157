// Fuzzes the packer's reader of service descriptions (JSON from the user).
// The first byte picks the code page of the narrow records (Windows-1252 or
// UTF-8); the rest is the description. Whatever the bytes, the reader ends
// with a block or an error text; a block it builds, turned back into a
// description by the packer's dump, must read back to the same records.
// Every included path the confinement accepts stays beneath the
// description's directory, and an error text escaped for the terminal holds
// no control character.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "io/codepage.h"
#include "config/config_block.h"
#include "description/description.h"
#include "files/included_files.h"
#include "io/terminal_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  unsigned codePage = (data[0] & 1) != 0 ? kCodePageUtf8 : kDefaultCodePage;
  std::string_view json(reinterpret_cast<const char*>(data + 1), size - 1);

  Description d = parseDescription(json, codePage);
  if (!d.ok) {
    if (d.error.empty()) std::abort();  // a refusal always says why
    for (char c : escapeForTerminal(d.error)) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) std::abort();
    }
    return 0;
  }
  for (const IncludedFile& file : d.includedFiles) {
    if (checkIncludedFileName(file.name) != FileNameProblem::none) std::abort();
    ConfinedPath confined = confineIncludedPath(file.path);
    if (confined.ok == confined.components.empty()) std::abort();
    for (const std::string& part : confined.components) {
      if (part.empty() || part == "." || part == ".." || part.find_first_of("/\\:") != std::string::npos) std::abort();
    }
  }

  std::vector<uint8_t> block = serializeConfigBlock(d.records);
  BlockParse parsed = parseConfigBlock(block.data(), block.size(), block.size(), 0);
  if (parsed.error != BlockError::none) std::abort();
  DescriptionText text = describeConfiguration(parsed.tables, d.launcher, codePage, !d.includedFiles.empty());
  if (!text.ok) return 0;  // a block can hold what JSON cannot show
  Description again = parseDescription(text.json, codePage);
  if (!again.ok || again.launcher != d.launcher || again.records.narrow != d.records.narrow ||
      again.records.wide != d.records.wide || again.includedFiles.size() != d.includedFiles.size()) {
    std::abort();
  }
  return 0;
}
