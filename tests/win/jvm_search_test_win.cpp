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

#include "common/launcher_state.h"
#include "config/messages_win.h"
#include "jvm/win_loader_win.h"
#include "files_test_support_win.h"

namespace {

using files_test::exists;
using files_test::readFile;

std::vector<std::string> gMessages;
void collectMessage(const std::string& text) { gMessages.push_back(text.substr(0, text.find("\n\nLog: "))); }

std::string buildStandinDir(const char* tree) {
  char path[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string dir(path, n);
  dir = dir.substr(0, dir.rfind('\\'));  // ...\<tree>\tests\win
  dir = dir.substr(0, dir.rfind('\\'));  // ...\<tree>\tests
  if (tree != nullptr) {
    std::string own = dir.substr(0, dir.rfind('\\'));  // ...\<tree>
    dir = own.substr(0, own.rfind('\\') + 1) + tree + "\\tests";
  }
  return dir + "\\standins\\";
}
const std::string& standins() {
  static const std::string dir = buildStandinDir(nullptr);
  return dir;
}

void copy(const std::string& from, const std::string& to) {
  ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from << " -> " << to;
}

void makeDirs(const std::string& path) {
  for (size_t pos = path.find('\\', 3); pos != std::string::npos; pos = path.find('\\', pos + 1)) {
    CreateDirectoryA(path.substr(0, pos).c_str(), nullptr);
  }
  CreateDirectoryA(path.c_str(), nullptr);
}

void setRegistryString(HKEY root, const std::string& key, const char* name, const std::string& value) {
  HKEY h;
  ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_SUCCESS)
      << key;
  if (name != nullptr) {
    RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), DWORD(value.size() + 1));
  }
  RegCloseKey(h);
}

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
  bool javaw = false;
  bool tools = false;         // lib\tools.jar

  static Runtime of(std::string v) { Runtime r; r.version = std::move(v); return r; }
  static Runtime saying(std::string b, int code = -1) { Runtime r; r.banner = std::move(b); r.exitCode = code; return r; }
  Runtime& inJre() { where = "jre"; return *this; }
  Runtime& withVm(const char* v) { vm = v; return *this; }
  Runtime& withLibrary(std::string l) { library = std::move(l); return *this; }
  Runtime& withJavaw() { javaw = true; return *this; }
  Runtime& withTools() { tools = true; return *this; }
};

class Search : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(user_.ok());
    root_ = files_test::makeScratchDir("search");
    savedPaths_ = launcher().paths;
    launcher().paths.exeDirectory = root_ + "\\";
    launcher().paths.exeDirectoryComputed = true;
    launcher().messages.mode = MessageMode::console;
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
    launcher().messages.mode = MessageMode::messageBox;
    launcher().paths = savedPaths_;
    launcher().config = ConfigTables{};
    launcher().jvm = JvmState{};
    launcher().flavour = LauncherFlavour::none;
    files_test::removeTree(root_);
  }

  void set(ConfigKey key, const std::string& value) { launcher().config.narrow[int32_t(key)] = value; }
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
    copy(standins() + "java.exe", bindir + "\\java.exe");
    if (r.javaw) copy(standins() + "java.exe", bindir + "\\javaw.exe");
    std::string config =
        "banner=" + (r.banner.empty() ? "java version \"" + r.version + "\"" : r.banner) + "\n";
    if (r.exitCode >= 0) config += "exit=" + std::to_string(r.exitCode) + "\n";
    EXPECT_TRUE(files_test::writeFile(bindir + "\\java-standin.cfg", config));
    if (r.vm != nullptr) {
      makeDirs(bindir + "\\" + r.vm);
      copy(standins() + r.library, bindir + "\\" + r.vm + "\\jvm.dll");
    }
    if (r.tools) {
      makeDirs(home + "\\lib");
      EXPECT_TRUE(files_test::writeFile(home + "\\lib\\tools.jar", ""));
    }
    return bindir;
  }

  static int runs(const std::string& bindir) {
    std::string text = readFile(bindir + "\\java-standin.runs");
    int lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
  }
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
    files_test::CapturedLog log;
    gMessages.clear();
    launcher().jvm = JvmState{};
    Result r;
    r.ok = LoadDLL();
    r.log = log.lines();
    r.messages = gMessages;
    r.exe = launcher().jvm.javaExe;
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
    std::string lowerExe = r.exe, lowerTail = tail;
    for (char& c : lowerExe) c = char(tolower(static_cast<unsigned char>(c)));
    for (char& c : lowerTail) c = char(tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(lowerExe.size() >= tail.size() && lowerExe.compare(lowerExe.size() - tail.size(), tail.size(),
                                                                   lowerTail) == 0)
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
  files_test::PrivateCurrentUser user_;
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
  char oldPath[32768];
  DWORD n = GetEnvironmentVariableA("PATH", oldPath, sizeof oldPath);
  setVariable("PATH", onPath + ";" + std::string(oldPath, n < sizeof oldPath ? n : 0));
  set(ConfigKey::jreSearchSequence, "S");
  r = search();
  SetEnvironmentVariableA("PATH", std::string(oldPath, n < sizeof oldPath ? n : 0).c_str());
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

  set(ConfigKey::jreSearchSequence, "A" + path("jre"));
  r = search();
  expectFailed(r, "no jvm");
  EXPECT_EQ(count(r, "Testing relative location"), 0) << dump(r);
}

