#include "files/temp_files_win.h"

#include <direct.h>

#include "common/system_library_win.h"
#include "config/log_win.h"
#include "config/messages_win.h"
#include "config/paths_win.h"
#include "files/temp_files.h"

namespace {

constexpr const char* kNoTempDirectoryText =
    "I am sorry, but you must be at least Poweruser to run this program.\n";
constexpr const char* kNoTempDirectoryCaption = "Error";

std::string getWindowsDirectory() {
  std::string dir(MAX_PATH, '\0');
  for (;;) {
    UINT n = GetWindowsDirectoryA(dir.data(), static_cast<UINT>(dir.size()));
    if (n == 0) return std::string();
    if (n < dir.size()) {
      dir.resize(n);
      return dir;
    }
    dir.assign(n, '\0');  // n is the size needed, terminator included
  }
}

}  // namespace

std::string getTempPath() {
  std::string path(MAX_PATH + 1, '\0');
  for (;;) {
    DWORD n = GetTempPathA(static_cast<DWORD>(path.size()), path.data());
    if (n == 0) return std::string();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.assign(n + 1, '\0');
  }
}

bool canWriteDirectory(const std::string& directory) {
  std::string test = writeTestPath(directory);
  _rmdir(test.c_str());  // left over from an earlier try
  if (_mkdir(test.c_str()) != 0) return false;
  bool writable = pathExists(test);
  _rmdir(test.c_str());
  return writable;
}

void chooseTempDirectory(std::string& out) {
  out = getTempPath();
  std::string longForm;
  if (!getLongPathName(out, longForm) || !needsTempFallback(longForm)) return;

  for (const std::string& candidate : tempFallbackCandidates(getWindowsDirectory())) {
    out = candidate;
    if (canWriteDirectory(out)) return;
  }
  if (canWriteDirectory("c:\\")) {
    out = "c:\\tmp";
    _mkdir(out.c_str());
    if (canWriteDirectory(out)) return;
  }
  ondemand::MessageBoxA(nullptr, kNoTempDirectoryText, kNoTempDirectoryCaption, MB_ICONERROR);
  exitLauncher(1);
}

bool createTempFileName(std::string& out) {
  std::string directory;
  chooseTempDirectory(directory);
  // The system writes at most MAX_PATH bytes here; a directory too long for
  // that makes the call fail instead.
  char name[MAX_PATH + 1] = {};
  if (GetTempFileNameA(directory.c_str(), kTempFilePrefix, 0, name) == 0) {
    logError("GetTempFileName failed in %s", directory.c_str());
    out.clear();
    return false;
  }
  name[MAX_PATH] = '\0';
  out = name;
  return true;
}

void processCommFileName(std::string& out, DWORD processId) {
  out = processCommFileNameIn(getTempPath(), processId);
}

std::vector<std::string> temporaryAreas() {
  std::vector<std::string> areas;
  std::string temp = getTempPath();
  if (!temp.empty()) {
    areas.push_back(temp);
    std::string longForm;
    if (getLongPathName(temp, longForm)) areas.push_back(longForm);
  }
  for (const std::string& candidate : tempFallbackCandidates(getWindowsDirectory())) areas.push_back(candidate);
  return areas;
}
