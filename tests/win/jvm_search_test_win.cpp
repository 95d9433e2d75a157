// The whole Java runtime search (LoadDLL) against runtime homes made of the
// stand-ins of tests/standins: which java executable is accepted, which JVM
// library is loaded, what the log says in which order, and the one message
// shown for each kind of failure. The launcher's directory is a scratch
// directory of each case, the registry is this process's own, and messages
// go to a listener instead of a box.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "common/environment_win.h"
#include "config/config_state.h"
#include "config/messages_win.h"
#include "files_test_support_win.h"
#include "jvm/jvm_state.h"
#include "jvm/win_loader_win.h"

namespace {

using namespace files_test;

std::vector<std::string> gMessages;
void collectMessage(const std::string& text) { gMessages.push_back(text.substr(0, text.find("\n\nLog: "))); }

constexpr const char* kJre = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
constexpr const char* kJdk = "SOFTWARE\\JavaSoft\\Java Development Kit";
constexpr const char* kLocated = "SOFTWARE\\quarrow\\kerno\\locatedjvms";

// Options of one fake runtime home.
struct Runtime {
  std::string version = "1.8.0_392";
  const char* where = "bin";  // "bin": home\bin; "jre": home\jre\bin
  const char* vm = "server";  // nullptr: no library
  std::string library = "jvm.dll";
  std::string banner;         // instead of the version's banner
  int exitCode = -1;          // the stand-in's exit code, when set

