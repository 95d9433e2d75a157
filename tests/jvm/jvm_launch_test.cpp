// The launch against a real HotSpot: every case starts kerno_jvm_child (one
// VM per process) and checks its exit code, its log lines, the VM's own
// output and the files the runtime jar and the test application wrote.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <tuple>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int exitCode = -1;
  std::vector<std::string> log;  // the child's standard output, by line
  std::string vmOutput;          // its standard error: what the VM printed
};

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

bool contains(const std::vector<std::string>& log, const std::string& line) {
  return std::find(log.begin(), log.end(), line) != log.end();
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// A fresh directory for the running test.
fs::path workDir() {
  fs::path dir = fs::path(KERNO_JVM_WORK_DIR) /
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

std::string bothJars() { return std::string(KERNO_RUNTIME_JAR) + ":" + KERNO_TESTAPP_JAR; }

// VM parameters every case uses: HotSpot's checks of every JNI call (a
// misuse prints "... in native method: ..." or aborts), a small heap, no
// shared performance file, and where the test application writes its report.
std::string baseParameters(const fs::path& dir) {
  return "-Xcheck:jni -Xmx64m -XX:-UsePerfData \"-Dkerno.test.report=" + (dir / "report").string() + "\"";
}

// Starts the child with `options` (name, value pairs) and launch arguments;
// finishChild waits for it and reads what it left.
pid_t startChild(const fs::path& dir, std::vector<std::string> options,
                 const std::vector<std::string>& launchArguments) {
  std::vector<std::string> args = {KERNO_JVM_CHILD, "--libjvm", KERNO_LIBJVM, "--exit-marker",
                                   (dir / "exit-marker").string()};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back("--");
  args.insert(args.end(), launchArguments.begin(), launchArguments.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  // HotSpot handles SIGSEGV itself and keeps memory to the end; the
  // sanitizers of the child must leave both alone.
  std::vector<std::string> env = {
      "ASAN_OPTIONS=detect_leaks=0:handle_segv=0:allow_user_segv_handler=1"};
  for (char** e = environ; *e != nullptr; ++e) {
    if (!startsWith(*e, "ASAN_OPTIONS=")) env.emplace_back(*e);
  }
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);

  fs::path out = dir / "child.out";
  fs::path err = dir / "child.err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(spawned);
    return -1;
  }
  return pid;
}

Outcome finishChild(const fs::path& dir, pid_t pid) {
  Outcome outcome;
  if (pid < 0) return outcome;
  fs::path out = dir / "child.out";
  fs::path err = dir / "child.err";
  int status = 0;
  waitpid(pid, &status, 0);
  outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  outcome.log = lines(readFile(out));
  outcome.vmOutput = readFile(err);
  // The JNI checks print to standard output or standard error.
  EXPECT_EQ((readFile(out) + outcome.vmOutput).find("in native method"), std::string::npos)
      << "the launch code misused JNI:\n" << readFile(out) << outcome.vmOutput;
  return outcome;
}

Outcome runChild(const fs::path& dir, std::vector<std::string> options,
                 const std::vector<std::string>& launchArguments) {
  return finishChild(dir, startChild(dir, std::move(options), launchArguments));
}

std::string describe(const Outcome& outcome) {
  std::string text = "exit code " + std::to_string(outcome.exitCode) + "\n--- log\n";
  for (const std::string& line : outcome.log) text += line + "\n";
  return text + "--- VM output\n" + outcome.vmOutput;
}

// RotationApp's lines ("w<writer> <number> <padding>") in file order: each
// whole, each writer's numbers one after the other; `next` receives each
// writer's next number, `fromZero`: the first must be 0.
void checkWriterLines(const std::vector<std::string>& all, std::vector<int>& next, bool fromZero) {
  for (const std::string& line : all) {
    int writer = -1, number = -1, used = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "w%d %d %n", &writer, &number, &used), 2) << line;
    ASSERT_TRUE(writer >= 0 && size_t(writer) < next.size()) << line;
    EXPECT_EQ(line.size() - size_t(used), size_t((number * 7 + writer) % 50)) << line;
    if (next[size_t(writer)] >= 0) {
      EXPECT_EQ(number, next[size_t(writer)]) << line;
    } else if (fromZero) {
      EXPECT_EQ(number, 0) << line;
    }
    next[size_t(writer)] = number + 1;
  }
}

}  // namespace

