#include "launch/start_cache_win.h"

#include <windows.h>

#include "common/environment_win.h"
#include "common/handles_win.h"
#include "config/access_rules_win.h"
#include "config/config_state.h"
#include "config/log_win.h"
#include "config/service_settings.h"
#include "jvm/jvm_state.h"
#include "launch/start_cache.h"

namespace {

StartCacheRun g_run;

uint64_t fileTimeValue(const FILETIME& t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// Size and time of a plain file (not a directory, link or junction).
bool fileFacts(const std::string& path, uint64_t& size, uint64_t& lastWrite) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  lastWrite = fileTimeValue(data.ftLastWriteTime);
  return true;
}

std::string readSmallFile(const std::string& path, std::size_t limit) {
  UniqueHandle file(openWithoutFollowing(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, false));
  if (!file) return {};
  std::string text(limit, '\0');
  DWORD got = 0;
  if (!ReadFile(file.get(), text.data(), static_cast<DWORD>(limit), &got, nullptr)) return {};
  text.resize(got);
  return text;
}

bool writeNewFile(const std::string& path, const std::string& text) {
  UniqueHandle file(createNewPrivateFile(path, GENERIC_WRITE, 0));
  DWORD written = 0;
  return file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

// The VM writes its archives read-only.
void removeCacheFile(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
  if (!DeleteFileA(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    logError("start cache: cannot remove %s (error %lu)", path.c_str(),
             static_cast<unsigned long>(GetLastError()));
  }
}

std::vector<std::string> listDirectory(const std::string& directory) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  UniqueFindHandle find(FindFirstFileA((directory + "\\*").c_str(), &found));
  if (!find) return names;
  do {
    names.emplace_back(found.cFileName);
  } while (names.size() < 256 && FindNextFileA(find.get(), &found));
  return names;
}

const StartCacheSystem& cacheSystem() {
  static const StartCacheSystem sys = [] {
    StartCacheSystem s;
    s.separator = '\\';
    s.fileFacts = fileFacts;
    s.exists = [](const std::string& path) {
      return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    };
    s.readFile = readSmallFile;
    s.writeNewFile = writeNewFile;
    s.removeFile = removeCacheFile;
    s.listDirectory = listDirectory;
    s.logInfo = [](const std::string& line) { logInfo("%s", line.c_str()); };
    s.logError = [](const std::string& line) { logError("%s", line.c_str()); };
    return s;
  }();
  return sys;
}

// Whether an existing directory is the service's own: a directory, not a
// link or junction, and nobody but this account, SYSTEM and the
// administrators may write to it.
bool directoryIsOwn(const std::string& directory, std::string& why) {
  UniqueHandle handle(openWithoutFollowing(directory, FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, true));
  if (!handle) {
    why = directory + " is not a plain directory";
    return false;
  }
  std::string own;
  DirectoryAccess access;
  if (!processAccountSid(own) || !readAccess(directory, access)) {
    why = "cannot read the access list of " + directory;
    return false;
  }
  std::vector<std::string> writers = untrustedWriters(access, own, PlaceKind::directory);
  if (!writers.empty()) {
    why = unsafeDirectoryWarning(directory, writers, PlaceKind::directory);
    return false;
  }
  return true;
}

}  // namespace

std::string startCacheDirectory(const std::string& serviceName, bool create, std::string& why) {
  std::string base = environmentValue("ProgramData");
  if (base.size() < 3 || base[1] != ':' || base[2] != '\\') {
    why = "no absolute %ProgramData% directory";
    return {};
  }
  if (base.back() == '\\') base.pop_back();
  std::string directory = base + "\\" + startCacheDirectoryName(serviceName);
  if (create) {
    PrivateSecurity security(true);
    if (!security.valid()) {
      why = "no private access list for " + directory;
      return {};
    }
    if (CreateDirectoryA(directory.c_str(), security.attributes())) return directory;
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
      why = "cannot create " + directory + " (error " + std::to_string(GetLastError()) + ")";
      return {};
    }
  }
  if (!directoryIsOwn(directory, why)) return {};
  return directory;
}

void applyStartCache(std::vector<std::string>& options, std::size_t position,
                     const std::string& serviceName) {
  std::vector<DamagedSetting> damaged;
  StartCacheStart start;
  start.enabled = readServiceSettings(configTables(), damaged).startCache.value_or(false);
  if (!start.enabled) return;
  const JvmState& jvm = jvmState();
  auto version = jvm.acceptedVersions.find(jvm.javaExe);
  start.serviceName = serviceName;
  start.runtimePath = jvm.javaExe;
  if (version != jvm.acceptedVersions.end()) start.version = version->second;
  std::string why;
  if (javaFeatureRelease(start.version) >= 13) {
    start.directory = startCacheDirectory(serviceName, true, why);
    if (start.directory.empty()) logError("start cache: off for this start: %s", why.c_str());
  }
  g_run = prepareStartCache(cacheSystem(), start, options, position);
}

void checkStartCacheAfterCreate() { checkStartCache(cacheSystem(), g_run); }

std::vector<StartCacheFile> startCacheFiles(const std::string& serviceName) {
  std::vector<StartCacheFile> files;
  std::string why;
  std::string directory = startCacheDirectory(serviceName, false, why);
  if (directory.empty()) return files;
  for (const std::string& name : listDirectory(directory)) {
    uint64_t size = 0, lastWrite = 0;
    std::string path = directory + "\\" + name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".jsa") == 0 &&
        isServiceCacheFile(name, serviceName) && fileFacts(path, size, lastWrite)) {
      files.push_back({path, size});
    }
  }
  return files;
}
