// Fuzzes the importer's reader of WinSW configurations (XML from another
// tool). Whatever the bytes, the import ends with fields or with an error
// that says why; neither the error nor the report can drive a terminal.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "import_fuzz_checks.h"
#include "import/peer_import.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view xml(reinterpret_cast<const char*>(data), size);
  checkImportResult(importWinsw(xml, fuzzJarReader()));
  return 0;
}
