#include "launch/start_cache_win.h"

#include <windows.h>

#include <atomic>
#include <cstring>

#include "common/environment_win.h"
#include "common/handles_win.h"
#include "config/access_rules_win.h"
#include "config/config_state.h"
#include "config/log_win.h"
#include "config/service_settings.h"
#include "jvm/jvm_state.h"
#include "launch/start_cache.h"

namespace {

// What this start decided, for the look after the VM's creation and for the
// seal at its exit. Written once on the service main thread before the VM
// exists; read afterwards.
struct StartCacheRun {
  StartCacheUse use = StartCacheUse::off;
  std::string archive;
  std::string seal;
  std::string vmLog;
};

StartCacheRun& run() {
  static StartCacheRun state;
  return state;
}

std::atomic<bool> g_active{false};

uint64_t fileTimeValue(const FILETIME& t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// Size and time of a plain file (not a link); false when there is none.
bool fileFacts(const std::string& path, uint64_t& size, uint64_t& lastWrite) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  lastWrite = fileTimeValue(data.ftLastWriteTime);
  return true;
}

// At most `limit` bytes of a file inside the private directory.
std::string readSmallFile(const std::string& path, std::size_t limit) {
  UniqueHandle file(openWithoutFollowing(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, false));
  if (!file) return {};
  std::string text(limit, '\0');
  DWORD got = 0;
  if (!ReadFile(file.get(), text.data(), static_cast<DWORD>(limit), &got, nullptr)) return {};
  text.resize(got);
  return text;
}

// Removes a file of the private directory; the VM writes its archives
// read-only.
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

// The service's cache files of other keys: left from another runtime or class path.
void removeOtherKeys(const std::string& directory, const std::string& serviceName,
                     const std::string& archiveName) {
  WIN32_FIND_DATAA found;
  UniqueFindHandle find(FindFirstFileA((directory + "\\*").c_str(), &found));
  if (!find) return;
  std::vector<std::string> names;
  do {
    std::string name = found.cFileName;
    if (isServiceCacheFile(name, serviceName) && name.compare(0, archiveName.size(), archiveName) != 0) {
      names.push_back(name);
    }
  } while (names.size() < 64 && FindNextFileA(find.get(), &found));
  for (const std::string& name : names) {
    logInfo("start cache: removing %s, made for another runtime or class path", name.c_str());
    removeCacheFile(directory + "\\" + name);
  }
}

std::vector<ClassPathFileFacts> classPathFacts(const std::vector<std::string>& options) {
  std::vector<ClassPathFileFacts> facts;
  for (const std::string& option : options) {
    if (option.rfind("-Djava.class.path=", 0) != 0) continue;
    for (const std::string& element : classPathElements(option)) {
      ClassPathFileFacts f;
      f.path = element;
      WIN32_FILE_ATTRIBUTE_DATA data;
      if (GetFileAttributesExA(element.c_str(), GetFileExInfoStandard, &data)) {
        f.present = true;
        f.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        f.lastWrite = fileTimeValue(data.ftLastWriteTime);
      }
      facts.push_back(f);
    }
  }
  return facts;
}

ArchiveState archiveState(const std::string& archive, const std::string& seal) {
  uint64_t size = 0, lastWrite = 0;
  if (!fileFacts(archive, size, lastWrite)) {
    return GetFileAttributesA(archive.c_str()) == INVALID_FILE_ATTRIBUTES ? ArchiveState::absent
                                                                          : ArchiveState::unsealed;
  }
  return sealMatches(readSmallFile(seal, 64), size, lastWrite) ? ArchiveState::current
                                                               : ArchiveState::unsealed;
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
  if (!readServiceSettings(configTables(), damaged).startCache.value_or(false)) return;
  const JvmState& jvm = jvmState();
  auto version = jvm.acceptedVersions.find(jvm.javaExe);
  StartCacheInputs in;
  in.enabled = true;
  in.featureRelease = version == jvm.acceptedVersions.end() ? 0 : javaFeatureRelease(version->second);
  if (position > options.size()) position = options.size();
  in.userOptions.assign(options.begin() + static_cast<std::ptrdiff_t>(position), options.end());
  std::string why;
  std::string directory;
  bool wanted = in.featureRelease >= 13;
  for (const std::string& option : in.userOptions) wanted = wanted && !namesClassDataOption(option);
  if (wanted && (directory = startCacheDirectory(serviceName, true, why)).empty()) {
    logError("start cache: off for this start: %s", why.c_str());
    return;
  }
  std::string name;
  if (wanted) {
    name = startCacheArchiveName(
        serviceName, startCacheKey(jvm.javaExe, version->second, classPathFacts(options)));
    in.archivePath = directory + "\\" + name;
    in.vmLogPath = in.archivePath + ".log";
    in.archive = archiveState(in.archivePath, in.archivePath + ".seal");
    removeOtherKeys(directory, serviceName, name);
  }
  StartCachePlan plan = planStartCache(in);
  logInfo("start cache: %s%s%s", std::string(startCacheUseName(plan.use)).c_str(),
          in.archivePath.empty() ? "" : ": ", in.archivePath.c_str());
  if (plan.options.empty()) return;
  if (plan.removeArchive) {
    // Cut short by a stop that ended the process, or changed since: the VM
    // could fail on it. (A new archive never matches an old seal: its time
    // differs.)
    logInfo("start cache: %s was not sealed by an earlier stop; removed", in.archivePath.c_str());
    removeCacheFile(in.archivePath);
    removeCacheFile(in.archivePath + ".seal");
  }
  options.insert(options.begin() + static_cast<std::ptrdiff_t>(position), plan.options.begin(),
                 plan.options.end());
  StartCacheRun& r = run();
  r.use = plan.use;
  r.archive = in.archivePath;
  r.seal = in.archivePath + ".seal";
  r.vmLog = in.vmLogPath;
  g_active.store(true);
}

void checkStartCacheAfterCreate() {
  if (!g_active.load()) return;
  StartCacheRun& r = run();
  if (!vmRefusedArchive(readSmallFile(r.vmLog, kMaxVmCacheLog))) return;
  logError("start cache: the VM did not use %s (see %s); removed, a new one is made",
           r.archive.c_str(), r.vmLog.c_str());
  removeCacheFile(r.seal);
  removeCacheFile(r.archive);
}

void sealStartCacheAtExit() {
  if (!g_active.exchange(false)) return;
  StartCacheRun& r = run();
  if (!vmWroteArchive(readSmallFile(r.vmLog, kMaxVmCacheLog))) return;
  uint64_t size = 0, lastWrite = 0;
  if (!fileFacts(r.archive, size, lastWrite)) return;
  removeCacheFile(r.seal);
  UniqueHandle file(createNewPrivateFile(r.seal, GENERIC_WRITE, 0));
  if (!file) return;
  std::string text = sealText(size, lastWrite);
  DWORD written = 0;
  WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::vector<StartCacheFile> startCacheFiles(const std::string& serviceName) {
  std::vector<StartCacheFile> files;
  std::string why;
  std::string directory = startCacheDirectory(serviceName, false, why);
  if (directory.empty()) return files;
  WIN32_FIND_DATAA found;
  UniqueFindHandle find(FindFirstFileA((directory + "\\*.jsa").c_str(), &found));
  if (!find) return files;
  do {
    if (!isServiceCacheFile(found.cFileName, serviceName)) continue;
    files.push_back({directory + "\\" + found.cFileName,
                     (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow});
  } while (files.size() < 16 && FindNextFileA(find.get(), &found));
  return files;
}
