#include "jvm/win_loader_win.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/environment_win.h"
#include "common/sized_call_win.h"
#include "config/config_state.h"
#include "config/config_store.h"
#include "config/log_win.h"
#include "config/messages_win.h"
#include "config/paths_win.h"
#include "jvm/jvm_library_win.h"
#include "jvm/jvm_state.h"
#include "jvm/library_machine.h"
#include "jvm/library_machine_win.h"
#include "jvm/packed_runtime_win.h"
#include "jvm/variables_win.h"

namespace {

// The value of an environment variable; false when it is unset, empty or
// longer than kMaxEnvironmentValue.
bool readEnvironmentValue(const std::string& name, std::string& value) {
  if (!readEnvironmentVariable(name, value) || value.empty()) return false;
  if (value.size() > kMaxEnvironmentValue) {
    logInfo("%s is longer than %u characters", name.c_str(),
            static_cast<unsigned>(kMaxEnvironmentValue));
    return false;
  }
  return true;
}

// SearchPathA for java.exe in the system's standard search order, at any
// length.
bool searchPathForJava(std::string& out) {
  return callForText(out, [](char* buffer, DWORD capacity) {
    return SearchPathA(nullptr, "java.exe", nullptr, capacity, buffer, nullptr);
  });
}

}  // namespace

bool LoadDLL() {
  // Report-errors flag, provided location, provided-location-is-exe flag:
  // the launcher always searches itself.
  logInfo("LoadDLL (%d, %s, %d)", 1, "(null)", 0);
  std::string exe;
  std::string location;
  JvmLocationKind kind = searchJvm(exe, location);
  if (kind == JvmLocationKind::kindNone) {
    logError("No JVM found");
    std::string text = getConfigString(ConfigKey::MSG_NO_JVM);
    const JvmState& jvm = jvmState();
    if (!jvm.otherMachineRuntimes.empty()) {
      if (!text.empty()) text += "\r\n";
      text += otherMachineNote(static_cast<int>(jvm.otherMachineRuntimes.size()), jvm.otherMachine,
                               ownMachineType());
    }
    showMessage(text);
    return false;
  }
  logInfo("Trying to load JVM-DLL from %s", exe.c_str());
  HMODULE module = loadJvmLibrary(exe);
  setJvmHome(exe);
  jvmState().javaExe = exe;
  if (module == nullptr) logError("Could not get DLL-Handle.");
  bool resolved = resolveCreateJavaVM(module);
  if (!resolved) logError("Could not load functions");
  if (module != nullptr && resolved) {
    logInfo("Loading of JVM-DLL successful");
    return true;
  }
  LoadFailureMessage message = loadFailureMessage(kind);
  showMessageByKey(message.key, message.placeholder,
                   message.placeholder.empty() ? std::string_view() : location);
  return false;
}

