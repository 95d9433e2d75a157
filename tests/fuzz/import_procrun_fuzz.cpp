// Fuzzes the importer's readers of procrun settings: the first byte picks a
// registry file (reg export) or //IS// and //US// command lines; the rest is
// the source. Whatever the bytes, the import ends with fields or with an
// error that says why; neither the error nor the report can drive a terminal.
#include <cstdint>
#include <string_view>

#include "import_fuzz_checks.h"
#include "import/peer_import.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzRegistryOrScript(
      data, size, [](const RegExport& reg) { return importProcrunRegistry(reg); },
      [](std::string_view source) { return importProcrunScript(source); });
}