TEST_F(Search, LocationFilesBeforeAndAfterTheSequence) {
  makeDirs(path(".brindle"));
  ASSERT_TRUE(files_test::writeFile(path(".brindle\\pref_jre.cfg"), "pref\r\nignored\r\n"));
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
  ASSERT_TRUE(files_test::writeFile(path("install\\.brindle\\inst_jre.cfg"), "inst\n"));
  set(ConfigKey::installationDirectory, ".\\install");
  set(ConfigKey::jreSearchSequence, "Y");
  runtime(path("inst"));
  r = search();
  expectLoaded(r, "\\inst\\bin\\java.exe");
  expectInOrder(r, {"Search sequence finished", "Has installer location inst", "Using installer location"});
}

TEST_F(Search, TheFlavourChoosesTheProductHomeVariable) {
  std::string kerno = runtime(path("kerno"));
  std::string brindle = runtime(path("brindle"));
  setVariable("KERNO_JAVA_HOME", path("kerno"));
  setVariable("BRINDLE_JAVA_HOME", path("brindle"));
  set(ConfigKey::jreSearchSequence, "");
  const struct {
    LauncherFlavour flavour;
    const char* chosen;
  } cases[] = {{LauncherFlavour::kerno, "\\kerno\\bin\\java.exe"},
               {LauncherFlavour::brindle, "\\brindle\\bin\\java.exe"},
               {LauncherFlavour::none, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.flavour));
    launcher().flavour = c.flavour;
    Result r = search();
    if (c.chosen != nullptr) {
      expectLoaded(r, c.chosen);
      EXPECT_EQ(count(r, "checkJavaExe returning"), 1) << dump(r);
    } else {
      expectFailed(r, "no jvm");
      EXPECT_EQ(count(r, "checkJavaExe"), 0) << dump(r);
    }
  }
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
  runtime(path("jdk"), Runtime().inJre().withTools());
  javasoft(kJdk, "1.8", {{"1.8", path("jdk")}});
  javasoft(kJre, "1.7", {{"1.7", path("absent")}});
  set(ConfigKey::requireJdk, "1");
  r = search();
  expectLoaded(r, "\\jdk\\jre\\bin\\java.exe");
}

