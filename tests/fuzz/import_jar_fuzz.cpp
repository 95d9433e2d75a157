// Fuzzes the importer's reader of jar manifests (a zip archive named by
// -jar). Whatever the bytes, it ends with a manifest or an error that says
// why, and never reads outside the archive.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "import/jar_manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string zip(reinterpret_cast<const char*>(data), size);
  JarManifest m = readJarManifest(zip.size(), [&zip](uint64_t at, size_t n, std::string& out) {
    if (at > zip.size() || n > zip.size() - at) return false;
    out = zip.substr(size_t(at), n);
    return true;
  });
  if (m.ok == !m.error.empty()) std::abort();
  return 0;
}
