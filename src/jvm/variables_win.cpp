#include "jvm/variables_win.h"

#include <windows.h>

#include <cstring>

#include "config/paths_win.h"
#include "files/files_state.h"
#include "jvm/jvm_state.h"

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
  return {appendExeRelative(""), extractionState().extractionDirectory, jvmState().jvmHome};
}

void expandVariables(std::string& text) {
  expandVariables(text, currentBuiltinValues(), environmentSnapshot());
}

void setJvmHome(const std::string& javaExe) {
  jvmState().jvmHome = jvmHomeFromJavaExe(javaExe);
}