TEST_F(Search, VersionRules) {
  struct Case {
    Runtime runtime;
    const char* minVersion;
    const char* maxVersion;
    bool accepted;
    const char* logged;
  };
  const Case cases[] = {
      {Runtime::saying("openjdk version \"17.0.2\" 2022-01-18"), "17", "17", true, "got version from execution 17.0.2"},
      {Runtime::saying("java version \"1.8.0\"", 1), "", "", false, "couldn't get version"},
      {Runtime::saying("java version 1.8.0"), "", "", false, "couldn't get version"},
      {Runtime::saying("java version \"1.8.0"), "", "", false, "couldn't get version"},
      {Runtime::of("1.8.0-ea"), "", "", false, "checkJavaExe returning 0"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.runtime.banner + c.runtime.version);
    std::string home = path("e" + std::to_string(++n));
    runtime(home, c.runtime);
    setVariable("KERNO_GLUE_JAVA", home);
    set(ConfigKey::jreSearchSequence, "EKERNO_GLUE_JAVA");
    set(ConfigKey::minJavaVersion, c.minVersion);
    set(ConfigKey::maxJavaVersion, c.maxVersion);
    Result r = search();
    if (c.accepted) {
      expectLoaded(r, "\\bin\\java.exe");
    } else {
      expectFailed(r, "no jvm");
    }
    expectInOrder(r, {"file exists", c.logged});
  }
  // A pre-release: with key 130, or from a configured directory.
  set(ConfigKey::minJavaVersion, "");
  set(ConfigKey::maxJavaVersion, "");
  set(ConfigKey::allowBetaJre, "1");
  expectLoaded(search(), "\\e5\\bin\\java.exe");
  set(ConfigKey::allowBetaJre, "");
  set(ConfigKey::jreSearchSequence, "A" + path("e5"));
  expectLoaded(search(), "\\e5\\bin\\java.exe");
}

TEST_F(Search, JavawAndTheDevelopmentKitRequirement) {
  std::string bindir = runtime(path("jre"), Runtime().withJavaw());
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
  ASSERT_TRUE(files_test::writeFile(path("kit\\lib\\tools.jar"), ""));
  expectLoaded(search(), "\\kit\\jre\\bin\\java.exe");
}

TEST_F(Search, LibraryTypesInOrderAndTheKitsJre) {
  std::string bindir = runtime(path("jre"), Runtime().withVm("client"));
  set(ConfigKey::jreSearchSequence, "B.\\jre");
  set(ConfigKey::preferredVmType, "server");
  Result r = search();
  expectLoaded(r, "\\jre\\bin\\java.exe");
  EXPECT_TRUE(loaded(bindir, "client"));
  std::vector<std::string> tries;
  for (const std::string& line : r.log) {
    if (line.rfind("Trying ", 0) == 0 && line.find("jvm.dll") != std::string::npos) {
      tries.push_back(line.substr(line.find("\\bin\\") + 5));
    }
  }
  EXPECT_EQ(tries, (std::vector<std::string>{"server\\jvm.dll (exists 0)", "hotspot\\jvm.dll (exists 0)",
                                             "client\\jvm.dll (exists 1)"}));

  set(ConfigKey::preferredVmType, "");
  runtime(path("jdk"), Runtime().withVm(nullptr));
  makeDirs(path("jdk\\jre\\bin\\server"));
  copy(standins() + "jvm.dll", path("jdk\\jre\\bin\\server\\jvm.dll"));
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
  char oldPath[32768];
  DWORD n = GetEnvironmentVariableA("PATH", oldPath, sizeof oldPath);
  std::string saved(oldPath, n < sizeof oldPath ? n : 0);
  setVariable("PATH", onPath + ";" + saved);
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
  SetEnvironmentVariableA("PATH", saved.c_str());

  // A location file names its line.
  makeDirs(path(".brindle"));
  ASSERT_TRUE(files_test::writeFile(path(".brindle\\pref_jre.cfg"), "dir\n"));
  set(ConfigKey::jreSearchSequence, "");
  expectFailed(search(), "defined damaged: dir");
}

TEST_F(Search, APackedRuntimeWithoutItsUnpackerIsInternalError20) {
  runtime(path("jre"));
  makeDirs(path("jre\\lib"));
  ASSERT_TRUE(files_test::writeFile(path("jre\\lib\\rt.jar.pack"), "packed"));
  set(ConfigKey::jreSearchSequence, "B.\\jre");
  EXPECT_EXIT((void)LoadDLL(), ::testing::ExitedWithCode(1), "internal error 20");
}

TEST_F(Search, ARuntimeOfTheOtherBitnessIsSkipped) {
  const bool x64 = sizeof(void*) == 8;
  std::string otherDll = buildStandinDir(x64 ? "win32" : "win64") + "jvm.dll";
  if (!exists(otherDll)) GTEST_SKIP() << "no " << otherDll;
  const std::string own = x64 ? "64-bit" : "32-bit", other = x64 ? "32-bit" : "64-bit";
  std::string otherBin = runtime(path("other"));
  copy(otherDll, otherBin + "\\server\\jvm.dll");
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
