#include "jvm/variables_win.h"

#include <windows.h>

#include <cstring>

#include "common/environment_win.h"
#include "config/config_state.h"
#include "config/launch_settings.h"
#include "config/log_win.h"
#include "config/paths_win.h"
#include "config/service_settings.h"
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

namespace {

std::optional<std::string> environmentLookup(const std::string& name) {
  std::string value;
  if (!readEnvironmentVariable(name, value)) return std::nullopt;
  return value;
}

}  // namespace

bool expandVariablesAndPercentReferences(std::string& text, std::size_t maxBytes) {
  std::string expanded = text;
  expandVariables(expanded);
  if (!expandPercentReferences(expanded, environmentLookup, maxBytes)) return false;
  text = std::move(expanded);
  return true;
}

void applyConfiguredEnvironment() {
  const std::string* stored = storedSetting(configTables(), ConfigKey::environment);
  if (stored == nullptr) return;
  std::vector<EnvironmentEntry> entries;
  std::string why;
  if (!parseEnvironmentSetting(*stored, entries, why)) {
    logError("%s", damagedSettingLine(DamagedSetting{"environment", why}).c_str());
    return;
  }
  for (EnvironmentEntry& e : entries) {
    if (!expandPercentReferences(e.value, environmentLookup, kMaxEnvironmentValue)) {
      logError("environment: %s not set, its expanded value is longer than %u bytes", e.name.c_str(),
               static_cast<unsigned>(kMaxEnvironmentValue));
      continue;
    }
    // An empty value removes the variable.
    if (!SetEnvironmentVariableA(e.name.c_str(), e.value.empty() ? nullptr : e.value.c_str()) &&
        !(e.value.empty() && GetLastError() == ERROR_ENVVAR_NOT_FOUND)) {
      logError("environment: %s not set (error %lu)", e.name.c_str(), GetLastError());
      continue;
    }
    logInfo("environment: %s %s", e.value.empty() ? "removed" : "set", e.name.c_str());
  }
}

void setJvmHome(const std::string& javaExe) {
  jvmState().jvmHome = jvmHomeFromJavaExe(javaExe);
}