TEST(JvmLaunch, MainGetsTheParameterLayoutOnItsOwnThread) {
  fs::path dir = workDir();
  Outcome outcome =
      runChild(dir,
               {"--class-path", bothJars(), "--vm-parameters", baseParameters(dir), "--arguments",
                "one \"two three\"", "--j-options", "1", "--await", "1"},
               {"KernoTest", "-J-Dkerno.test.j=from-J", "x y", "\xC3\xA9\xE2\x82\xAC"});
  ASSERT_EQ(outcome.exitCode, 0) << describe(outcome);

  // The service name and the -J argument are not the application's. The
  // native library path is the launcher's, not the VM's own from the
  // library search variable and the current directory.
  EXPECT_EQ(readFile(dir / "report"),
            "thread=main\ndaemon=false\nargc=4\narg=one\narg=two three\narg=x y\n"
            "arg=\xC3\xA9\xE2\x82\xAC\nproperty=from-J\n"
            "libraryPath=/opt/kerno;/opt/kerno/native;/opt/jre/bin\nshutdown hook ran\n");

  // The request ended the process through its normal exit path: the
  // process's exit handlers and the application's shutdown hooks ran, and
  // the request did not come back.
  EXPECT_EQ(readFile(dir / "exit-marker"), "exit handler ran\n");
  EXPECT_FALSE(contains(outcome.log, "INFO: requestVmExit returned")) << describe(outcome);
}

// The error file exists already, the output file's directories do not; two
// spellings of one file give one stream.
TEST(JvmLaunch, OutputGoesToTheRedirectFilesAppending) {
  fs::path dir = workDir();
  { std::ofstream(dir / "err.log") << "earlier\n"; }
  const fs::path out = dir / "logs" / "deeper" / "out.log", both = dir / "both.log";
  const std::vector<std::pair<fs::path, fs::path>> cases = {{out, dir / "err.log"}, {both, dir / "." / "both.log"}};
  for (const auto& [stdoutFile, stderrFile] : cases) {
    Outcome outcome = runChild(dir,
                               {"--class-path", bothJars(), "--vm-parameters", baseParameters(dir), "--stdout",
                                stdoutFile.string(), "--stderr", stderrFile.string(), "--await", "1"},
                               {"KernoTest"});
    ASSERT_EQ(outcome.exitCode, 0) << describe(outcome);
  }
  EXPECT_EQ(readFile(out), "out line 1\nout line 2\n");
  EXPECT_EQ(readFile(dir / "err.log"), "earlier\nerr line 1\n");
  EXPECT_EQ(readFile(both), "out line 1\nerr line 1\nout line 2\n");
}

// Failed launches: what the VM and the runtime jar say and how the launch
// code ends (the log layout around them is the unit tier's).
TEST(JvmLaunch, FailedLaunchesEndWithTheVmsDescription) {
  struct Case {
    std::vector<std::string> options;
    int exitCode;
    const char* logLine;
    const char* vmOutput;
  };
  const Case cases[] = {
      // WinLauncher.main throws.
      {{"--main-class", "com.kerno.testapp.Missing"}, 3, "ERROR: an exception occured",
       "java.lang.ClassNotFoundException: com.kerno.testapp.Missing"},
      {{"--main-class", "com.kerno.testapp.NoMain"}, 3, "ERROR: could not call main",
       "java.lang.NoSuchMethodException: com.kerno.testapp.NoMain.main"},
      // Without the runtime jar on the class path: the launcher class, or the
      // first-run hook class, is missing.
      {{"--class-path", KERNO_TESTAPP_JAR}, 1, "ERROR: could not find main class", ""},
      {{"--class-path", KERNO_TESTAPP_JAR, "--flavour", "i", "--marker", "1"}, 1, "FATAL: 1009 14", ""},
      // A VM that cannot be created.
      {{"--vm-parameters", "-Xcheck:jni -XX:MaxHeapSize=abc"}, 3, "ERROR: could not initialize JVM",
       "Invalid maximum heap size"},
  };
  for (const Case& c : cases) {
    fs::path dir = workDir();
    std::vector<std::string> options = {"--class-path", bothJars(), "--vm-parameters", baseParameters(dir)};
    options.insert(options.end(), c.options.begin(), c.options.end());  // the last of a name counts
    Outcome outcome = runChild(dir, options, {"KernoTest"});
    EXPECT_EQ(outcome.exitCode, c.exitCode) << describe(outcome);
    EXPECT_TRUE(contains(outcome.log, c.logLine)) << describe(outcome);
    EXPECT_NE(outcome.vmOutput.find(c.vmOutput), std::string::npos) << describe(outcome);
    EXPECT_FALSE(fs::exists(dir / "report"));
  }
}