  static Runtime of(std::string v) { Runtime r; r.version = std::move(v); return r; }
  static Runtime saying(std::string b, int code = -1) { Runtime r; r.banner = std::move(b); r.exitCode = code; return r; }
  Runtime& inJre() { where = "jre"; return *this; }
  Runtime& withVm(const char* v) { vm = v; return *this; }
  Runtime& withLibrary(std::string l) { library = std::move(l); return *this; }
};

class Search : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(user_.ok());
    root_ = makeScratchDir("search");
    savedPaths_ = pathCache();
    pathCache().exeDirectory = root_ + "\\";
    pathCache().exeDirectoryComputed = true;
    messageState().mode = MessageMode::console;
    registerMessageListener(collectMessage);
    gMessages.clear();
    set(ConfigKey::MSG_ERROR_CAPTION, "Kerno");
    set(ConfigKey::MSG_NO_JVM, "no jvm");
    set(ConfigKey::MSG_PATH_JVM_DAMAGED, "path damaged");
    set(ConfigKey::MSG_ENV_VAR_JVM_INVALID, "env invalid: %ENV_VAR_NAME%");
    set(ConfigKey::MSG_DEFINED_JVM_DAMAGED, "defined damaged: %DEFINED_PATH%");
    set(ConfigKey::MSG_JVM_START_FAILED, "start failed");
    set(ConfigKey::MSG_INTERNAL_ERROR, "internal error %ERROR_CODE%");
  }

  void TearDown() override {
    for (const auto& [root, key] : keys_) RegDeleteTreeA(root, key.c_str());
    for (const std::string& name : variables_) SetEnvironmentVariableA(name.c_str(), nullptr);
    registerMessageListener(nullptr);
    messageState().mode = MessageMode::messageBox;
    pathCache() = savedPaths_;
    configTables() = ConfigTables{};
    jvmState() = JvmState{};
    launcherFlavour() = LauncherFlavour::none;
    removeTree(root_);
    removeLauncherDirectories();
  }

  void set(ConfigKey key, const std::string& value) { configTables().narrow[int32_t(key)] = value; }
  void setVariable(const std::string& name, const std::string& value) {
    variables_.push_back(name);
    SetEnvironmentVariableA(name.c_str(), value.c_str());
  }
  void javasoft(const char* key, const char* current, std::vector<std::pair<std::string, std::string>> homes) {
    keys_.emplace_back(HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft");
    if (current != nullptr) setRegistryString(HKEY_LOCAL_MACHINE, key, "CurrentVersion", current);
    for (const auto& [version, home] : homes) {
      setRegistryString(HKEY_LOCAL_MACHINE, std::string(key) + "\\" + version, "JavaHome", home);
    }
  }
  void located(HKEY root, const std::string& bindir) {
    std::string name = bindir + "\\java.exe";
    for (char& c : name) c = c == '\\' ? '/' : c;
    keys_.emplace_back(root, kLocated);
    setRegistryString(root, std::string(kLocated) + "\\" + name, nullptr, "");
  }

  std::string path(const std::string& relative) const { return root_ + "\\" + relative; }

  // Lays out a runtime home; returns its bin directory.
  std::string runtime(const std::string& home, const Runtime& r = {}) {
    std::string bindir = home + (std::string(r.where) == "jre" ? "\\jre\\bin" : "\\bin");
    makeDirs(bindir);
    copyStandin("java.exe", bindir + "\\java.exe");
    std::string config =
        "banner=" + (r.banner.empty() ? "java version \"" + r.version + "\"" : r.banner) + "\n";
    if (r.exitCode >= 0) config += "exit=" + std::to_string(r.exitCode) + "\n";
    EXPECT_TRUE(writeFile(bindir + "\\java-standin.cfg", config));
    if (r.vm != nullptr) {
      makeDirs(bindir + "\\" + r.vm);
      copyStandin(r.library, bindir + "\\" + r.vm + "\\jvm.dll");
    }
    return bindir;
  }

  static int runs(const std::string& bindir) { return countLines(bindir + "\\java-standin.runs"); }
  static bool loaded(const std::string& bindir, const char* vm = "server") {
    return readFile(bindir + "\\" + vm + "\\jvm-standin.loads").find("loaded ") != std::string::npos;
  }

  // One search with the log on: whether it loaded a library, and the log.
  struct Result {
    bool ok = false;
    std::vector<std::string> log;
    std::vector<std::string> messages;
    std::string exe;
  };
  Result search() {
    CapturedLog log;
    gMessages.clear();
    jvmState() = JvmState{};
    Result r;
    r.ok = LoadDLL();
    r.log = log.lines();
    r.messages = gMessages;
    r.exe = jvmState().javaExe;
    return r;
  }

  static std::string dump(const Result& r) {
    std::string out = "messages:";
    for (const std::string& m : r.messages) out += " [" + m + "]";
    for (const std::string& line : r.log) out += "\n  " + line;
    return out;
  }

  // The search accepted the executable ending in `tail` and loaded its library.
  static void expectLoaded(const Result& r, const std::string& tail) {
    EXPECT_TRUE(r.ok) << dump(r);
    EXPECT_TRUE(r.messages.empty()) << dump(r);
    EXPECT_TRUE(r.exe.size() >= tail.size() && _stricmp(r.exe.c_str() + r.exe.size() - tail.size(), tail.c_str()) == 0)
        << r.exe << " does not end in " << tail << "\n" << dump(r);
    EXPECT_TRUE(count(r, "Loading of JVM-DLL successful") == 1) << dump(r);
  }
  static void expectFailed(const Result& r, const std::string& message) {
    EXPECT_FALSE(r.ok) << dump(r);
    EXPECT_EQ(r.messages, std::vector<std::string>{message}) << dump(r);
  }
  // The lines (regular expressions) appear in the log in this order.
  static void expectInOrder(const Result& r, std::vector<const char*> patterns) {
    size_t position = 0;
    for (const char* pattern : patterns) {
      std::regex re(pattern);
      while (position < r.log.size() && !std::regex_match(r.log[position], re)) ++position;
      ASSERT_LT(position, r.log.size()) << "'" << pattern << "' not found in order\n" << dump(r);
      ++position;
    }
  }
  static int count(const Result& r, const std::string& prefix) {
    int n = 0;
    for (const std::string& line : r.log) n += line.rfind(prefix, 0) == 0;
    return n;
  }

  std::string root_;

 private:
  PrivateCurrentUser user_;
  PathCache savedPaths_;
  std::vector<std::pair<HKEY, std::string>> keys_;
  std::vector<std::string> variables_;
};

