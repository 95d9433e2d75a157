#include "launch/variables_win.h"

#include <windows.h>

#include <cstring>

#include "common/launcher_state.h"
#include "files/paths_win.h"

std::vector<std::string> environmentSnapshot() {
  std::vector<std::string> entries;
  LPCH block = GetEnvironmentStringsA();
  if (block == nullptr) return entries;
  // The block ends with an empty entry.
  for (const char* entry = block; *entry != '\0'; entry += std::strlen(entry) + 1) {
    entries.emplace_back(entry);
  }
  FreeEnvironmentStringsA(block);
  return entries;
}

BuiltinValues currentBuiltinValues() {
  const LauncherState& state = launcher();
  return {appendExeRelative(""), state.extraction.extractionDirectory, state.jvm.jvmHome};
}

void expandVariables(std::string& text) {
  expandVariables(text, currentBuiltinValues(), environmentSnapshot());
}

void setJvmHome(const std::string& javaExe) {
  launcher().jvm.jvmHome = jvmHomeFromJavaExe(javaExe);
}