TEST(JvmLaunch, FirstRunHookDecidesWhetherMainIsCalled) {
  struct Case {
    const char* extraParameters;
    bool mainCalled;
  };
  const Case cases[] = {
      {"", true},
      {" -Dkerno.firstRun=false", false},
      {" -Dkerno.firstRun=FALSE", false},
      {" -Dkerno.firstRun=true", true},
  };
  for (const Case& c : cases) {
    fs::path dir = workDir();
    Outcome outcome =
        runChild(dir,
                 {"--class-path", bothJars(), "--flavour", "i", "--marker", "1", "--vm-parameters",
                  baseParameters(dir) + c.extraParameters, "--await", c.mainCalled ? "1" : "0"},
                 {"KernoTest"});
    ASSERT_EQ(outcome.exitCode, 0) << describe(outcome);
    EXPECT_TRUE(contains(outcome.log, "INFO: vmoption 0: -Dkerno.isBrindle=true"));
    EXPECT_EQ(contains(outcome.log, "INFO: checkFirstRun stopped further execution"), !c.mainCalled)
        << describe(outcome);
    EXPECT_EQ(contains(outcome.log, "INFO: calling main"), c.mainCalled) << describe(outcome);
    EXPECT_TRUE(contains(outcome.log, "INFO: launch done")) << describe(outcome);
    EXPECT_EQ(fs::exists(dir / "report"), c.mainCalled) << c.extraParameters;
  }
}

// Size-based rotation of the output files: writers on several threads, both
// streams into one file. Nothing is lost across the rotations, every line
// stays whole, each writer's lines keep their order, and the oldest files
// beyond `keep` go.
TEST(JvmLaunch, OutputRotationLosesNothingAndKeepsOrder) {
  struct Case {
    const char* rotation;
    size_t maxBytes;
    size_t keep;
    bool everythingKept;
  };
  const Case cases[] = {{"8192,99", 8192, 99, true}, {"8192,2", 8192, 2, false}};
  const int kThreads = 4, kLines = 1500;
  for (const Case& c : cases) {
    fs::path dir = workDir();
    fs::path base = dir / "logs" / "service-output.log";
    Outcome outcome = runChild(
        dir,
        {"--class-path", bothJars(), "--main-class", "com.kerno.testapp.RotationApp", "--vm-parameters",
         baseParameters(dir) + " -Dkerno.test.threads=" + std::to_string(kThreads) +
             " -Dkerno.test.lines=" + std::to_string(kLines),
         "--stdout", base.string(), "--stderr", base.string(), "--output-rotation", c.rotation,
         "--await", "1"},
        {"KernoTest"});
    ASSERT_EQ(outcome.exitCode, 0) << describe(outcome);

    // Oldest first: .keep ... .1, then the current file.
    std::vector<std::string> all;
    size_t files = 1;
    for (size_t n = c.keep; n >= 1; --n) {
      fs::path file = base.string() + "." + std::to_string(n);
      if (!fs::exists(file)) continue;
      ++files;
      std::string text = readFile(file);
      // A rotated file is full, and it ends at a line end.
      EXPECT_GE(text.size(), c.maxBytes) << file;
      EXPECT_LT(text.size(), c.maxBytes + 100) << file;
      EXPECT_EQ(text.back(), '\n') << file;
      for (std::string& line : lines(text)) all.push_back(line);
    }
    EXPECT_FALSE(fs::exists(base.string() + "." + std::to_string(c.keep + 1)));
    for (std::string& line : lines(readFile(base))) all.push_back(line);
    if (!c.everythingKept) {
      EXPECT_EQ(files, c.keep + 1);
    }

    // Per writer, the numbers follow each other without a gap; with
    // everything kept they start at 0.
    std::vector<int> next(kThreads, -1);
    checkWriterLines(all, next, c.everythingKept);
    // Every writer seen ends with its last line (with few files kept, a
    // writer that finished early may have gone out of them entirely).
    for (int w = 0; w < kThreads; ++w) {
      if (c.everythingKept || next[w] >= 0) {
        EXPECT_EQ(next[w], kLines) << "writer " << w;
      }
    }
    if (c.everythingKept) {
      EXPECT_EQ(all.size(), size_t(kThreads * kLines));
      EXPECT_GT(files, 10u);
    }
  }
}

