// What every import fuzz target checks of a result.
#pragma once

#include <cstdlib>

#include "import/import_result.h"
#include "import/java_command.h"
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