TEST_F(Search, SequenceEntriesAndTheirLogLines) {
  set(ConfigKey::jreSearchSequence, "B.\\jre");
  std::string bindir = runtime(path("jre"));
  Result r = search();
  expectLoaded(r, "\\jre\\bin\\java.exe");
  EXPECT_TRUE(loaded(bindir));
  EXPECT_EQ(count(r, "Trying to load JVM-DLL from "), 1) << dump(r);
  expectInOrder(r, {R"(LoadDLL \(1, \(null\), 0\))", "Searching for a JVM", R"(Testing location \.\\jre \(type B\))",
                    R"(checkJavaExe \(.*\\jre\\bin\\java\.exe, \[out\], , , 1\))", "file exists",
                    "got version from execution 1.8.0_392", "checkJavaExe returning 1",
                    R"(Trying to load JVM-DLL from .*\\jre\\bin\\java\.exe)",
                    R"(Trying .*\\jre\\bin\\server\\jvm\.dll \(exists 1\))", "Loading of JVM-DLL successful"});

  // A missing absolute entry, lower-case and unknown letters, then R.
  set(ConfigKey::jreSearchSequence, "A" + path("missing") + ";b.\\rt;Q;R.\\rt");
  runtime(path("rt"), Runtime().inJre());
  r = search();
  expectLoaded(r, "\\rt\\jre\\bin\\java.exe");
  expectInOrder(r, {R"(Testing location .*\\missing \(type A\))", "file doesn't exist", "checkJavaExe returning 0",
                    R"(Testing location \.\\rt \(type b\))", R"(Testing location  \(type Q\))",
                    R"(Testing location \.\\rt \(type R\))", "checkJavaExe returning 1"});

  // Variables: unset, then one with forward slashes.
  std::string slashed = path("slashed");
  runtime(slashed);
  for (char& c : slashed) c = c == '\\' ? '/' : c;
  setVariable("KERNO_GLUE_SLASHED", slashed);
  set(ConfigKey::jreSearchSequence, "EKERNO_GLUE_UNSET;EKERNO_GLUE_SLASHED");
  r = search();
  expectLoaded(r, "\\slashed\\bin\\java.exe");
  expectInOrder(r, {R"(Testing location KERNO_GLUE_UNSET \(type E\))", R"(Testing location KERNO_GLUE_SLASHED \(type E\))",
                    R"(checkJavaExe \(.*\\slashed\\bin\\java\.exe, \[out\], , , 0\))"});

  // The system's search order (here through PATH), and the directory it came from.
  std::string onPath = runtime(path("onpath"));
  set(ConfigKey::jreSearchSequence, "S");
  {
    ScopedVariable searchPath("PATH", (onPath + ";" + environmentValue("PATH")).c_str());
    r = search();
  }
  expectLoaded(r, "\\onpath\\bin\\java.exe");
  expectInOrder(r, {R"(Testing location  \(type S\))", R"(java\.exe found on the search path in .*\\onpath\\bin)",
                    "checkJavaExe returning 1"});

  // An empty sequence consults only the fixed steps.
  set(ConfigKey::jreSearchSequence, "");
  r = search();
  expectFailed(r, "no jvm");
  expectInOrder(r, {"Searching for a JVM", "Search sequence finished", "ERROR: No JVM found"});
  EXPECT_EQ(count(r, "Testing"), 0) << dump(r);
}

TEST_F(Search, FallbackPassTakesRelativeEntriesWhateverTheirVersion) {
  set(ConfigKey::minJavaVersion, "1.6");
  std::string bindir = runtime(path("jre"), Runtime::of("1.5.0_22"));
  set(ConfigKey::jreSearchSequence, "B.\\jre");
  Result r = search();
  expectLoaded(r, "\\jre\\bin\\java.exe");
  EXPECT_TRUE(loaded(bindir));
  expectInOrder(r, {"got version from execution 1.5.0_22", "checkJavaExe returning 0", "Search sequence finished",
                    R"(Testing relative location \.\\jre)", R"(.*\\jre\\bin\\java\.exe exists)",
                    "Loading of JVM-DLL successful"});
}