TEST(JvmLaunch, WatchdogDumpsAndChecksAgainstTheRealVm) {
  fs::path dir = workDir();
  fs::path dump = dir / "dump.txt";
  Outcome outcome = runChild(dir,
                             {"--class-path", bothJars(), "--main-class", "com.kerno.testapp.WatchdogApp",
                              "--vm-parameters", baseParameters(dir), "--await", "1", "--health", dump.string()},
                             {"KernoTest"});
  ASSERT_EQ(outcome.exitCode, 0) << describe(outcome);
  auto answer = [&outcome](const std::string& check) {
    std::vector<std::string> found;
    for (const std::string& line : outcome.log)
      if (startsWith(line, "CHECK: " + check + ": ")) found.push_back(line.substr(9 + check.size()));
    return found;
  };
  EXPECT_EQ(answer("dump"), std::vector<std::string>{"ok"}) << describe(outcome);
  std::string text = readFile(dump);
  // The application's threads with their whole stacks, beyond the eight
  // frames ThreadInfo.toString would show, and the VM's own deadlock report.
  for (const char* thread : {"\"kerno-deep-stack\"", "\"kerno-deadlock-a\"", "\"service-main\""})
    EXPECT_NE(text.find(thread), std::string::npos) << thread << "\n" << text;
  // The launcher's own thread says what it is: a "main" is the
  // application's (whose main may be returning at this moment), and only one.
  EXPECT_EQ(text.find("\"main\""), text.rfind("\"main\"")) << text;
  size_t deep = 0;
  for (size_t at = text.find("WatchdogApp.deep("); at != std::string::npos; at = text.find("WatchdogApp.deep(", at + 1)) ++deep;
  EXPECT_GE(deep, 21u) << text;
  EXPECT_NE(text.find("Found one Java-level deadlock"), std::string::npos) << text;

  const std::pair<std::string, std::vector<std::string>> expected[] = {
      {"deadlock", {}},  // checked below: it names both threads
      {"method=com.kerno.testapp.WatchdogApp.healthy", {"ok"}},
      {"method=com.kerno.testapp.WatchdogApp.answersFalse", {"failed: com.kerno.testapp.WatchdogApp.answersFalse returned false"}},
      {"method=com.kerno.testapp.WatchdogApp.throwsIllegalState",
       {"failed: com.kerno.testapp.WatchdogApp.throwsIllegalState threw java.lang.IllegalStateException: the pool is exhausted"}},
      {"method=com.kerno.testapp.WatchdogApp.blocks", {"no answer within the time-out"}},
  };
  for (const auto& [check, lines] : expected) {
    if (!lines.empty()) {
      EXPECT_EQ(answer(check), lines) << describe(outcome);
    }
  }
  std::vector<std::string> deadlock = answer("deadlock");
  ASSERT_EQ(deadlock.size(), 1u) << describe(outcome);
  EXPECT_TRUE(startsWith(deadlock[0], "failed: deadlocked threads:") &&
              deadlock[0].find("\"kerno-deadlock-a\"") != std::string::npos &&
              deadlock[0].find("\"kerno-deadlock-b\"") != std::string::npos) << deadlock[0];
  std::vector<std::string> heartbeat = answer("heartbeat=1");
  ASSERT_EQ(heartbeat.size(), 2u) << describe(outcome);
  EXPECT_EQ(heartbeat[0], "ok");
  EXPECT_TRUE(startsWith(heartbeat[1], "failed: no heartbeat for ")) << heartbeat[1];
}

// The output files never follow a link: one planted under the output's name
// or a rotated name is replaced (the link itself), and what it points to is
// left alone. The directories and files the runtime jar creates are the
// service's alone (on this POSIX file system: the owner's).
TEST(JvmLaunch, OutputFilesFollowNoLinkAndArePrivate) {
  fs::path dir = workDir();
  fs::path logs = dir / "logs" / "deeper";
  fs::path base = logs / "service-output.log";
  fs::create_directories(dir / "victims");
  std::vector<fs::path> victims;
  for (const char* name : {"current", "one", "two"}) {
    victims.push_back(dir / "victims" / name);
    std::ofstream(victims.back()) << "untouched\n";
  }
  // The links are planted in a directory of the test's making; the
  // directories below it are the runtime jar's.
  fs::create_directories(dir / "logs");
  fs::permissions(dir / "logs", fs::perms::all);
  fs::create_directories(logs);
  fs::permissions(logs, fs::perms::all);
  fs::create_symlink(victims[0], base);
  fs::create_symlink(victims[1], base.string() + ".1");
  fs::create_symlink(victims[2], base.string() + ".2");
  fs::path fresh = dir / "fresh" / "sub" / "out.log";

  Outcome outcome = runChild(
      dir,
      {"--class-path", bothJars(), "--main-class", "com.kerno.testapp.RotationApp", "--vm-parameters",
       baseParameters(dir) + " -Dkerno.test.threads=2 -Dkerno.test.lines=400", "--stdout", base.string(),
       "--stderr", fresh.string(), "--output-rotation", "2048,3", "--await", "1"},
      {"KernoTest"});
  ASSERT_EQ(outcome.exitCode, 0) << describe(outcome);
  for (const fs::path& victim : victims) EXPECT_EQ(readFile(victim), "untouched\n") << victim;
  for (const std::string& name : {base.string(), base.string() + ".1", base.string() + ".2"}) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(name))) << name;
    EXPECT_EQ(fs::status(name).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write)
        << name;
  }
  EXPECT_GT(readFile(fresh).size(), 0u);
  EXPECT_EQ(fs::status(fresh).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  for (const fs::path& made : {dir / "fresh", dir / "fresh" / "sub"})
    EXPECT_EQ(fs::status(made).permissions() & fs::perms::all, fs::perms::owner_all) << made;
}

