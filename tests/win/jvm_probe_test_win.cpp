// The runtime probe, the registry reads, the JVM library loading and the
// packed-runtime preparation against the stand-ins of tests/standins (built
// beside this program's directory). The configuration store is empty here,
// so every key reads as absent.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/environment_win.h"

#include "files_test_support_win.h"
#include "jvm/dll_search_win.h"
#include "jvm/java_probe_win.h"
#include "jvm/jvm_library_win.h"
#include "jvm/packed_runtime_win.h"
#include "jvm/runtime_layout.h"
#include "startup/startup_win.h"

namespace {

using namespace files_test;

// A fresh directory in the temporary area for each test (a blank in its
// name on purpose).
class RuntimeDir : public ::testing::Test {
 protected:
  void SetUp() override { root_ = makeScratchDir("jvm home"); }
  void TearDown() override {
    removeTree(root_);
    removeLauncherDirectories();
  }

  // root\relative, made with every directory on the way.
  std::string dir(const std::string& relative) {
    makeDirs(root_ + "\\" + relative);
    return root_ + "\\" + relative;
  }

  // bin\java.exe of a home, answering with the given settings.
  std::string javaIn(const std::string& binDir, const std::string& config) {
    std::string exe = dir(binDir) + "\\java.exe";
    copyStandin("java.exe", exe);
    EXPECT_TRUE(writeFile(dir(binDir) + "\\java-standin.cfg", config));
    return exe;
  }

  std::string root_;
};

using RunJavaVersion = RuntimeDir;

// The banner's rules are the unit tier's; here: standard error through the
// pipe, its first line or none (a failing exit: jvm_search_test_win).
TEST_F(RunJavaVersion, ReadsTheBannerOfTheFirstLine) {
  std::string version;
  EXPECT_TRUE(runJavaVersion(javaIn("bin", "banner=java version \"1.4.2_05\"\nbanner=Java(TM) 2 Runtime\n"), version));
  EXPECT_EQ(version, "1.4.2_05");
  EXPECT_FALSE(runJavaVersion(javaIn("bin", "banner=Picked up _JAVA_OPTIONS: -Xmx1g\nbanner=java version \"1.8.0\"\n"),
                              version));
  EXPECT_FALSE(runJavaVersion(javaIn("bin", "exit=0\n"), version));  // no output at all
  EXPECT_EQ(countLines(dir("bin") + "\\java-standin.runs"), 3);
}

TEST_F(RunJavaVersion, GivesUpOnAProbeThatDoesNotEnd) {
  std::string exe = javaIn("bin", "banner=java version \"1.8.0\"\nhang=1\n");
  std::string version;
  EXPECT_FALSE(runJavaVersion(exe, version));
  // The stand-in was ended: its output file could be deleted.
  EXPECT_EQ(countLines(dir("bin") + "\\java-standin.runs"), 1);
}

TEST_F(RunJavaVersion, CachesByLastWriteTime) {
  std::string exe = javaIn("bin", "banner=java version \"1.6.0_45\"\n");
  std::string runs = dir("bin") + "\\java-standin.runs";
  std::string probed = exe;
  std::string version;
  ASSERT_TRUE(checkJavaExe(probed, version, {"1.6", "1.6"}, false));
  EXPECT_EQ(version, "1.6.0_45");
  EXPECT_EQ(countLines(runs), 1);

  // Unchanged: answered from the cache, the runtime is not run again.
  probed = exe;
  ASSERT_TRUE(checkJavaExe(probed, version, {"1.6", "1.6"}, false));
  EXPECT_EQ(countLines(runs), 1);
  // Rejected by the bounds, still without a run.
  probed = exe;
  EXPECT_FALSE(checkJavaExe(probed, version, {"1.7", ""}, false));
  EXPECT_EQ(countLines(runs), 1);

  // A new last-write time makes the entry stale.
  FILETIME lastWrite{};
  HANDLE h = CreateFileA(exe.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  GetFileTime(h, nullptr, nullptr, &lastWrite);
  lastWrite.dwHighDateTime += 1;
  SetFileTime(h, nullptr, nullptr, &lastWrite);
  CloseHandle(h);
  probed = exe;
  ASSERT_TRUE(checkJavaExe(probed, version, {"1.6", "1.6"}, false));
  EXPECT_EQ(countLines(runs), 2);

  RegDeleteTreeA(HKEY_CURRENT_USER, versionCacheKeyName(probed).c_str());
}

TEST(ReadRegistryString, LongerValuesCountAsMissing) {
  const char* key = "SOFTWARE\\quarrow\\kerno\\glue-test";
  std::string fits(kCurrentVersionBytes - 1, '1');
  std::string tooLong(kCurrentVersionBytes, '1');
  setRegistryString(HKEY_CURRENT_USER, key, "fits", fits);
  setRegistryString(HKEY_CURRENT_USER, key, "long", tooLong);
  // Stored without its terminator.
  HKEY raw = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_SET_VALUE, &raw), ERROR_SUCCESS);
  RegSetValueExA(raw, "bare", 0, REG_SZ, reinterpret_cast<const BYTE*>("1.4"), 3);
  RegCloseKey(raw);