JvmLocationKind searchJvm(std::string& exe, std::string& location) {
  logInfo("Searching for a JVM");
  std::string sequence = getConfigString(ConfigKey::jreSearchSequence);
  VersionBounds bounds{getConfigString(ConfigKey::minJavaVersion),
                       getConfigString(ConfigKey::maxJavaVersion)};

  std::string line;
  if (readLocationFile(line, kPreferredLocationFile)) {
    logInfo("Has preferred location %s", line.c_str());
    if (testLocation(exe, line, bounds, false)) {
      logInfo("Using preferred location");
      location = line;
      return JvmLocationKind::kindDefinedPath;
    }
  }

  const std::vector<SearchEntry> entries = splitSearchSequence(sequence);
  for (const SearchEntry& entry : entries) {
    logInfo("Testing location %s (type %c)", entry.argument.c_str(), entry.type);
    switch (entry.type) {
      case 'A':
      case 'B':
      case 'R':
        if (testLocation(exe, entry.argument, bounds, false)) {
          location = entry.argument;
          return JvmLocationKind::kindDefinedPath;
        }
        break;
      case 'E':
        if (testEnvironmentVariable(exe, entry.argument, bounds)) {
          location = entry.argument;
          return JvmLocationKind::kindEnvironmentVariable;
        }
        break;
      case 'S':
        if (testSearchPath(exe, bounds)) {
          location = entry.argument;
          return JvmLocationKind::kindSearchPath;
        }
        break;
      case 'Y':
        if (searchRegistry(exe, bounds)) return JvmLocationKind::kindRegistry;
        break;
      default: break;
    }
  }
  logInfo("Search sequence finished");

  std::string productHome(productHomeVariable(launcherFlavour()));
  if (!productHome.empty() && testEnvironmentVariable(exe, productHome, bounds)) {
    location = productHome;
    return JvmLocationKind::kindEnvironmentVariable;
  }

  if (readLocationFile(line, kInstallerLocationFile)) {
    logInfo("Has installer location %s", line.c_str());
    if (testLocation(exe, line, bounds, false)) {
      logInfo("Using installer location");
      location = line;
      return JvmLocationKind::kindDefinedPath;
    }
  }

  // Whatever its version, a runtime in a configured directory beats none.
  for (const SearchEntry& entry : entries) {
    if (!takesPartInFallback(entry)) continue;
    logInfo("Testing relative location %s", entry.argument.c_str());
    (void)testLocation(exe, entry.argument, bounds, true);
    if (pathExists(exe)) {
      logInfo("%s exists", exe.c_str());
      if (skipsOtherMachineRuntime(exe)) continue;
      location = entry.argument;
      return JvmLocationKind::kindDefinedPath;
    }
  }
  return JvmLocationKind::kindNone;
}

bool readLocationFile(std::string& line, const char* fileName) {
  std::string directory = resolvePath(getConfigString(ConfigKey::installationDirectory), false);
  if (directory.empty()) return false;
  std::string path = directory + fileName;
  std::FILE* file = std::fopen(path.c_str(), "rt");
  if (file == nullptr) return false;
  std::vector<char> buffer(kLocationLineBytes);
  bool read = std::fgets(buffer.data(), static_cast<int>(buffer.size()), file) != nullptr;
  std::fclose(file);
  if (!read) return false;
  // Something was read, so the result holds even when the line is empty.
  std::optional<std::string> first =
      locationFileLine(std::string_view(buffer.data(), strnlen(buffer.data(), buffer.size())));
  line = first ? *first : std::string();
  return true;
}

bool testLocation(std::string& exe, const std::string& directory, const VersionBounds& bounds,
                  bool skipProbe) {
  std::string home = resolvePath(directory, false);
  if (home.empty()) {
    // Not even a candidate: the fallback pass must not find one either.
    exe.clear();
    return false;
  }
  preparePackedJre(home);
  bool found = javaExeFromHome(exe, home);
  if (skipProbe) return true;
  std::string version;
  return found && checkJavaExe(exe, version, bounds, true);
}

bool testEnvironmentVariable(std::string& exe, const std::string& name,
                             const VersionBounds& bounds) {
  std::string value;
  if (!readEnvironmentValue(name, value)) return false;
  std::replace(value.begin(), value.end(), '/', '\\');
  // Not resolved here: checkJavaExe resolves the executable's path.
  if (!javaExeFromHome(exe, value)) return false;
  std::string version;
  return checkJavaExe(exe, version, bounds, false);
}

bool testSearchPath(std::string& exe, const VersionBounds& bounds) {
  std::string found;
  if (!searchPathForJava(found)) return false;
  // Any directory of PATH can supply it, so the log says which one did.
  std::size_t slash = found.find_last_of('\\');
  logInfo("java.exe found on the search path in %s",
          slash == std::string::npos ? found.c_str() : found.substr(0, slash).c_str());
  exe = found;
  std::string version;
  return checkJavaExe(exe, version, bounds, false);
}