namespace {

// A port nobody listens on now (the system's choice for a socket bound to
// 0), or, with `keep`, a socket that keeps listening on it on every address.
uint16_t freePort(int* keep = nullptr) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  socklen_t size = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd, 1) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ADD_FAILURE() << "no free port: " << std::strerror(errno);
  }
  if (keep != nullptr) {
    *keep = fd;
  } else {
    close(fd);
  }
  return ntohs(address.sin_port);
}

// Connects to 127.0.0.1:port, trying for up to a minute while the server
// starts; -1 when it never answers or the child ended.
int connectWhenUp(uint16_t port, pid_t child) {
  for (int attempt = 0; attempt < 600; ++attempt) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    close(fd);
    if (waitpid(child, nullptr, WNOHANG) != 0) return -1;
    usleep(100 * 1000);
  }
  return -1;
}

std::string bigEndian(uint32_t n) {
  return {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
}

// One message of the PostgreSQL protocol that H2's server speaks: its type
// (none for the start-up message) and body.
bool sendMessage(int fd, const char* type, const std::string& body) {
  std::string message = std::string(type) + bigEndian(uint32_t(body.size() + 4)) + body;
  return write(fd, message.data(), message.size()) == ssize_t(message.size());
}

// The types of the server's messages up to the next one of type `until`
// ("E" ends it too); at most 20 s.
std::string readMessages(int fd, char until) {
  std::string types;
  for (;;) {
    char header[5];
    size_t have = 0;
    pollfd wait{fd, POLLIN, 0};
    while (have < sizeof header && poll(&wait, 1, 20000) == 1) {
      ssize_t n = read(fd, header + have, sizeof header - have);
      if (n <= 0) return types + "!";
      have += size_t(n);
    }
    if (have < sizeof header) return types + "?";
    uint32_t length = (uint32_t(uint8_t(header[1])) << 24) | (uint32_t(uint8_t(header[2])) << 16) |
                      (uint32_t(uint8_t(header[3])) << 8) | uint8_t(header[4]);
    std::vector<char> body(length > 4 ? length - 4 : 0);
    for (size_t got = 0; got < body.size();) {
      ssize_t n = read(fd, body.data() + got, body.size() - got);
      if (n <= 0) return types + "!";
      got += size_t(n);
    }
    types += header[0];
    if (header[0] == until || header[0] == 'E') return types;
  }
}

std::vector<std::string> h2Options(const fs::path& dir, uint16_t port) {
  return {"--class-path", bothJars() + ":" + KERNO_H2_JAR, "--main-class", "org.h2.tools.Server",
          "--vm-parameters", baseParameters(dir), "--arguments",
          "-pg -pgPort " + std::to_string(port) + " -baseDir " + (dir / "db").string() + " -ifNotExists",
          "--stderr", (dir / "err.log").string(), "--until-end", "1"};
}

size_t indexOf(const std::vector<std::string>& log, const std::string& line) {
  return size_t(std::find(log.begin(), log.end(), line) - log.begin());
}

}  // namespace

