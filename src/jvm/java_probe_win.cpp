// The probe of one candidate and the registry searches. The rules (version
// bounds, banner, key names, which key wins) are in jvm/version_rules.cpp
// and jvm/runtime_layout.cpp; this file asks the system and logs each step.
#include "jvm/java_probe_win.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/sized_call_win.h"
#include "config/config_store.h"
#include "config/log_win.h"
#include "config/paths_win.h"
#include "files/extraction_win.h"
#include "files/temp_files.h"
#include "jvm/jvm_state.h"
#include "jvm/library_machine_win.h"
#include "jvm/runtime_layout.h"
#include "jvm/version_rules.h"

namespace {

// A child that was terminated after the probe's time limit still holds the
// output file until it is gone; give it this long before the file is deleted.
constexpr DWORD kTerminatedChildWaitMs = 5000;

UniqueRegKey openKeyForReading(HKEY root, const std::string& name) {
  HKEY raw = nullptr;
  if (RegOpenKeyExA(root, name.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS) return {};
  return UniqueRegKey(raw);
}

// One text value of an open key, at most `capacity` bytes with its
// terminator; a value stored without a terminator is terminated after its
// last byte when there is room for it.
bool queryRegistryText(HKEY key, const char* valueName, std::size_t capacity, std::string& out) {
  std::string buffer(capacity, '\0');
  DWORD size = static_cast<DWORD>(capacity);
  if (RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
                       &size) != ERROR_SUCCESS) {
    return false;
  }
  buffer.resize(std::min<std::size_t>(size, capacity));
  std::size_t end = buffer.find('\0');
  if (end == std::string::npos) {
    if (buffer.size() >= capacity) return false;
    end = buffer.size();
  }
  buffer.resize(end);
  out = std::move(buffer);
  return true;
}

// Every subkey name of an open key that fits kRegistryNameBytes, in the
// order the registry gives them; a longer name is passed over.
std::vector<std::string> subkeyNames(HKEY key) {
  std::vector<std::string> names;
  std::vector<char> name(kRegistryNameBytes);
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    LONG rc = RegEnumKeyExA(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) break;  // ERROR_NO_MORE_ITEMS, or a failure that would repeat
    names.emplace_back(name.data(), std::min<std::size_t>(length, name.size()));
  }
  return names;
}

// The short (8.3) form of an existing path, at any length.
bool shortPathName(const std::string& path, std::string& out) {
  return callForText(out, [&](char* buffer, DWORD capacity) {
    return GetShortPathNameA(path.c_str(), buffer, capacity);
  });
}

}  // namespace

bool javaExeFromHome(std::string& exe, const std::string& home) {
  exe = home + "\\jre\\bin\\java.exe";
  if (getConfigInt(ConfigKey::requireJdk) != 0) return pathExists(home + "\\lib\\tools.jar");
  if (pathExists(exe)) return true;
  exe = home + "\\bin\\java.exe";
  return true;
}

bool checkJavaExe(std::string& exe, std::string& version, const VersionBounds& bounds,
                  bool allowBeta) {
  logInfo("checkJavaExe (%s, [out], %s, %s, %d)", exe.c_str(), bounds.minimum.c_str(),
          bounds.maximum.c_str(), allowBeta ? 1 : 0);
  exe = resolvePath(exe, false);
  bool allowPreRelease = allowBeta || getConfigInt(ConfigKey::allowBetaJre) != 0;
  bool result = false;
  FILETIME lastWrite{};
  if (exe.empty() || !findPath(exe, &lastWrite)) {
    logInfo("file doesn't exist");
  } else {
    logInfo("file exists");
    version.clear();
    if (readVersionCache(exe, lastWrite, version)) {
      logInfo("got version from registry %s", version.c_str());
      result = isVersionAccepted(version, bounds.minimum, bounds.maximum, allowPreRelease);
    } else if (runJavaVersion(exe, version)) {
      logInfo("got version from execution %s", version.c_str());
      writeVersionCache(exe, lastWrite, version);
      result = isVersionAccepted(version, bounds.minimum, bounds.maximum, allowPreRelease);
    } else {
      logInfo("couldn't get version");
    }
  }
  // A runtime of the other bitness would be chosen and then fail to load.
  if (result && skipsOtherMachineRuntime(exe)) result = false;
  if (result && getConfigInt(ConfigKey::executableType) == kExecutableTypeGui) {
    exe = javawFromJavaExe(exe);
    result = pathExists(exe);
    if (result) jvmState().acceptedVersions[exe] = version;
    return result;
  }
  if (result) jvmState().acceptedVersions[exe] = version;
  logInfo("checkJavaExe returning %d", result ? 1 : 0);
  return result;
}

