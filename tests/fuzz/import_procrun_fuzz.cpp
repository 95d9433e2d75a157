// Fuzzes the importer's readers of procrun settings: the first byte picks a
// registry file (reg export) or //IS// and //US// command lines; the rest is
// the source. Whatever the bytes, the import ends with fields or with an
// error that says why; neither the error nor the report can drive a terminal.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "import_fuzz_checks.h"
#include "import/peer_import.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string_view source(reinterpret_cast<const char*>(data + 1), size - 1);
  if ((data[0] & 1) != 0) {
    RegExport reg = parseRegExport(source);
    if (!reg.ok && reg.error.empty()) std::abort();
    if (reg.ok) checkImportResult(importProcrunRegistry(reg));
  } else {
    checkImportResult(importProcrunScript(source));
  }
  return 0;
}
