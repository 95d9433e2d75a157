// The glue tests' shared support: files and scratch directories, a variable
// set for one test, the stand-ins and copies of them, registry strings, a
// private registry for the deletion lists, and the diagnostic log switched
// on for one test.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/config_state.h"
#include "files/files_state.h"
#include "files/included_files.h"
#include "files/temp_files_win.h"

namespace files_test {

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool writeFile(const std::string& path, const std::string& bytes = "") {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = bytes.empty() || (WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
                              written == bytes.size());
  CloseHandle(h);
  return ok;
}

// One entry of the included-file section: its size as stored (which a test
// may give wrong on purpose), then the content scrambled.
inline void appendEntry(std::string& media, int32_t size, std::string content) {
  for (int i = 0; i < 4; ++i) media += char(uint32_t(size) >> (8 * i));
  scrambleIncludedBytes(reinterpret_cast<uint8_t*>(content.data()), content.size());
  media += content;
}

inline bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Removes a directory with everything in it, even beyond MAX_PATH (the
// path must be absolute).
inline void removeTree(const std::wstring& dir) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring full = dir + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        removeTree(full);
      } else {
        DeleteFileW(full.c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(dir.c_str());
}

inline void removeTree(const std::string& dir) { removeTree(L"\\\\?\\" + std::wstring(dir.begin(), dir.end())); }

// An environment variable set (or, with nullptr, removed) for one scope.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    char buffer[32768];
    DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    had_ = n > 0 && n < sizeof buffer;
    if (had_) old_.assign(buffer, n);
    SetEnvironmentVariableA(name, value);
  }
  ~ScopedVariable() { SetEnvironmentVariableA(name_.c_str(), had_ ? old_.c_str() : nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::string name_, old_;
  bool had_ = false;
};

// The stand-ins of tests/standins, built beside this program's directory
// (or, given a tree such as "win32", beside that tree's).
inline std::string standinDir(const char* tree = nullptr) {
  char path[MAX_PATH * 4];
  std::string dir(path, GetModuleFileNameA(nullptr, path, sizeof path));
  for (int up = 0; up < 2; ++up) dir = dir.substr(0, dir.rfind('\\'));  // ...\<tree>\tests
  if (tree != nullptr) {
    std::string own = dir.substr(0, dir.rfind('\\'));  // ...\<tree>
    dir = own.substr(0, own.rfind('\\') + 1) + tree + "\\tests";
  }
  return dir + "\\standins\\";
}

// A stand-in copied to the path `to`.
inline void copyStandin(const std::string& name, const std::string& to, const char* tree = nullptr) {
  ASSERT_TRUE(CopyFileA((standinDir(tree) + name).c_str(), to.c_str(), FALSE)) << name << " -> " << to;
}

// A path's directory with every directory on the way.
inline void makeDirs(const std::string& path) {
  for (size_t pos = path.find('\\', 3); pos != std::string::npos; pos = path.find('\\', pos + 1))
    CreateDirectoryA(path.substr(0, pos).c_str(), nullptr);
  CreateDirectoryA(path.c_str(), nullptr);
}

// How many runs or loads a stand-in wrote down in its record file.
inline int countLines(const std::string& path) {
  std::string text = readFile(path);
  return int(std::count(text.begin(), text.end(), '\n'));
}

// A REG_SZ value (or, with no name, only the key).
inline void setRegistryString(HKEY root, const std::string& key, const char* name, const std::string& value) {
  HKEY h;
  ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), ERROR_SUCCESS)
      << key;
  if (name != nullptr)
    RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), DWORD(value.size() + 1));
  RegCloseKey(h);
}

