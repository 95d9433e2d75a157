#include "files/extraction_win.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/handles_win.h"
#include "config/access_rules.h"
#include "config/access_rules_win.h"
#include "config/config_block.h"
#include "config/config_state.h"
#include "config/config_store.h"
#include "config/config_store_win.h"
#include "config/log_win.h"
#include "config/messages_win.h"
#include "files/deferred_deletion_win.h"
#include "files/files_state.h"
#include "files/included_files.h"
#include "files/temp_files.h"
#include "files/temp_files_win.h"

namespace {

// Internal error codes of this file.
constexpr const char* kErrorNoDirectory = "7";
constexpr const char* kErrorNoFile = "11";
constexpr const char* kErrorWriteFailed = "13";

[[noreturn]] void failInternal(const char* code) {
  fatalErrorByKey(ConfigKey::MSG_INTERNAL_ERROR, kPlaceholderErrorCode, code);
}

// The size field of an entry; the configuration store's integer reader
// fails the same way.
int32_t readSizeField(HANDLE media) {
  uint8_t bytes[4];
  DWORD got = 0;
  if (!ReadFile(media, bytes, sizeof bytes, &got, nullptr) || got != sizeof bytes) {
    if (got != sizeof bytes && GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_HANDLE_EOF);
    std::printf("error %lu\n", static_cast<unsigned long>(GetLastError()));
    std::fflush(stdout);
    fatalError(blockErrorText(BlockError::readInt));
  }
  return static_cast<int32_t>(readLe32(bytes));
}

// Normal ends of the process (a command's exit code returned from WinMain,
// the dispatcher returning) run no message and no exitLauncher, so the files
// are handed over from here as well.
void cleanupAtExit() { cleanupExtractedFiles(); }

void registerCleanupAtExit() {
  static bool registered = false;
  if (!registered) registered = std::atexit(cleanupAtExit) == 0;
}

}  // namespace

bool extractIncludedFiles(std::string& out) {
  registerExitDuty(ExitDuty::handOverExtractedFiles, cleanupExtractedFiles);
  logInfo("extracting files");
  int count = getConfigInt(ConfigKey::includedFileCount);
  logInfo("Included files: %d", count);
  out.clear();
  // A negative count names no file either; no directory is made for it.
  if (count <= 0) return true;

  UniqueHandle media = openMediaFile();
  LARGE_INTEGER offset;
  offset.QuadPart = static_cast<LONGLONG>(configTables().includedFilesOffset);
  if (!SetFilePointerEx(media.get(), offset, nullptr, FILE_BEGIN)) {
    logError("ReadFile failed");
    return false;
  }

  // A name nobody can guess or take in advance, a directory nobody else may
  // enter, and one that must be new: a directory or file planted under the
  // name costs another name, never the start.
  if (!createPrivateDirectory(out)) failInternal(kErrorNoDirectory);
  logInfo("Temp dir: %s", out.c_str());
  // Registered at once, so that a failed extraction does not leave the
  // directory behind for good.
  registerExtractedDir(out);
  registerCleanupAtExit();

  std::string names = getConfigString(ConfigKey::includedFileNames);
  int extracted = 0;
  for (std::string_view name : splitIncludedFileNames(names)) {
    if (extracted >= count) break;
    std::string path = out + "\\" + std::string(name);
    FileNameProblem problem = checkIncludedFileName(name);
    if (problem != FileNameProblem::none) {
      // Never written, so never registered: the path may lie anywhere.
      logError("included file name \"%.*s\" %s", static_cast<int>(name.size()), name.data(),
               fileNameProblemText(problem));
      logError("Failed to extract %s", path.c_str());
      return false;
    }
    // Before the attempt, so that a half-written file is cleaned up too.
    registerExtractedFile(path);
    if (!extractIncludedFile(media.get(), path)) {
      logError("Failed to extract %s", path.c_str());
      return false;
    }
    ++extracted;
  }
  media.reset();
  logInfo("extracting files done");
  return true;
}

bool extractIncludedFile(HANDLE media, const std::string& path) {
  int32_t size = readSizeField(media);
  logInfo("extracting %s (size: %d)", path.c_str(), size);
  // An empty entry still creates its (empty) file: an application that
  // carries an empty file expects to find it. Always a new file, with the
  // same private access list as its directory: nothing there beforehand is
  // written into or used.
  UniqueHandle file(createNewPrivateFile(path, GENERIC_WRITE, 0));
  if (!file) failInternal(kErrorNoFile);
  if (size <= 0) return true;
  return copyIncludedData(media, file.get(), static_cast<uint64_t>(size), true);
}

