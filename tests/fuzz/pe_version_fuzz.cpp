// Fuzzes the version resource reader and the PE layout reader with
// arbitrary bytes: neither may read outside the input, and what they report
// stays inside its bounds.
#include <cstdint>
#include <cstdlib>

#include "config/pe_image.h"
#include "config/pe_version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  VersionInfo v = readVersionInfo(data, size);
  if (v.strings.size() > kMaxVersionStrings) std::abort();
  for (const auto& [key, value] : v.strings) {
    if (key.size() > kMaxVersionValueUnits || value.size() > kMaxVersionValueUnits) std::abort();
  }
  PeLayout pe = parsePeLayout(data, size);
  if (pe.ok) {
    uint64_t end = appendedDataEnd(pe, size);
    if (end > size || (pe.imageEnd <= size && end < pe.imageEnd)) std::abort();
  }
  return 0;
}