bool readVersionCache(const std::string& exe, const FILETIME& lastWrite, std::string& version) {
  UniqueRegKey key = openKeyForReading(HKEY_CURRENT_USER, versionCacheKeyName(exe));
  if (!key) return false;
  BYTE stored[sizeof(FILETIME)];
  DWORD size = sizeof stored;
  if (RegQueryValueExA(key.get(), "LastWriteTime", nullptr, nullptr, stored, &size) !=
          ERROR_SUCCESS ||
      size != sizeof stored || std::memcmp(stored, &lastWrite, sizeof stored) != 0) {
    return false;
  }
  return queryRegistryText(key.get(), "Version", kRegistryTextBytes, version);
}

void writeVersionCache(const std::string& exe, const FILETIME& lastWrite,
                       const std::string& version) {
  HKEY raw = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, versionCacheKeyName(exe).c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &raw,
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  UniqueRegKey key(raw);
  // The version goes first: an entry cut short between the two writes then
  // keeps its old time, which no longer matches, instead of pairing the new
  // time with the old version.
  RegSetValueExA(key.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                 static_cast<DWORD>(version.size() + 1));
  RegSetValueExA(key.get(), "LastWriteTime", 0, REG_BINARY,
                 reinterpret_cast<const BYTE*>(&lastWrite), sizeof lastWrite);
}

// A new file in the launcher's private directory for the probe's output,
// its handle made inheritable for the child. Nobody else can open the file,
// plant one under its name or swap it before it is read back.
UniqueHandle createProbeOutputFile(std::string& name) {
  UniqueHandle file(createLauncherFile(probeOutputFileNameIn, kProbeOutputNameAttempts,
                                       GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, name));
  if (!file) return {};
  HANDLE inheritable = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), file.get(), GetCurrentProcess(), &inheritable, 0,
                       TRUE, DUPLICATE_SAME_ACCESS)) {
    return {};
  }
  return UniqueHandle(inheritable);
}

bool runJavaVersion(const std::string& exe, std::string& version) {
  // Should the short form be unavailable, the full path serves (quoted
  // below when it holds a blank).
  std::string program;
  if (!shortPathName(exe, program)) program = exe;
  std::string commandLine = versionCommandLine(program);

  std::string outputName;
  UniqueHandle output = createProbeOutputFile(outputName);
  if (!output) {
    if (!outputName.empty()) DeleteFileA(outputName.c_str());
    return false;
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdError = output.get();
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                      nullptr, nullptr, &startup, &info)) {
    output.reset();
    DeleteFileA(outputName.c_str());
    return false;
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);

  WaitForSingleObject(process.get(), kVersionProbeTimeoutMs);
  DWORD exitCode = STILL_ACTIVE;
  if (!GetExitCodeProcess(process.get(), &exitCode)) exitCode = STILL_ACTIVE;
  if (exitCode == STILL_ACTIVE) {
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), kTerminatedChildWaitMs);
  }
  process.reset();
  thread.reset();
  output.reset();

  bool found = false;
  if (exitCode == 0) {
    if (std::FILE* file = std::fopen(outputName.c_str(), "rt")) {
      char line[kBannerLineBytes];
      if (std::fgets(line, sizeof line, file) != nullptr) {
        if (auto parsed = parseVersionBanner(std::string_view(line, strnlen(line, sizeof line)))) {
          version = *parsed;
          found = true;
        }
      }
      std::fclose(file);
    }
  }
  DeleteFileA(outputName.c_str());
  return found;
}

bool readRegistryString(HKEY root, const std::string& subkey, const char* valueName,
                        std::size_t capacity, std::string& out) {
  UniqueRegKey key = openKeyForReading(root, subkey);
  return key && queryRegistryText(key.get(), valueName, capacity, out);
}

