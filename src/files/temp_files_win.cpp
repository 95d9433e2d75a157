#include "files/temp_files_win.h"

#include <direct.h>

#include "common/code_page_win.h"
#include "common/hex_text.h"
#include "common/system_library_win.h"
#include "config/access_rules.h"
#include "config/access_rules_win.h"
#include "config/log_win.h"
#include "config/messages_win.h"
#include "config/paths_win.h"
#include "files/temp_files.h"

namespace {

constexpr const char* kNoTempDirectoryText =
    "I am sorry, but you must be at least Poweruser to run this program.\n";
constexpr const char* kNoTempDirectoryCaption = "Error";
// Random bytes in the name of a write test's directory.
constexpr size_t kWriteTestRandomBytes = 8;

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

// GetTempPath2W's answer in the file functions' code page, or empty when the
// system has no such function, gives nothing, names no existing directory,
// or names one that code page cannot show exactly.
std::string systemTempPath2() {
  using GetTempPath2Fn = DWORD(WINAPI*)(DWORD, LPWSTR);
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) return std::string();
  auto fn = reinterpret_cast<GetTempPath2Fn>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, "GetTempPath2W")));
  if (fn == nullptr) return std::string();
  std::wstring wide(MAX_PATH + 1, L'\0');
  for (int tries = 0; tries < 4; ++tries) {
    DWORD n = fn(static_cast<DWORD>(wide.size()), wide.data());
    if (n == 0) return std::string();
    if (n < wide.size()) {
      wide.resize(n);
      DWORD attrs = GetFileAttributesW(wide.c_str());
      if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY)) return std::string();
      std::string narrow;
      if (!narrowTextExact(wide, fileApiCodePage(), narrow)) return std::string();
      return narrow;
    }
    wide.assign(n + 1, L'\0');
  }
  return std::string();
}

}  // namespace

std::string getLegacyTempPath() {
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

std::string getTempPath() {
  std::string path = systemTempPath2();
  return path.empty() ? getLegacyTempPath() : path;
}

bool canWriteDirectory(const std::string& directory) {
  uint8_t random[kWriteTestRandomBytes];
  if (!cryptoRandom(random, sizeof random)) return false;
  std::string test = writeTestPath(directory, lowerHex(random, sizeof random));
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
  ondemand::MessageBoxA(nullptr, kNoTempDirectoryText, kNoTempDirectoryCaption, MB_ICONERROR);
  exitLauncher(1);
}

bool createPrivateDirectory(std::string& out, RandomSource random) {
  if (random == nullptr) random = cryptoRandom;
  out.clear();
  std::string directory;
  chooseTempDirectory(directory);
  PrivateSecurity security(true);
  if (!security.valid()) {
    logError("no private access list for a directory in %s", directory.c_str());
    return false;
  }
  for (unsigned attempt = 0; attempt < kPrivateDirectoryAttempts; ++attempt) {
    uint8_t bytes[kExtractionNameRandomBytes];
    if (!random(bytes, sizeof bytes)) {
      logError("no random bytes for a directory's name in %s", directory.c_str());
      return false;
    }
    std::string name = extractionDirectoryName(directory, bytes, sizeof bytes);
    if (CreateDirectoryA(name.c_str(), security.attributes())) {
      out = name;
      return true;
    }
    DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
      logError("cannot create the directory %s (error %lu)", name.c_str(), static_cast<unsigned long>(error));
      return false;
    }
    // Taken by chance or on purpose: never used, another name is drawn.
    logError("%s exists already; drawing another name", name.c_str());
  }
  logError("no free name for a directory in %s after %u tries", directory.c_str(), kPrivateDirectoryAttempts);
  return false;
}

std::vector<std::string> temporaryAreas() {
  std::vector<std::string> areas;
  for (const std::string& temp : {systemTempPath2(), getLegacyTempPath()}) {
    if (temp.empty()) continue;
    areas.push_back(temp);
    std::string longForm;
    if (getLongPathName(temp, longForm)) areas.push_back(longForm);
  }
  for (const std::string& candidate : tempFallbackCandidates(getWindowsDirectory())) areas.push_back(candidate);
  return areas;
}
