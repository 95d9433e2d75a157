#include "config/paths_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "files_test_support_win.h"

using namespace files_test;

namespace {
std::string asciiLower(std::string s) {
  for (char& c : s) c = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
  return s;
}

std::string lastComponent(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

std::string shortPathOf(const std::string& path) {
  char buffer[MAX_PATH * 4];
  DWORD n = GetShortPathNameA(path.c_str(), buffer, sizeof(buffer));
  return n == 0 || n >= sizeof(buffer) ? std::string() : std::string(buffer, n);
}

// A fresh directory under the temporary directory for each test.
class PathsDir : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = makeScratchDir("paths"); }
  void TearDown() override { removeTree(dir_); }
  std::string dir_;
};

constexpr char kChildOutVariable[] = "KERNO_PATHS_CHILD_OUT";
}  // namespace

TEST(ExecutablePath, IsTheShortLowerCaseModulePathItsDirectoryAndStable) {
  const std::string& first = getExecutablePath();
  EXPECT_EQ(&first, &getExecutablePath());
  char module[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, module, sizeof(module));
  ASSERT_GT(n, 0u);
  // Wine reports the drive as "Z:".
  EXPECT_EQ(first, asciiLower(shortPathOf(std::string(module, n))));
  // kerno_glue_tests.exe is no 8.3 name: the short form stands in for it.
  EXPECT_NE(lastComponent(first).find('~'), std::string::npos) << first;
  const std::string& dir = exeDirectory();
  EXPECT_EQ(&dir, &exeDirectory());
  EXPECT_EQ(dir + lastComponent(first), first);
  EXPECT_TRUE(isWindowsNT());
  std::string empty;
  lowercasePath(empty);
  EXPECT_EQ(empty, "");
  // Characters of the code page other than ASCII survive the round trip.
  std::string accented = "C:\\Gr\xfc\xdf" "e\\\\\xc4";
  collapseBackslashes(accented);
  EXPECT_EQ(accented, "C:\\Gr\xfc\xdf" "e\\\xc4");
}

TEST(ResolvePath, TakesRelativePathsFromTheExecutableDirectory) {
  const std::string dir = exeDirectory();
  const std::string up = dir.substr(0, dir.size() - 1);
  const std::string parent = up.substr(0, up.rfind('\\') + 1);
  struct Case {
    const char* path;
    bool keepCase;
    std::string expected;
  };
  const Case cases[] = {
      {"..\\Lib\\X.jar", false, parent + "lib\\x.jar"},
      {"Sub\\\\\\File.Log", true, dir + "Sub\\File.Log"},
      {".\\a\\.\\b\\..\\c", false, dir + "a\\c"},
      {"C:\\Windows\\..\\TEMP\\\\x", true, "C:\\TEMP\\x"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(resolvePath(c.path, c.keepCase), c.expected) << c.path << " keepCase=" << c.keepCase;
  }
}

TEST_F(PathsDir, ExistenceLastWriteTimeAndListing) {
  // A root form needs no look-up (even of a drive that is not there); a bare
  // drive and anything longer are looked up.
  EXPECT_TRUE(pathExists("q:\\.\\."));
  EXPECT_FALSE(pathExists("q:"));
  EXPECT_FALSE(pathExists(""));
  ASSERT_TRUE(writeFile(dir_ + "\\a.jar"));
  ASSERT_TRUE(writeFile(dir_ + "\\B.jar"));
  ASSERT_TRUE(writeFile(dir_ + "\\c.txt"));
  ASSERT_TRUE(CreateDirectoryA((dir_ + "\\d.jar").c_str(), nullptr));
  for (const char* name : {"", "\\A.JAR", "\\?.jar"}) EXPECT_TRUE(pathExists(dir_ + name)) << name;
  for (const char* name : {"\\*.zip", "\\missing\\a.jar"}) EXPECT_FALSE(pathExists(dir_ + name)) << name;

  HANDLE h = CreateFileA((dir_ + "\\c.txt").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME stamp{0x12345600u, 0x01d00000u};
  EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &stamp));
  CloseHandle(h);
  FILETIME got{7, 7};
  ASSERT_TRUE(findPath(dir_ + "\\c.txt", &got));
  EXPECT_EQ(CompareFileTime(&got, &stamp), 0);
  EXPECT_FALSE(findPath(dir_ + "\\none.txt", &got));
  EXPECT_EQ(CompareFileTime(&got, &stamp), 0);

  // Directories match too.
  std::vector<std::string> names = listDirectory(dir_, "jar");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"B.jar", "a.jar", "d.jar"}));
  EXPECT_TRUE(listDirectory(dir_, "zip").empty());
  EXPECT_TRUE(listDirectory(dir_ + "\\missing", "jar").empty());
}