bool copyIncludedData(HANDLE src, HANDLE dst, uint64_t size, bool descramble) {
  std::vector<uint8_t> buffer;
  auto read = [src](uint8_t* data, size_t want, size_t& got) {
    DWORD n = 0;
    bool ok = ReadFile(src, data, static_cast<DWORD>(want), &n, nullptr) != 0;
    got = n;
    return ok;
  };
  auto write = [dst](const uint8_t* data, size_t count) {
    DWORD written = 0;
    for (size_t at = 0; at < count; at += written) {
      if (!WriteFile(dst, data + at, static_cast<DWORD>(count - at), &written, nullptr) ||
          written == 0)
        return false;
      if (written > count - at) written = static_cast<DWORD>(count - at);
    }
    return true;
  };
  switch (copyIncludedBytes(size, buffer, descramble, read, write).end) {
    case CopyEnd::done: return true;
    case CopyEnd::readFailed:
    case CopyEnd::inputEnded: logError("ReadFile failed"); return false;
    case CopyEnd::writeFailed: break;
  }
  logError("WriteFile failed");
  failInternal(kErrorWriteFailed);
}

namespace {

// Guards the three lists: registration may meet a stop's hand-over on
// another thread.
SRWLOCK gListsLock = SRWLOCK_INIT;

void appendLocked(std::vector<std::string>& list, const std::string& path) {
  AcquireSRWLockExclusive(&gListsLock);
  list.push_back(path);
  ReleaseSRWLockExclusive(&gListsLock);
}

}  // namespace

void registerExtractedFile(const std::string& path) { appendLocked(extractionState().extractedFiles, path); }

void registerExtractedDir(const std::string& path) { appendLocked(extractionState().extractedDirs, path); }

void registerLauncherFile(const std::string& path) {
  // A probe's output file is made, deleted and made again under one name:
  // listed once.
  AcquireSRWLockExclusive(&gListsLock);
  std::vector<std::string>& list = extractionState().launcherFiles;
  if (std::find(list.begin(), list.end(), path) == list.end()) list.push_back(path);
  ReleaseSRWLockExclusive(&gListsLock);
}

void cleanupExtractedFiles() {
  // Copied under the lock, scheduled outside it: scheduling may wait for the
  // deletion lists' mutex, and nobody should wait for that to register.
  AcquireSRWLockShared(&gListsLock);
  const ExtractionState& state = extractionState();
  std::vector<std::string> files = state.extractedFiles;
  files.insert(files.end(), state.launcherFiles.begin(), state.launcherFiles.end());
  std::vector<std::string> dirs = state.extractedDirs;
  ReleaseSRWLockShared(&gListsLock);
  for (const std::string& path : files) scheduleFileDeletion(path);
  for (const std::string& path : dirs) scheduleDirDeletion(path);
}

bool launcherWorkDirectory(std::string& out) {
  ExtractionState& state = extractionState();
  if (!state.extractionDirectory.empty()) {
    out = state.extractionDirectory;
    return true;
  }
  if (state.workDirectory.empty()) {
    std::string made;
    if (!createPrivateDirectory(made)) return false;
    logInfo("private directory: %s", made.c_str());
    state.workDirectory = made;
    registerExtractedDir(made);
    registerCleanupAtExit();
  }
  out = state.workDirectory;
  return true;
}

HANDLE createLauncherFile(std::string (*nameIn)(std::string_view directory, unsigned n), unsigned attempts,
                          DWORD access, DWORD share, std::string& path) {
  path.clear();
  std::string directory;
  if (!launcherWorkDirectory(directory)) return INVALID_HANDLE_VALUE;
  for (unsigned n = 0; n < attempts; ++n) {
    std::string name = nameIn(directory, n);
    HANDLE file = createNewPrivateFile(name, access, share);
    if (file != INVALID_HANDLE_VALUE) {
      registerLauncherFile(name);
      path = name;
      return file;
    }
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      logError("cannot create %s (error %lu)", name.c_str(), static_cast<unsigned long>(error));
      return INVALID_HANDLE_VALUE;
    }
  }
  logError("no free name for a file of the launcher in %s", directory.c_str());
  return INVALID_HANDLE_VALUE;
}
