// The start cache: one class-data archive per service and runtime, which the
// VM maps instead of loading and verifying the application's classes again at
// every start. Pure rules: which options a start gets, the archive's name and
// key, the seal that says an archive was written whole, and what the VM's own
// log says of it. The system side is launch/start_cache_win.cpp; the setting
// is key 30032 (config/service_settings).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The feature release of a runtime from the version its probe found:
// "1.8.0_292" gives 8, "17.0.2" 17, "21" 21, "19-ea" 19; 0 when the text does
// not start with a number (no cache for such a runtime).
int javaFeatureRelease(std::string_view version);

// Whether an option names one of the class-data options the cache sets
// (-XX:SharedArchiveFile, -XX:ArchiveClassesAtExit, -XX:[+-]AutoCreateSharedArchive,
// -XX:[+-]VerifySharedSpaces) or -Xshare: a description or start parameter
// that names any of them takes the archive into its own hands, and the cache
// stays out of that start.
bool namesClassDataOption(std::string_view option);

// What the launcher knows of the archive file before a start.
enum class ArchiveState {
  absent,   // no file under the current name
  current,  // the file and its seal agree (written whole by an earlier stop)
  unsealed  // a file without a matching seal: cut short, changed, or not ours
};

struct StartCacheInputs {
  bool enabled = false;          // key 30032 on
  int featureRelease = 0;        // javaFeatureRelease of the chosen runtime
  ArchiveState archive = ArchiveState::absent;
  std::string archivePath;       // where the archive is, or is to be written
  std::string vmLogPath;         // where the VM writes its class-data log lines
  std::vector<std::string> userOptions;  // every option not set by the launcher itself
};

enum class StartCacheUse {
  off,         // key 30032 off (or no archive directory)
  userOwned,   // the VM options name a class-data option themselves
  tooOld,      // a runtime before 13 (or of unknown version)
  use,         // map the current archive
  createAtExit,  // 13 to 18: no current archive; the VM writes one at its exit
  autoCreate   // 19 and later: the VM maps the archive, and writes it anew when it cannot
};

struct StartCachePlan {
  StartCacheUse use = StartCacheUse::off;
  std::vector<std::string> options;  // to go before the description's own VM options
  bool removeArchive = false;        // an unsealed file goes before the start
};

// The decision table: the runtime's release, the archive's state and the
// user's options give the options of this start.
//   off / userOwned / tooOld: nothing.
//   19+:   -Xshare:auto, -XX:+AutoCreateSharedArchive, -XX:SharedArchiveFile=<archive>.
//   13-18: -Xshare:auto and, with a current archive, -XX:SharedArchiveFile=<archive>,
//          otherwise -XX:ArchiveClassesAtExit=<archive>.
// An archive that is mapped is checked by the VM (-XX:+VerifySharedSpaces),
// and every cached start logs the VM's class-data lines to vmLogPath, so
// that a refusal is seen. An unsealed file is removed before the start.
StartCachePlan planStartCache(const StartCacheInputs& in);

// A name for the log: "off", "VM options name their own", "runtime before 13",
// "used", "created at the stop", "used or created by the VM".
std::string_view startCacheUseName(StartCacheUse use);

// --- The key and the names ----------------------------------------------------

// One file of the class path as the key sees it.
struct ClassPathFileFacts {
  std::string path;
  bool present = false;
  uint64_t size = 0;
  uint64_t lastWrite = 0;  // the system's file time
};

// The elements of a "-Djava.class.path=" option (or of a bare class path):
// split at `separator` (';' on Windows), empty elements left out.
std::vector<std::string> classPathElements(std::string_view classPathOption, char separator = ';');

// The archive's key: 16 hexadecimal digits of a 64-bit FNV-1a hash over the
// runtime's path (letters folded to lower case), the version its probe found
// and, in order, each class-path file's path, presence, size and time. Any
// change of these gives another key, and so another archive.
std::string startCacheKey(std::string_view runtimePath, std::string_view version,
                          const std::vector<ClassPathFileFacts>& files);