// Whether a list (log lines, options) holds the item.
inline bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A fresh directory in the temporary directory, named here (Wine shortens
// the C runtime's temporary names).
inline std::string makeFreshDir(const std::string& name) {
  std::string dir = getTempPath() + name;
  removeTree(dir);
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

inline std::string makeScratchDir(const char* tag) {
  static int counter = 0;
  return makeFreshDir("krn_glue_" + std::string(tag) + "_" + std::to_string(GetCurrentProcessId()) + "_" +
                      std::to_string(++counter));
}

// Removes what the launcher made for a test in its private directory (a
// probe's output lands there) and forgets it.
inline void removeLauncherDirectories() {
  for (const std::string& dir : extractionState().extractedDirs) removeTree(dir);
  extractionState() = ExtractionState{};
}

// A directory named as the launcher names its extraction directories
// (krn<hex>.tmp_dir<hex>): the only kind of place the deletion sweep acts on.
inline std::string makeExtractionShapedDir() {
  static unsigned counter = 0;
  char name[64];
  std::snprintf(name, sizeof name, "krn%lx.tmp_dir%x", static_cast<unsigned long>(GetCurrentProcessId()),
                0xa000u + ++counter);
  return makeFreshDir(name);
}

// HKEY_CURRENT_USER of this process redirected to a private key, so that the
// tests neither see nor disturb the lists of launchers running beside them.
class PrivateCurrentUser {
 public:
  PrivateCurrentUser() {
    name_ = "Software\\kerno-glue-tests\\" + std::to_string(GetCurrentProcessId());
    RegDeleteTreeA(HKEY_CURRENT_USER, name_.c_str());
    if (RegCreateKeyExA(HKEY_CURRENT_USER, name_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                        nullptr) == ERROR_SUCCESS) {
      ok_ = RegOverridePredefKey(HKEY_CURRENT_USER, key_) == ERROR_SUCCESS;
    }
  }
  ~PrivateCurrentUser() {
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    if (key_) RegCloseKey(key_);
    RegDeleteTreeA(HKEY_CURRENT_USER, name_.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\kerno-glue-tests");  // only when no other run uses it
  }
  PrivateCurrentUser(const PrivateCurrentUser&) = delete;
  PrivateCurrentUser& operator=(const PrivateCurrentUser&) = delete;
  bool ok() const { return ok_; }

 private:
  std::string name_;
  HKEY key_ = nullptr;
  bool ok_ = false;
};

// A made-up executable of the launcher: a media file in a scratch directory
// holding the included-file section after `offset` bytes, and the keys that
// describe it; a private registry for the deletion lists.
class MediaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registry_.ok());
    saved_ = pathCache();
    scratch_ = makeScratchDir("media");
    extractionState() = ExtractionState{};
  }
  void TearDown() override {
    removeLauncherDirectories();
    configTables() = ConfigTables{};
    pathCache() = saved_;
    removeTree(scratch_);
  }

  // By default with bytes before the section, so that the extraction must seek to it.
  void useMedia(const std::string& section, const std::string& count, const std::string& names,
                size_t offset = 100) {
    std::string media = scratch_ + "\\media.bin";
    ASSERT_TRUE(writeFile(media, std::string(offset, 'M') + section));
    pathCache().executablePath = media;
    pathCache().executablePathComputed = true;
    configTables().narrow[2002] = count;
    configTables().narrow[2003] = names;
    configTables().includedFilesOffset = offset;
  }

  PrivateCurrentUser registry_;
  PathCache saved_;
  std::string scratch_;
};

inline const char* kListKey = "SOFTWARE\\quarrow\\kerno\\temp\\";

// A list value exactly as stored (the registry keeps text as UTF-16; the
// narrow functions may add a terminator on the way out), as ASCII text with
// any NUL kept, so that a stored terminator shows.
struct ListValue {
  bool present = false;
  DWORD type = 0;
  std::string bytes;
  // The list's text. The system itself stores a terminator after text that
  // is followed by a NUL in memory (as a std::string's is), so one may be
  // there; more than one, or anything after it, is kept and shows.
  std::string text() const {
    return !bytes.empty() && bytes.back() == '\0' ? bytes.substr(0, bytes.size() - 1) : bytes;
  }
};

inline ListValue readListValue(const char* name) {
  ListValue v;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kListKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return v;
  std::wstring wideName(name, name + std::char_traits<char>::length(name));
  DWORD size = 0;
  if (RegQueryValueExW(key, wideName.c_str(), nullptr, &v.type, nullptr, &size) == ERROR_SUCCESS) {
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, wideName.c_str(), nullptr, &v.type, reinterpret_cast<BYTE*>(data.data()), &size) ==
        ERROR_SUCCESS) {
      data.resize(size / sizeof(wchar_t));
      for (wchar_t c : data) v.bytes += c < 0x80 ? char(c) : '#';
      v.present = true;
    }
  }
  RegCloseKey(key);
  return v;
}

inline void writeListValue(const char* name, const std::string& bytes) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kListKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size()));
  RegCloseKey(key);
}

inline bool listKeyExists() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kListKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// The log back to unopened, as a fresh process has it, its file deleted.
inline void resetLog() {
  LogState& log = logState();
  if (log.stream) std::fclose(log.stream);
  std::string name = log.fileName;
  log = LogState{};
  if (!name.empty()) DeleteFileA(name.c_str());
}

// The diagnostic log switched on for one test; lines() gives what was logged.
class CapturedLog {
 public:
  CapturedLog() {
    resetLog();
    SetEnvironmentVariableA("KERNO_LOG", "yes");
  }
  ~CapturedLog() {
    resetLog();
    SetEnvironmentVariableA("KERNO_LOG", nullptr);
  }
  CapturedLog(const CapturedLog&) = delete;
  CapturedLog& operator=(const CapturedLog&) = delete;

  // The logged lines after the header and its empty line.
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    if (logState().fileName.empty()) return out;
    std::istringstream in(readFile(logState().fileName));
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (n > 2) out.push_back(line);
    }
    return out;
  }
};

}  // namespace files_test