TEST_F(Search, LocationFilesBeforeAndAfterTheSequence) {
  makeDirs(path(".brindle"));
  ASSERT_TRUE(writeFile(path(".brindle\\pref_jre.cfg"), "pref\r\nignored\r\n"));
  set(ConfigKey::jreSearchSequence, "B.\\other");
  std::string pref = runtime(path("pref"));
  Result r = search();
  expectLoaded(r, "\\pref\\bin\\java.exe");
  EXPECT_TRUE(loaded(pref));
  expectInOrder(r, {"Searching for a JVM", "Has preferred location pref", "checkJavaExe returning 1",
                    "Using preferred location"});
  EXPECT_EQ(count(r, "Testing location"), 0) << dump(r);

  DeleteFileA(path(".brindle\\pref_jre.cfg").c_str());
  makeDirs(path("install\\.brindle"));
  ASSERT_TRUE(writeFile(path("install\\.brindle\\inst_jre.cfg"), "inst\n"));
  set(ConfigKey::installationDirectory, ".\\install");
  set(ConfigKey::jreSearchSequence, "Y");
  runtime(path("inst"));
  r = search();
  expectLoaded(r, "\\inst\\bin\\java.exe");
  expectInOrder(r, {"Search sequence finished", "Has installer location inst", "Using installer location"});
}

TEST_F(Search, TheFlavourChoosesTheProductHomeVariable) {
  runtime(path("brindle"));
  setVariable("KERNO_JAVA_HOME", path("missing"));  // the other flavour's: never tried
  setVariable("BRINDLE_JAVA_HOME", path("brindle"));
  set(ConfigKey::jreSearchSequence, "");
  launcherFlavour() = LauncherFlavour::brindle;
  Result r = search();
  expectLoaded(r, "\\brindle\\bin\\java.exe");
  EXPECT_EQ(count(r, "checkJavaExe returning"), 1) << dump(r);
  launcherFlavour() = LauncherFlavour::none;  // no variable of its own
  r = search();
  expectFailed(r, "no jvm");
  EXPECT_EQ(count(r, "checkJavaExe"), 0) << dump(r);
}

TEST_F(Search, RegistryEntries) {
  set(ConfigKey::jreSearchSequence, "Y");
  // The current version of the runtime environment.
  javasoft(kJre, "1.8", {{"1.8", path("jre18")}});
  runtime(path("jre18"));
  Result r = search();
  expectLoaded(r, "\\jre18\\bin\\java.exe");
  expectInOrder(r, {R"(Testing location  \(type Y\))", R"(checkJavaExe \(.*jre18\\bin\\java\.exe, \[out\], , , 0\))"});

  // A current version out of range: the version keys are walked from the highest in range.
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft");
  std::vector<std::pair<std::string, std::string>> homes;
  std::vector<std::string> bins;
  for (const char* v : {"1.3.1", "1.6", "1.6.0_45", "1.7"}) {
    std::string home = path(std::string("v") + v);
    homes.emplace_back(v, home);
    std::string version = std::string(v).find('_') != std::string::npos ? v : std::string(v) + ".0_1";
    bins.push_back(runtime(home, Runtime::of(version)));
  }
  javasoft(kJre, "1.3.1", homes);
  set(ConfigKey::minJavaVersion, "1.6");
  set(ConfigKey::maxJavaVersion, "1.6");
  r = search();
  expectLoaded(r, "\\v1.6.0_45\\bin\\java.exe");
  EXPECT_EQ((std::vector<int>{runs(bins[0]), runs(bins[1]), runs(bins[2]), runs(bins[3])}),
            (std::vector<int>{0, 0, 1, 0}));

  // Located runtimes (user, then machine) win over the runtime environment on a higher version.
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft");
  set(ConfigKey::minJavaVersion, "");
  set(ConfigKey::maxJavaVersion, "");
  std::string soft = runtime(path("soft"), Runtime::of("1.6.0_05"));
  std::string user = runtime(path("user"), Runtime::of("1.6.0_10"));
  std::string machine = runtime(path("machine"), Runtime::of("1.6.0_20"));
  javasoft(kJre, "1.6", {{"1.6", path("soft")}});
  located(HKEY_CURRENT_USER, user);
  located(HKEY_LOCAL_MACHINE, machine);
  r = search();
  expectLoaded(r, "\\machine\\bin\\java.exe");
  EXPECT_EQ((std::vector<int>{runs(soft), runs(user), runs(machine)}), (std::vector<int>{1, 1, 1}));

  // A development kit by its current version, its jre supplying the library.
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kLocated);
  RegDeleteTreeA(HKEY_CURRENT_USER, kLocated);
  runtime(path("jdk"), Runtime().inJre());
  makeDirs(path("jdk\\lib"));
  ASSERT_TRUE(writeFile(path("jdk\\lib\\tools.jar"), ""));
  javasoft(kJdk, "1.8", {{"1.8", path("jdk")}});
  javasoft(kJre, "1.7", {{"1.7", path("absent")}});
  set(ConfigKey::requireJdk, "1");
  r = search();
  expectLoaded(r, "\\jdk\\jre\\bin\\java.exe");
}