// H2's server: it starts, answers on its port (a session that opens a
// database and raises its trace level), shows its threads in a dump, and on
// the stop request its shutdown hook closes the database. The dump and the
// deadlock check come before the exit request, and their threads are gone
// from the VM by then (the stop's time is bench/stop_after_dump.sh's).
TEST(JvmLaunch, RealServerStartsAnswersAndStopsWithItsShutdownHook) {
  using namespace std::string_literals;
  fs::path dir = workDir();
  uint16_t port = freePort();
  std::vector<std::string> options = h2Options(dir, port);
  options.insert(options.end(), {"--stop-file", (dir / "stop").string(), "--health", (dir / "dump.txt").string(),
                                 "--checks", "deadlock"});
  pid_t child = startChild(dir, options, {"KernoTest"});
  int session = connectWhenUp(port, child);
  ASSERT_GE(session, 0) << describe(finishChild(dir, child));
  EXPECT_TRUE(sendMessage(session, "", bigEndian(196608) + "user\0sa\0database\0test\0\0"s));
  EXPECT_EQ(readMessages(session, 'R'), "R");
  EXPECT_TRUE(sendMessage(session, "p", "sa\0"s));
  EXPECT_EQ(readMessages(session, 'Z').back(), 'Z');
  EXPECT_TRUE(sendMessage(session, "Q", "SET TRACE_LEVEL_FILE 2\0"s));
  EXPECT_EQ(readMessages(session, 'Z').back(), 'Z');
  std::ofstream(dir / "stop") << "";
  Outcome outcome = finishChild(dir, child);
  close(session);
  ASSERT_EQ(outcome.exitCode, 0) << describe(outcome);

  std::string dump = readFile(dir / "dump.txt");
  EXPECT_NE(dump.find("\"H2 PG Server"), std::string::npos) << dump;
  EXPECT_NE(dump.find("\"service-main\""), std::string::npos) << dump;
  size_t dumped = indexOf(outcome.log, "CHECK: dump: ok"), checked = indexOf(outcome.log, "CHECK: deadlock: ok"),
         requested = indexOf(outcome.log, "INFO: requesting VM exit"),
         hook = indexOf(outcome.log, "INFO: exit hook: status 0");
  EXPECT_TRUE(dumped < checked && checked < requested && requested < hook && hook < outcome.log.size())
      << describe(outcome);
  EXPECT_NE(readFile(dir / "db" / "test.trace.db").find("database: closing " + (dir / "db" / "test").string() + " from shutdown hook"), std::string::npos)
      << readFile(dir / "db" / "test.trace.db");
}

// H2 with its port taken: its main throws and leaves no thread, so the launch
// ends with the failure code; the whole exception is in the redirected file.
TEST(JvmLaunch, MainThatThrowsEndsTheLaunchWithTheFailureCode) {
  fs::path dir = workDir();
  int taken = -1;
  uint16_t port = freePort(&taken);
  Outcome outcome = runChild(dir, h2Options(dir, port), {"KernoTest"});
  close(taken);
  EXPECT_EQ(outcome.exitCode, 1103 & 0xFF) << describe(outcome);
  EXPECT_TRUE(contains(outcome.log, "INFO: exit hook: status 1103")) << describe(outcome);
  auto threw = std::find_if(outcome.log.begin(), outcome.log.end(), [](const std::string& line) {
    return startsWith(line, "ERROR: the application's main threw org.h2.jdbc.JdbcSQLNonTransientConnectionException: "
                            "Exception opening port");
  });
  EXPECT_NE(threw, outcome.log.end()) << describe(outcome);
  std::string err = readFile(dir / "err.log");
  EXPECT_TRUE(startsWith(err, "Exception in thread \"main\" org.h2.jdbc.JdbcSQLNonTransientConnectionException:"))
      << err;
  EXPECT_NE(err.find("\tat org.h2.tools.Server.main("), std::string::npos) << err;
}

// An application whose main returns and leaves no thread ends the launch
// with 0, its shutdown hook run, as under the java command.
TEST(JvmLaunch, ApplicationThatFinishesEndsTheLaunch) {
  fs::path dir = workDir();
  Outcome outcome = runChild(dir, {"--class-path", bothJars(), "--vm-parameters", baseParameters(dir),
                                   "--until-end", "1"}, {"KernoTest"});
  EXPECT_EQ(outcome.exitCode, 0) << describe(outcome);
  EXPECT_TRUE(contains(outcome.log, "INFO: the application finished")) << describe(outcome);
  std::string report = readFile(dir / "report");
  EXPECT_NE(report.find("shutdown hook ran\n"), std::string::npos) << report;
}