bool searchRegistry(std::string& exe, const VersionBounds& bounds) {
  std::string exeA, versionA, exeB, versionB;
  bool a = searchJavaSoft(exeA, versionA, bounds);
  bool b = searchLocatedJvms(exeB, versionB, bounds);
  if (a && b) {
    exe = compareVersionText(versionA, versionB) > 0 ? exeA : exeB;
  } else if (a) {
    exe = exeA;
  } else if (b) {
    exe = exeB;
  }
  return a || b;
}

bool searchJavaSoft(std::string& exe, std::string& version, const VersionBounds& bounds) {
  if (searchJavaSoftCurrentVersion(exe, version, bounds)) return true;
  if (getConfigInt(ConfigKey::requireJdk) == 0 &&
      searchJavaSoftVersions(exe, version, bounds, kJavaSoftJreKey)) {
    return true;
  }
  return searchJavaSoftVersions(exe, version, bounds, kJavaSoftJdkKey);
}

bool searchJavaSoftCurrentVersion(std::string& exe, std::string& version,
                                  const VersionBounds& bounds) {
  std::string jdk;
  if (!readRegistryString(HKEY_LOCAL_MACHINE, kJavaSoftJdkKey, "CurrentVersion",
                          kCurrentVersionBytes, jdk) ||
      !isVersionKeyInRange(jdk, bounds.minimum, bounds.maximum)) {
    jdk.clear();
  }
  std::string jre;
  if (getConfigInt(ConfigKey::requireJdk) != 0 ||
      !readRegistryString(HKEY_LOCAL_MACHINE, kJavaSoftJreKey, "CurrentVersion",
                          kCurrentVersionBytes, jre) ||
      !isVersionKeyInRange(jre, bounds.minimum, bounds.maximum)) {
    jre.clear();
  }
  std::string home;
  if (!readRegistryString(HKEY_LOCAL_MACHINE, currentVersionKeyName(jdk, jre), "JavaHome",
                          kRegistryTextBytes, home)) {
    return false;
  }
  return javaExeFromHome(exe, home) && checkJavaExe(exe, version, bounds, false);
}

bool searchJavaSoftVersions(std::string& exe, std::string& version, const VersionBounds& bounds,
                            const char* keyName) {
  UniqueRegKey key = openKeyForReading(HKEY_LOCAL_MACHINE, keyName);
  if (!key) return false;
  for (const std::string& name :
       versionKeysToProbe(subkeyNames(key.get()), bounds.minimum, bounds.maximum)) {
    UniqueRegKey versionKey = openKeyForReading(key.get(), name);
    if (!versionKey) continue;
    std::string home;
    if (!queryRegistryText(versionKey.get(), "JavaHome", kRegistryTextBytes, home)) continue;
    if (javaExeFromHome(exe, home) && checkJavaExe(exe, version, bounds, false)) return true;
  }
  return false;
}

bool searchLocatedJvms(std::string& exe, std::string& version, const VersionBounds& bounds) {
  std::string exeA, versionA, exeB, versionB;
  bool a = searchLocatedJvmsUnder(HKEY_CURRENT_USER, exeA, versionA, bounds);
  bool b = searchLocatedJvmsUnder(HKEY_LOCAL_MACHINE, exeB, versionB, bounds);
  bool userWins = a && (!b || compareVersionText(versionA, versionB) > 0);
  if (userWins) {
    exe = exeA;
    version = versionA;
  } else if (b) {
    exe = exeB;
    version = versionB;
  }
  return a || b;
}

bool searchLocatedJvmsUnder(HKEY root, std::string& exe, std::string& version,
                            const VersionBounds& bounds) {
  version.clear();
  UniqueRegKey key = openKeyForReading(root, kLocatedJvmsKey);
  if (!key) return false;
  bool taken = false;
  for (const std::string& name : subkeyNames(key.get())) {
    std::string path = locatedJvmPath(name);
    std::string candidate;
    if (checkJavaExe(path, candidate, bounds, true) && compareVersionText(candidate, version) > 0) {
      exe = path;
      version = candidate;
      taken = true;
    }
  }
  return taken;
}