// Which versions are accepted is the unit tier's; here: a probe that fails,
// and where the search lets a pre-release through (key 130, or a configured
// directory).
TEST_F(Search, AFailedProbeAndPreReleases) {
  runtime(path("broken"), Runtime::saying("java version \"1.8.0\"", 1));
  runtime(path("ea"), Runtime::of("1.8.0-ea"));
  setVariable("KERNO_GLUE_JAVA", path("ea"));
  set(ConfigKey::jreSearchSequence, "A" + path("broken") + ";EKERNO_GLUE_JAVA");
  Result r = search();
  expectFailed(r, "no jvm");
  expectInOrder(r, {"file exists", "couldn't get version", "file exists", "got version from execution 1.8.0-ea",
                    "checkJavaExe returning 0"});
  set(ConfigKey::allowBetaJre, "1");
  expectLoaded(search(), "\\ea\\bin\\java.exe");
  set(ConfigKey::allowBetaJre, "");
  set(ConfigKey::jreSearchSequence, "A" + path("ea"));
  expectLoaded(search(), "\\ea\\bin\\java.exe");
}

TEST_F(Search, JavawAndTheDevelopmentKitRequirement) {
  std::string bindir = runtime(path("jre"));
  copyStandin("java.exe", bindir + "\\javaw.exe");
  set(ConfigKey::jreSearchSequence, "A" + path("jre"));
  set(ConfigKey::executableType, "1");
  expectLoaded(search(), "\\jre\\bin\\javaw.exe");
  DeleteFileA((bindir + "\\javaw.exe").c_str());
  expectFailed(search(), "no jvm");

  set(ConfigKey::executableType, "");
  runtime(path("kit"), Runtime().inJre());
  set(ConfigKey::jreSearchSequence, "A" + path("kit"));
  set(ConfigKey::requireJdk, "1");
  expectFailed(search(), "no jvm");
  makeDirs(path("kit\\lib"));
  ASSERT_TRUE(writeFile(path("kit\\lib\\tools.jar"), ""));
  expectLoaded(search(), "\\kit\\jre\\bin\\java.exe");
}

TEST_F(Search, LibraryTypesInOrderAndTheKitsJre) {
  std::string bindir = runtime(path("jre"), Runtime().withVm("client"));
  set(ConfigKey::jreSearchSequence, "B.\\jre");
  set(ConfigKey::preferredVmType, "server");
  Result r = search();
  expectLoaded(r, "\\jre\\bin\\java.exe");
  EXPECT_TRUE(loaded(bindir, "client"));
  // The order of the types is the unit tier's; here: the preferred one first, up to one that exists.
  expectInOrder(r, {R"(Trying .*\\jre\\bin\\server\\jvm\.dll \(exists 0\))",
                    R"(Trying .*\\client\\jvm\.dll \(exists 1\))"});
  EXPECT_EQ(count(r, "Trying "), 4) << dump(r);  // with "Trying to load JVM-DLL from"

  set(ConfigKey::preferredVmType, "");
  runtime(path("jdk"), Runtime().withVm(nullptr));
  makeDirs(path("jdk\\jre\\bin\\server"));
  copyStandin("jvm.dll", path("jdk\\jre\\bin\\server\\jvm.dll"));
  set(ConfigKey::jreSearchSequence, "A" + path("jdk"));
  r = search();
  expectLoaded(r, "\\jdk\\bin\\java.exe");
  EXPECT_TRUE(loaded(path("jdk\\jre\\bin")));
  expectInOrder(r, {R"(Trying .*\\jdk\\bin\\classic\\jvm\.dll \(exists 0\))",
                    R"(Trying .*\\jdk\\bin\\\.\.\\jre\\bin\\server\\jvm\.dll \(exists 1\))"});
}