// Daily rotation across a day boundary, made near by the VM's time zone
// (-Duser.timezone=GMT+hh:mm puts local midnight at the next whole minute):
// writers on several threads write through it; a file last changed on an
// earlier day is dated when the run begins. Nothing is lost, no line is
// split, and the files are named by the local day their lines belong to.
TEST(JvmLaunch, DailyRotationAcrossMidnightLosesNothing) {
  fs::path dir = workDir(), logs = dir / "logs", base = logs / "service-output.log";
  fs::create_directories(logs);
  { std::ofstream(base) << "old line\n"; }
  // Midnight: the next whole minute at least 6 s away (the VM starts first).
  long long now = std::chrono::duration_cast<std::chrono::seconds>(
                      std::chrono::system_clock::now().time_since_epoch()).count();
  long long midnight = (now + 6) / 60 * 60 + 60, oldTime = midnight - 2 * 86400 - 3600;
  long long offset = ((86400 - midnight % 86400) % 86400) / 60;  // minutes: local = UTC + offset
  if (offset > 720) offset -= 1440;
  char zone[32];
  std::snprintf(zone, sizeof zone, "GMT%c%02lld:%02lld", offset < 0 ? '-' : '+', std::llabs(offset) / 60,
                std::llabs(offset) % 60);
  auto dated = [offset, &logs](long long utc, int n) {
    std::time_t t = std::time_t(utc + offset * 60);
    std::tm civil{};
    gmtime_r(&t, &civil);
    char day[16];
    std::strftime(day, sizeof day, "%Y-%m-%d", &civil);
    return logs / ("service-output." + std::string(day) + (n ? "." + std::to_string(n) : "") + ".log");
  };
  fs::last_write_time(base, fs::file_time_type::clock::now() - std::chrono::seconds(now - oldTime));
  const int kThreads = 4;
  Outcome outcome = runChild(
      dir,
      {"--class-path", bothJars(), "--main-class", "com.kerno.testapp.RotationApp", "--vm-parameters",
       baseParameters(dir) + " -Duser.timezone=" + zone + " -Dkerno.test.threads=" + std::to_string(kThreads) +
           " -Dkerno.test.untilMillis=" + std::to_string((midnight + 2) * 1000),
       "--stdout", base.string(), "--stderr", base.string(), "--output-rotation", "1048576,99,day", "--await", "1"},
      {"KernoTest"});
  ASSERT_EQ(outcome.exitCode, 0) << describe(outcome);

  EXPECT_EQ(readFile(dated(oldTime, 0)), "old line\n");
  // The day that ended (at least one file), then the new one, then the current file.
  std::vector<std::string> all;
  size_t files = 0;
  for (long long day : {midnight - 1, midnight}) {
    for (int n = 0; fs::exists(dated(day, n)); ++n, ++files)
      for (std::string& line : lines(readFile(dated(day, n)))) all.push_back(line);
    EXPECT_TRUE(files > 0 || day == midnight);
  }
  for (std::string& line : lines(readFile(base))) all.push_back(line);
  EXPECT_EQ(size_t(std::distance(fs::directory_iterator(logs), fs::directory_iterator())), files + 2);
  std::vector<int> next(kThreads, -1);
  checkWriterLines(all, next, true);
  std::string counts;
  for (int w = 0; w < kThreads; ++w) counts += "w" + std::to_string(w) + "=" + std::to_string(next[size_t(w)]) + "\n";
  EXPECT_EQ(readFile(dir / "report"), counts);
}

// The stop method runs before System.exit(0) and the shutdown hooks, on a
// thread of its own, with its arguments; one that throws, blocks past its
// time-out or cannot be found is logged and the process still ends.
TEST(JvmLaunch, StopMethodRunsBeforeTheExitAndNeverHoldsIt) {
  const std::string kStop = "ERROR: the stop method com.kerno.testapp.StopApp.", kHook = "shutdown hook ran\n";
  const std::tuple<const char*, std::string, std::string> cases[] = {
      {"shutdown\ngraceful\nnow", "INFO: stop method returned", "stop method on kerno stop method with graceful|now\n"},
      {"blocks", kStop + "blocks did not return within its time-out of 1 seconds; stopping all the same",
       "stop method blocks\n"},
      {"fails\nx", kStop + "fails threw java.lang.IllegalStateException: cannot stop: x; stopping all the same", ""},
      {"fails", kStop + "fails could not be called: the class com.kerno.testapp.StopApp has no static method fails()V; "
                "stopping all the same", ""}};
  for (const auto& [method, logLine, reported] : cases) {
    fs::path dir = workDir();
    Outcome outcome = runChild(dir, {"--class-path", bothJars(), "--vm-parameters", baseParameters(dir), "--await", "1",
                                     "--stop-method", (method == std::string("blocks") ? "1" : "10") + std::string("\ncom.kerno.testapp.StopApp\n") + method}, {"KernoTest"});
    EXPECT_EQ(outcome.exitCode, 0) << describe(outcome);
    std::string report = readFile(dir / "report"), end = "\n" + reported + kHook;
    EXPECT_EQ(report.substr(report.size() - std::min(report.size(), end.size())), end);
    EXPECT_TRUE(contains(outcome.log, logLine)) << describe(outcome);
    EXPECT_EQ(readFile(dir / "exit-marker"), "exit handler ran\n") << method;
  }
}