// Both routes to the long form (the system's and the shell's): the whole
// form when it fits, nothing written when it does not (not even at exactly
// its length, without room for the terminator), nothing for a missing path.
TEST_F(PathsDir, LongPathNameOfAnEightDotThreeForm) {
  std::string longDir = dir_ + "\\A Long Directory Name";
  std::string longFile = longDir + "\\Another Long File.text";
  ASSERT_TRUE(CreateDirectoryA(longDir.c_str(), nullptr));
  ASSERT_TRUE(writeFile(longFile));
  std::string shortFile = shortPathOf(longFile);
  ASSERT_NE(lastComponent(shortFile).find('~'), std::string::npos) << shortFile;
  std::string longForm;
  ASSERT_TRUE(getLongPathName(shortFile, longForm));
  EXPECT_EQ(asciiLower(longForm), asciiLower(longFile));
  std::string out = "kept";
  EXPECT_FALSE(getLongPathName(dir_ + "\\nothing~1.txt", out));
  EXPECT_EQ(out, "kept");

  using Route = DWORD (*)(const char*, char*, DWORD);
  const Route routes[] = {
      [](const char* s, char* o, DWORD n) { return getLongPathName(s, o, n); },
      emulateLongPathName,
  };
  for (Route route : routes) {
    char buffer[MAX_PATH];
    ASSERT_EQ(route(shortFile.c_str(), buffer, sizeof(buffer)), longForm.size());
    EXPECT_EQ(asciiLower(buffer), asciiLower(longFile));
    std::fill(std::begin(buffer), std::end(buffer), 'X');
    EXPECT_EQ(route(shortFile.c_str(), buffer, 8), longForm.size() + 1);
    EXPECT_EQ(route(shortFile.c_str(), nullptr, 0), longForm.size() + 1);
    EXPECT_EQ(route(shortFile.c_str(), buffer, static_cast<DWORD>(longForm.size())), longForm.size() + 1);
    EXPECT_EQ(route((dir_ + "\\nothing~1.txt").c_str(), buffer, sizeof(buffer)), 0u);
    EXPECT_TRUE(std::all_of(std::begin(buffer), std::end(buffer), [](char c) { return c == 'X'; }));
  }
}

TEST(LongInputs, NeverOverflow) {
  const std::string longName(10000, 'A');
  const std::string longPath = "C:\\" + longName + "\\\\\\" + longName;

  std::string lowered = longPath;
  lowercasePath(lowered);
  EXPECT_EQ(lowered, asciiLower(longPath));
  std::string collapsed = longPath;
  collapseBackslashes(collapsed);
  EXPECT_EQ(collapsed, "C:\\" + longName + "\\" + longName);

  // Either made absolute in full or refused as a whole, never cut short.
  std::string resolved = resolvePath(longName, false);
  EXPECT_TRUE(resolved.empty() || resolved == exeDirectory() + asciiLower(longName))
      << resolved.size();
  resolved = resolvePath(longPath, true);
  EXPECT_TRUE(resolved.empty() || resolved == collapsed) << resolved.size();

  EXPECT_EQ(appendExeRelative(longName), exeDirectory() + longName);
  EXPECT_EQ(resolvePathList(longName + ";;" + longName),
            exeDirectory() + longName + ";" + exeDirectory() + longName);

  EXPECT_FALSE(pathExists(longPath));
  EXPECT_FALSE(pathExists(longName + ":\\"));
  FILETIME untouched{7, 7};
  EXPECT_FALSE(findPath(longPath, &untouched));
  EXPECT_TRUE(listDirectory(longPath, longName).empty());

  char buffer[MAX_PATH];
  EXPECT_EQ(getLongPathName(longPath.c_str(), buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(emulateLongPathName(longPath.c_str(), buffer, sizeof(buffer)), 0u);
  std::string out;
  EXPECT_FALSE(getLongPathName(longPath, out));
}

// Copies this test program into a deep directory with mixed-case long names
// and lets the copy report what it computes. Its long path is beyond MAX_PATH,
// which Wine's loader refuses, so it is started by its short form.
TEST_F(PathsDir, ExecutablePathOfADeepMixedCaseCopy) {
  std::wstring deep = L"\\\\?\\" + std::wstring(dir_.begin(), dir_.end());
  for (int i = 0; i < 16; ++i) {
    deep += L"\\Mixed Case Directory Level " + std::to_wstring(i);
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr)) << i;
  }
  std::wstring exe = deep + L"\\Child Program.EXE";
  wchar_t self[MAX_PATH * 4];
  DWORD selfLength = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  ASSERT_GT(selfLength, 0u);
  ASSERT_TRUE(CopyFileW(self, exe.c_str(), FALSE));

  std::string report = dir_ + "\\report.txt";
  std::optional<ScopedVariable> reportTo(std::in_place, kChildOutVariable, report.c_str());
  std::wstring commandLine =
      L"child --gtest_also_run_disabled_tests --gtest_filter=PathsChild.DISABLED_Report";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  wchar_t program[MAX_PATH];
  DWORD programLength = GetShortPathNameW(exe.c_str(), program, MAX_PATH);
  ASSERT_GT(programLength, 0u);
  ASSERT_LT(programLength, static_cast<DWORD>(MAX_PATH));
  std::wstring programPath(program, programLength);
  if (programPath.rfind(L"\\\\?\\", 0) == 0) programPath.erase(0, 4);
  BOOL started = CreateProcessW(programPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                nullptr, nullptr, &startup, &process);
  reportTo.reset();
  ASSERT_TRUE(started) << GetLastError();
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 1;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  ASSERT_EQ(exitCode, 0u);

  std::ifstream in(report);
  std::string exePath;
  std::string exeDir;
  ASSERT_TRUE(std::getline(in, exePath));
  ASSERT_TRUE(std::getline(in, exeDir));

  // Long enough that the module and path functions are asked a second time.
  EXPECT_GT(exePath.size(), 150u) << exePath;
  EXPECT_EQ(exePath, asciiLower(std::string(programPath.begin(), programPath.end())));
  EXPECT_NE(lastComponent(exePath).find('~'), std::string::npos) << exePath;
  EXPECT_EQ(exeDir + lastComponent(exePath), exePath);
}

// Runs only in the copy started above.
TEST(PathsChild, DISABLED_Report) {
  const char* out = std::getenv(kChildOutVariable);
  if (out == nullptr) GTEST_SKIP();
  std::FILE* f = std::fopen(out, "w");
  ASSERT_NE(f, nullptr);
  std::fprintf(f, "%s\n%s\n", getExecutablePath().c_str(), exeDirectory().c_str());
  std::fclose(f);
}