TEST_F(Search, OneMessagePerFailureKind) {
  // A library without the entry point, or none at all, found by each kind of step.
  runtime(path("dir"), Runtime().withLibrary("jvm_noentry.dll"));
  runtime(path("env"), Runtime().withVm(nullptr));
  setVariable("KERNO_GLUE_JAVA", path("env"));
  std::string onPath = runtime(path("onpath"), Runtime().withLibrary("jvm_noentry.dll"));
  std::string loc = runtime(path("loc"), Runtime().withLibrary("jvm_noentry.dll"));
  located(HKEY_CURRENT_USER, loc);
  ScopedVariable searchPath("PATH", (onPath + ";" + environmentValue("PATH")).c_str());
  const struct {
    std::string sequence;
    const char* message;
    bool noHandle;
  } cases[] = {{"B.\\dir", "defined damaged: .\\dir", false},
               {"EKERNO_GLUE_JAVA", "env invalid: KERNO_GLUE_JAVA", true},
               {"S", "path damaged", false},
               {"Y", "start failed", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sequence);
    set(ConfigKey::jreSearchSequence, c.sequence);
    Result r = search();
    expectFailed(r, c.message);
    EXPECT_EQ(count(r, "ERROR: Could not get DLL-Handle."), c.noHandle ? 1 : 0) << dump(r);
    EXPECT_EQ(count(r, "ERROR: Could not load functions"), 1) << dump(r);
  }

  // A location file names its line.
  makeDirs(path(".brindle"));
  ASSERT_TRUE(writeFile(path(".brindle\\pref_jre.cfg"), "dir\n"));
  set(ConfigKey::jreSearchSequence, "");
  expectFailed(search(), "defined damaged: dir");
}

TEST_F(Search, APackedRuntimeWithoutItsUnpackerIsInternalError20) {
  runtime(path("jre"));
  makeDirs(path("jre\\lib"));
  ASSERT_TRUE(writeFile(path("jre\\lib\\rt.jar.pack"), "packed"));
  set(ConfigKey::jreSearchSequence, "B.\\jre");
  EXPECT_EXIT((void)LoadDLL(), ::testing::ExitedWithCode(1), "internal error 20");
}

TEST_F(Search, ARuntimeOfTheOtherBitnessIsSkipped) {
  const bool x64 = sizeof(void*) == 8;
  const char* otherTree = x64 ? "win32" : "win64";
  if (!exists(standinDir(otherTree) + "jvm.dll")) GTEST_SKIP() << "no " << standinDir(otherTree) << "jvm.dll";
  const std::string own = x64 ? "64-bit" : "32-bit", other = x64 ? "32-bit" : "64-bit";
  std::string otherBin = runtime(path("other"));
  copyStandin("jvm.dll", otherBin + "\\server\\jvm.dll", otherTree);
  std::string ownBin = runtime(path("own"));
  std::string skipped = R"(Skipping .*\\other\\bin\\java\.exe: its JVM library .*\\other\\bin\\server\\jvm\.dll is )" +
                        other + ", this launcher is " + own;

  set(ConfigKey::jreSearchSequence, "B.\\other;B.\\own");
  Result r = search();
  expectLoaded(r, "\\own\\bin\\java.exe");
  EXPECT_TRUE(loaded(ownBin));
  EXPECT_FALSE(loaded(otherBin));
  expectInOrder(r, {R"(Testing location \.\\other \(type B\))", "file exists", skipped.c_str(),
                    "checkJavaExe returning 0", R"(Testing location \.\\own \(type B\))"});

  // Nothing else: the fallback pass skips it too, and the message says why.
  set(ConfigKey::jreSearchSequence, "B.\\other");
  r = search();
  expectFailed(r, "no jvm\r\nThe Java runtime found is " + other + "; this program needs a " + own +
                      " Java runtime.");
  expectInOrder(r, {skipped.c_str(), R"(Testing relative location \.\\other)", skipped.c_str(),
                    "ERROR: No JVM found"});
}

}  // namespace
