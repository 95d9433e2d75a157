#include "files/extraction_win.h"

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

  std::string tempFile;
  if (!createTempFileName(tempFile)) failInternal(kErrorNoDirectory);
  DeleteFileA(tempFile.c_str());
  // A name nobody can guess, a directory nobody else may enter, and one that
  // must be new: a directory or file planted under the name fails the
  // creation instead of being used.
  uint8_t random[kExtractionNameRandomBytes];
  if (!cryptoRandom(random, sizeof random)) {
    logError("no random bytes for the extraction directory's name");
    failInternal(kErrorNoDirectory);
  }
  out = extractionDirectoryName(tempFile, random, sizeof random);
  logInfo("Temp dir: %s", out.c_str());
  PrivateSecurity directorySecurity(true);
  if (!directorySecurity.valid()) {
    logError("no private access list for %s", out.c_str());
    failInternal(kErrorNoDirectory);
  }
  if (!CreateDirectoryA(out.c_str(), directorySecurity.attributes())) failInternal(kErrorNoDirectory);
  // Registered at once, so that a failed extraction does not leave the
  // directory behind for good.
  registerExtractedDir(out);
  static bool atExitRegistered = false;
  if (!atExitRegistered) atExitRegistered = std::atexit(cleanupAtExit) == 0;

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
  PrivateSecurity security(false);
  if (!security.valid()) failInternal(kErrorNoFile);
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, security.attributes(), CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
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

void registerExtractedFile(const std::string& path) {
  extractionState().extractedFiles.push_back(path);
}

void registerExtractedDir(const std::string& path) {
  extractionState().extractedDirs.push_back(path);
}

void cleanupExtractedFiles() {
  const ExtractionState& state = extractionState();
  for (const std::string& path : state.extractedFiles) scheduleFileDeletion(path);
  for (const std::string& path : state.extractedDirs) scheduleDirDeletion(path);
}