  std::string out;
  EXPECT_TRUE(readRegistryString(HKEY_CURRENT_USER, key, "fits", kCurrentVersionBytes, out));
  EXPECT_EQ(out, fits);
  EXPECT_FALSE(readRegistryString(HKEY_CURRENT_USER, key, "long", kCurrentVersionBytes, out));
  EXPECT_TRUE(readRegistryString(HKEY_CURRENT_USER, key, "long", kRegistryTextBytes, out));
  EXPECT_TRUE(readRegistryString(HKEY_CURRENT_USER, key, "bare", kCurrentVersionBytes, out));
  EXPECT_EQ(out, "1.4");
  EXPECT_FALSE(readRegistryString(HKEY_CURRENT_USER, key, "absent", kCurrentVersionBytes, out));
  EXPECT_FALSE(readRegistryString(HKEY_CURRENT_USER, "SOFTWARE\\quarrow\\kerno\\no-such-key",
                                  "fits", kCurrentVersionBytes, out));
  RegDeleteTreeA(HKEY_CURRENT_USER, key);
}

using JvmLibrary = RuntimeDir;

// Which library the search loads, the kit's jre included, and what a library
// without the entry point gives: jvm_search_test_win.
TEST_F(JvmLibrary, ALibraryPlantedInTheCurrentDirectoryOrOnPathIsNotLoaded) {
  // The runtime's bin holds the library its JVM library imports, as a real
  // runtime holds its compiler's runtime; a library of the same name waits in
  // the current directory and in a PATH directory, where the standard search
  // order would find it first.
  std::string exe = javaIn("jre\\bin", "");
  std::string bin = dir("jre\\bin");
  std::string server = dir("jre\\bin\\server");
  std::string planted = dir("planted");
  copyStandin("jvm_helped.dll", server + "\\jvm.dll");
  copyStandin("kernohelper.dll", bin + "\\kernohelper.dll");
  copyStandin("planted\\kernohelper.dll", planted + "\\kernohelper.dll");
  char cwd[MAX_PATH * 4];
  GetCurrentDirectoryA(sizeof cwd, cwd);
  ScopedVariable path("PATH", (planted + ";" + environmentValue("PATH")).c_str());
  ASSERT_TRUE(SetCurrentDirectoryA(planted.c_str()));
  restrictDllSearch();
  HMODULE module = loadJvmLibrary(exe);
  SetCurrentDirectoryA(cwd);
  ASSERT_NE(module, nullptr);
  std::string loads = readFile(server + "\\jvm-standin.loads");
  EXPECT_NE(loads.find("helper genuine "), std::string::npos) << loads;
  EXPECT_NE(loads.find("jre\\bin\\kernohelper.dll"), std::string::npos) << loads;
  EXPECT_EQ(loads.find("planted"), std::string::npos) << loads;
}

using PackedRuntime = RuntimeDir;

TEST_F(PackedRuntime, UnpackedOnceWithANoticeOnStandardOutput) {
  // The home's path holds blanks: the unpacker's command line quotes it.
  std::string home = dir("packed jre");
  std::string bin = dir("packed jre\\bin");
  dir("packed jre\\lib\\ext");
  copyStandin("unpack200.exe", bin + "\\unpack200.exe");
  for (const std::string& jar : packedJars()) {
    if (jar == "lib\\plugin.jar") continue;  // missing: passed over
    ASSERT_TRUE(writeFile(home + "\\" + jar + ".pack", "jar " + jar));
  }

  std::string captured = root_ + "\\stdout.txt";
  std::fflush(stdout);
  int saved = _dup(_fileno(stdout));
  int fd = _open(captured.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC, _S_IREAD | _S_IWRITE);
  ASSERT_GE(fd, 0);
  _dup2(fd, _fileno(stdout));
  preparePackedJre(home);
  preparePackedJre(home);  // prepared: nothing to do
  std::fflush(stdout);
  _dup2(saved, _fileno(stdout));
  _close(saved);
  _close(fd);

  EXPECT_EQ(readFile(captured), "Preparing JRE ...\r\n");
  EXPECT_EQ(countLines(bin + "\\unpack200-standin.runs"), 5);
  for (const std::string& jar : packedJars()) {
    if (jar == "lib\\plugin.jar") {
      EXPECT_FALSE(exists(home + "\\" + jar));
      continue;
    }
    EXPECT_EQ(readFile(home + "\\" + jar), "jar " + jar);
    EXPECT_FALSE(exists(home + "\\" + jar + ".pack")) << jar;
  }
}

TEST_F(PackedRuntime, OtherHomesAreLeftAlone) {
  std::string home = dir("plain");
  std::string bin = dir("plain\\bin");
  dir("plain\\lib");
  copyStandin("unpack200.exe", bin + "\\unpack200.exe");
  preparePackedJre(home);  // no rt.jar.pack
  ASSERT_TRUE(writeFile(home + "\\lib\\rt.jar.pack", "x") && writeFile(home + "\\lib\\jsse.jar", "x"));
  preparePackedJre(home);  // already prepared
  EXPECT_FALSE(exists(bin + "\\unpack200-standin.runs"));
}

}  // namespace
