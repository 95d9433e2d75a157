// What every import fuzz target checks of a result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "import/import_result.h"
#include "import/java_command.h"
#include "import/reg_export.h"
#include "io/terminal_text.h"

// A jar reader that finds a manifest for every jar.
inline JarReader fuzzJarReader() {
  return [](const std::string& jar, const std::vector<std::string>&) {
    JarManifest m;
    m.ok = jar.size() % 2 == 0;
    m.mainClass = jar.size() % 4 == 0 ? "" : "app.Main";
    m.classPath = {"lib/a.jar"};
    if (!m.ok) m.error = "not found";
    return m;
  };
}

inline void checkImportResult(const ImportResult& r) {
  if (r.ok == !r.error.empty()) std::abort();  // a refusal always says why, and only a refusal
  auto clean = [](const std::string& text) {
    for (char c : escapeForTerminal(text)) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) std::abort();
    }
  };
  clean(r.error);
  if (!r.ok) return;
  for (const std::string& line : importReportLines(r)) clean(line);
  (void)importedDescription(r).dump(2, ' ', false, ImportJson::error_handler_t::replace);
}

// The first byte picks a registry file (reg export) or command lines; the
// rest is the source, handed to `fromRegistry` or `fromScript`.
template <typename FromRegistry, typename FromScript>
int fuzzRegistryOrScript(const uint8_t* data, size_t size, FromRegistry fromRegistry, FromScript fromScript) {
  if (size == 0) return 0;
  std::string_view source(reinterpret_cast<const char*>(data + 1), size - 1);
  if ((data[0] & 1) != 0) {
    RegExport reg = parseRegExport(source);
    if (!reg.ok && reg.error.empty()) std::abort();
    if (reg.ok) checkImportResult(fromRegistry(reg));
  } else {
    checkImportResult(fromScript(source));
  }
  return 0;
}