namespace {

// The release the JDK of KERNO_LIBJVM names in its release file.
std::string jdkVersion() {
  fs::path home = fs::path(KERNO_LIBJVM).parent_path().parent_path().parent_path();
  std::string text = readFile(home / "release");
  size_t at = text.find("JAVA_VERSION=\"");
  if (at == std::string::npos) return "";
  at += 14;
  return text.substr(at, text.find('"', at) - at);
}

bool anyLineHas(const std::vector<std::string>& log, const std::string& part) {
  return std::any_of(log.begin(), log.end(),
                     [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

}  // namespace

// A real server application (H2, from Debian) started three times with the
// start cache, then with its archive damaged in two ways: the second start
// maps the classes the first one archived, a changed class-path file makes
// another archive, and a damaged one never stops a start.
TEST(JvmLaunch, StartCacheArchivesAndMapsAServersClasses) {
  const fs::path h2 = "/usr/share/java/h2.jar";
  ASSERT_TRUE(fs::exists(h2)) << "libh2-java is not installed (scripts/setup.sh)";
  fs::path dir = workDir();
  fs::path cache = dir / "cache";
  fs::create_directories(cache);
  fs::permissions(cache, fs::perms::owner_all, fs::perm_options::replace);
  fs::copy_file(h2, dir / "h2.jar");
  const std::string version = jdkVersion();
  ASSERT_GE(version.size(), 2u);
  auto start = [&](const std::string& tag) {
    return runChild(dir,
                    {"--class-path", std::string(KERNO_RUNTIME_JAR) + ":" + (dir / "h2.jar").string(),
                     "--main-class", "org.h2.tools.Server", "--arguments", "-tcp -tcpPort 0",
                     "--vm-parameters",
                     "-Xmx64m -XX:-UsePerfData -Xlog:class+load=info:file=" + (dir / tag).string(),
                     "--start-cache", cache.string(), "--java-version", version},
                    {"KernoTest"});
  };
  auto archives = [&] {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(cache)) {
      if (entry.path().extension() == ".jsa") found.push_back(entry.path());
    }
    return found;
  };

  Outcome first = start("load1");
  ASSERT_EQ(first.exitCode, 0) << describe(first);
  ASSERT_TRUE(anyLineHas(first.log, "INFO: start cache: created at the stop")) << describe(first);
  ASSERT_EQ(archives().size(), 1u);
  const fs::path archive = archives()[0];

  Outcome second = start("load2");
  ASSERT_EQ(second.exitCode, 0) << describe(second);
  EXPECT_TRUE(anyLineHas(second.log, "INFO: start cache: sealed ")) << describe(second);
  EXPECT_TRUE(anyLineHas(second.log, "INFO: start cache: used")) << describe(second);
  EXPECT_NE(readFile(dir / "load2").find("org.h2.tools.Server source: shared objects file (top)"),
            std::string::npos);

  // A changed file on the class path: another key, the old archive goes.
  fs::last_write_time(dir / "h2.jar", fs::last_write_time(dir / "h2.jar") + std::chrono::hours(1));
  Outcome third = start("load3");
  ASSERT_EQ(third.exitCode, 0) << describe(third);
  EXPECT_TRUE(anyLineHas(third.log, "INFO: start cache: created at the stop")) << describe(third);
  ASSERT_EQ(archives().size(), 1u);
  EXPECT_NE(archives()[0], archive);
  ASSERT_EQ(start("load4").exitCode, 0);  // seals the third one's archive

  // Damaged where the seal cannot see it (same size and time): the VM's
  // check refuses it and the launcher removes it; cut short: removed before.
  for (bool cut : {false, true}) {
    const fs::path current = archives()[0];
    auto time = fs::last_write_time(current);
    fs::permissions(current, fs::perms::owner_write, fs::perm_options::add);
    std::string bytes = readFile(current);
    if (cut) {
      bytes.resize(bytes.size() / 2);
    } else {
      bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x5a);
    }
    std::ofstream(current, std::ios::binary | std::ios::trunc) << bytes;
    fs::last_write_time(current, time);
    Outcome damaged = start(cut ? "load5" : "load6");
    ASSERT_EQ(damaged.exitCode, 0) << describe(damaged);
    EXPECT_TRUE(anyLineHas(damaged.log, cut ? "was not written whole by an earlier stop; removed"
                                            : "ERROR: start cache: the VM did not use"))
        << describe(damaged);
    ASSERT_EQ(start(cut ? "load7" : "load8").exitCode, 0);  // writes it anew
    ASSERT_EQ(start(cut ? "load9" : "load10").exitCode, 0);  // and seals it
  }
}