// "<service>-<key>.jsa": the service name with every character other than
// ASCII letters, digits, '.', '-' and '_' written as '_', at most 64 of them.
std::string startCacheArchiveName(std::string_view serviceName, std::string_view key);

// "kerno-start-cache-<service>", the service name written as in the archive's
// name: the directory of the service's archives under %ProgramData%.
std::string startCacheDirectoryName(std::string_view serviceName);

// Whether a directory entry is an archive of this service (any key), or its
// seal or VM log: the names the launcher may remove when the key changes.
bool isServiceCacheFile(std::string_view fileName, std::string_view serviceName);

// --- The seal -------------------------------------------------------------------

// The seal beside an archive: "<size> <time>" of the archive as the launcher
// found it after the VM wrote it. The VM writes its archive at its exit, into
// the file itself: a process ended meanwhile leaves a piece, which the VM may
// fail on. So an archive is used only when its seal matches, and the seal is
// made at the next start, when the VM's log of the run before says the
// archive was written whole.
std::string sealText(uint64_t size, uint64_t lastWrite);
bool sealMatches(std::string_view seal, uint64_t size, uint64_t lastWrite);

// --- What the VM said -------------------------------------------------------------

// The VM's class-data log (bounded by the caller) says that it could not use
// the archive it was given (cut short, a failed checksum, another runtime's).
bool vmRefusedArchive(std::string_view vmLog);
// The VM's class-data log says that it wrote the archive whole at its exit.
bool vmWroteArchive(std::string_view vmLog);

// The most of the VM's log the launcher reads.
inline constexpr std::size_t kMaxVmCacheLog = 256 * 1024;

// --- One start ----------------------------------------------------------------------

// What the cache needs of the system; the service process gives Win32 calls,
// the real-VM tier POSIX ones. Paths are joined with `separator`.
struct StartCacheSystem {
  char separator = '\\';
  char pathListSeparator = ';';  // between class-path elements
  // Size and time of a plain file; false when there is none.
  std::function<bool(const std::string& path, uint64_t& size, uint64_t& lastWrite)> fileFacts;
  // Whether anything (a file, a directory, a link) has the name.
  std::function<bool(const std::string& path)> exists;
  // At most `limit` bytes of a file; empty when it cannot be read.
  std::function<std::string(const std::string& path, std::size_t limit)> readFile;
  // A new private file with the text; false when it cannot be made.
  std::function<bool(const std::string& path, const std::string& text)> writeNewFile;
  std::function<void(const std::string& path)> removeFile;
  // The names in a directory (no more than the caller can use).
  std::function<std::vector<std::string>(const std::string& directory)> listDirectory;
  std::function<void(const std::string& line)> logInfo;
  std::function<void(const std::string& line)> logError;
};

struct StartCacheStart {
  bool enabled = false;           // key 30032 on
  std::string directory;          // the service's private directory (empty: off)
  std::string serviceName;
  std::string runtimePath;        // the chosen java executable
  std::string version;            // what its probe found
};

// What a start decided, for the look at the VM's log once it runs.
struct StartCacheRun {
  StartCacheUse use = StartCacheUse::off;
  std::string archive;
  std::string vmLog;
};

// Decides this start's options and puts them into `options` at `position`
// (where the options not set by the launcher itself begin): removes the
// service's files of other keys and an unsealed archive, seals one the VM
// wrote whole in the run before, and logs what it decided.
StartCacheRun prepareStartCache(const StartCacheSystem& sys, const StartCacheStart& start,
                                std::vector<std::string>& options, std::size_t position);

// Once the VM runs: when its log says it refused the archive, logs that the
// archive was not used and removes it with its seal, so that the next start
// makes a new one.
void checkStartCache(const StartCacheSystem& sys, const StartCacheRun& run);
