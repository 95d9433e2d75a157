// The start cache's rules: which options a start gets, the key, the names the
// launcher may remove, the seal and what the VM's log says.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "launch/start_cache.h"
#include "service/status_command.h"

namespace {

using Options = std::vector<std::string>;

TEST(StartCache, FeatureReleaseOfProbedVersions) {
  const std::pair<const char*, int> cases[] = {
      {"1.8.0_292", 8}, {"17.0.2", 17}, {"21", 21}, {"19-ea", 19},
      {"11.0.22+7", 11}, {"1.4.2_05", 4}, {"", 0}, {"openjdk", 0}, {"1.", 0}};
  for (const auto& [version, release] : cases) {
    EXPECT_EQ(javaFeatureRelease(version), release) << version;
  }
}

TEST(StartCache, DecisionTable) {
  const std::string a = "C:\\cache\\Svc-0123456789abcdef.jsa";
  const std::string log = "-Xlog:cds=info,cds+dynamic=info:file=\"C:\\cache\\v.log\"::filecount=0";
  struct Row {
    bool enabled;
    int release;
    ArchiveState archive;
    Options user;
    StartCacheUse use;
    Options options;
    bool remove;
  };
  const Row rows[] = {
      {false, 21, ArchiveState::current, {}, StartCacheUse::off, {}, false},
      {true, 11, ArchiveState::absent, {}, StartCacheUse::tooOld, {}, false},
      {true, 0, ArchiveState::current, {}, StartCacheUse::tooOld, {}, false},
      {true, 17, ArchiveState::current, {"-Xmx1g", "-Xshare:off"}, StartCacheUse::userOwned, {}, false},
      {true, 21, ArchiveState::absent, {"-XX:SharedArchiveFile=x.jsa"}, StartCacheUse::userOwned, {},
       false},
      {true, 17, ArchiveState::absent, {"-Xmx1g"}, StartCacheUse::createAtExit,
       {"-Xshare:auto", "-XX:ArchiveClassesAtExit=" + a, log}, false},
      {true, 13, ArchiveState::unsealed, {}, StartCacheUse::createAtExit,
       {"-Xshare:auto", "-XX:ArchiveClassesAtExit=" + a, log}, true},
      {true, 18, ArchiveState::current, {}, StartCacheUse::use,
       {"-Xshare:auto", "-XX:SharedArchiveFile=" + a, "-XX:+VerifySharedSpaces", log}, false},
      {true, 19, ArchiveState::absent, {}, StartCacheUse::autoCreate,
       {"-Xshare:auto", "-XX:+AutoCreateSharedArchive", "-XX:SharedArchiveFile=" + a, log}, false},
      {true, 21, ArchiveState::current, {}, StartCacheUse::autoCreate,
       {"-Xshare:auto", "-XX:+AutoCreateSharedArchive", "-XX:SharedArchiveFile=" + a,
        "-XX:+VerifySharedSpaces", log},
       false},
      {true, 25, ArchiveState::unsealed, {}, StartCacheUse::autoCreate,
       {"-Xshare:auto", "-XX:+AutoCreateSharedArchive", "-XX:SharedArchiveFile=" + a, log}, true},
  };
  for (const Row& row : rows) {
    StartCacheInputs in;
    in.enabled = row.enabled;
    in.featureRelease = row.release;
    in.archive = row.archive;
    in.archivePath = a;
    in.vmLogPath = "C:\\cache\\v.log";
    in.userOptions = row.user;
    StartCachePlan plan = planStartCache(in);
    SCOPED_TRACE(std::to_string(row.release) + " " + std::string(startCacheUseName(row.use)));
    EXPECT_EQ(plan.use, row.use);
    EXPECT_EQ(plan.options, row.options);
    EXPECT_EQ(plan.removeArchive, row.remove);
  }
}

TEST(StartCache, OptionsThatTakeTheArchiveOver) {
  for (const char* option : {"-XX:SharedArchiveFile=a", "-XX:ArchiveClassesAtExit=b",
                             "-XX:+AutoCreateSharedArchive", "-XX:-AutoCreateSharedArchive",
                             "-Xshare:off", "-Xshare:on", "-XX:-VerifySharedSpaces"}) {
    EXPECT_TRUE(namesClassDataOption(option)) << option;
  }
  for (const char* option : {"-Xmx1g", "-XX:+UseG1GC", "-Dx=-Xshare:off", "-Xshar"}) {
    EXPECT_FALSE(namesClassDataOption(option)) << option;
  }
}

TEST(StartCache, KeyFollowsRuntimeAndClassPath) {
  std::vector<ClassPathFileFacts> files = {{"C:\\app\\a.jar", true, 100, 5},
                                           {"C:\\app\\b.jar", true, 200, 6}};
  const std::string key = startCacheKey("C:\\Java\\bin\\java.exe", "17.0.2", files);
  EXPECT_EQ(key.size(), 16u);
  EXPECT_EQ(startCacheKey("c:\\java\\BIN\\java.exe", "17.0.2", files), key);
  EXPECT_NE(startCacheKey("C:\\Java\\bin\\java.exe", "17.0.3", files), key);
  EXPECT_NE(startCacheKey("D:\\Java\\bin\\java.exe", "17.0.2", files), key);
  for (int field = 0; field < 4; ++field) {
    std::vector<ClassPathFileFacts> changed = files;
    ClassPathFileFacts& f = changed[1];
    if (field == 0) f.path = "C:\\app\\c.jar";
    if (field == 1) f.present = false;
    if (field == 2) f.size = 201;
    if (field == 3) f.lastWrite = 7;
    EXPECT_NE(startCacheKey("C:\\Java\\bin\\java.exe", "17.0.2", changed), key) << field;
  }
  std::vector<ClassPathFileFacts> swapped = {files[1], files[0]};
  EXPECT_NE(startCacheKey("C:\\Java\\bin\\java.exe", "17.0.2", swapped), key);
}

TEST(StartCache, NamesAndSeal) {
  EXPECT_EQ(classPathElements("-Djava.class.path=C:\\a.jar;;C:\\lib\\b.jar;"),
            (Options{"C:\\a.jar", "C:\\lib\\b.jar"}));
  EXPECT_EQ(classPathElements("/a.jar:/lib/b.jar", ':'), (Options{"/a.jar", "/lib/b.jar"}));
  EXPECT_EQ(startCacheArchiveName("Orders Svc/1", "0123456789abcdef"),
            "Orders_Svc_1-0123456789abcdef.jsa");
  EXPECT_EQ(startCacheArchiveName(std::string(100, 'x'), "k").size(), 64u + 2 + 4);
  EXPECT_TRUE(isServiceCacheFile("Svc-0123456789abcdef.jsa", "Svc"));
  EXPECT_TRUE(isServiceCacheFile("Svc-0123456789abcdef.jsa.seal", "Svc"));
  EXPECT_TRUE(isServiceCacheFile("Svc-0123456789abcdef.jsa.log", "Svc"));
  EXPECT_FALSE(isServiceCacheFile("Svc2-0123456789abcdef.jsa", "Svc"));
  EXPECT_FALSE(isServiceCacheFile("Svc-0123456789ABCDEF.jsa", "Svc"));
  EXPECT_FALSE(isServiceCacheFile("Svc-0123456789abcdef.jsa.bak", "Svc"));
  EXPECT_FALSE(isServiceCacheFile("Svc-01234.jsa", "Svc"));
  EXPECT_TRUE(sealMatches("4500000 133476000000000000\r\n", 4500000, 133476000000000000ull));
  EXPECT_FALSE(sealMatches("4500000 133476000000000000", 4499999, 133476000000000000ull));
  EXPECT_FALSE(sealMatches("0 1", 0, 1));
}

TEST(StartCache, WhatTheVmLogSays) {
  EXPECT_TRUE(vmRefusedArchive(
      "[0.223s][warning][cds,dynamic] Unable to use shared archive. The top archive failed to "
      "load: h.jsa\n"));
  EXPECT_TRUE(vmRefusedArchive("[0.138s][warning][cds] The shared archive file has been truncated."));
  EXPECT_TRUE(vmRefusedArchive("[0.333s][warning][cds] Checksum verification failed."));
  EXPECT_FALSE(vmRefusedArchive("[3.540s][warning][cds] Skipping H: Unsupported location\n"));
  EXPECT_TRUE(vmWroteArchive("[3.187s][info][cds,dynamic] Written dynamic archive 0x1 - 0x2 "
                             "[984 bytes header, 110072 bytes total]"));
  EXPECT_FALSE(vmWroteArchive("[0.122s][info][cds] Opened archive h.jsa."));
}

TEST(StartCache, StatusText) {
  EXPECT_EQ(startCacheText(false, {}), "off");
  EXPECT_EQ(startCacheText(true, {}), "on, no archive yet");
  EXPECT_EQ(startCacheText(true, {{"C:\\c\\a.jsa", 4718592}, {"C:\\c\\b.jsa", 5000}}),
            "C:\\c\\a.jsa, 4.5 MiB; C:\\c\\b.jsa, 4 KiB");
}

// A directory of files in memory, with the calls the cache makes of the system.
struct FakeFiles {
  struct File {
    std::string text;
    uint64_t time;
  };
  std::map<std::string, File> files;
  uint64_t clock = 100;
  std::vector<std::string> log;
  StartCacheSystem sys() {
    StartCacheSystem s;
    s.separator = '/';
    s.fileFacts = [this](const std::string& p, uint64_t& size, uint64_t& time) {
      auto it = files.find(p);
      if (it == files.end()) return false;
      size = it->second.text.size();
      time = it->second.time;
      return true;
    };
    s.exists = [this](const std::string& p) { return files.count(p) > 0; };
    s.readFile = [this](const std::string& p, std::size_t limit) {
      auto it = files.find(p);
      return it == files.end() ? std::string() : it->second.text.substr(0, limit);
    };
    s.writeNewFile = [this](const std::string& p, const std::string& text) {
      return files.emplace(p, File{text, ++clock}).second;
    };
    s.removeFile = [this](const std::string& p) { files.erase(p); };
    s.listDirectory = [this](const std::string& d) {
      std::vector<std::string> names;
      for (const auto& [path, file] : files) {
        if (path.rfind(d + "/", 0) == 0) names.push_back(path.substr(d.size() + 1));
      }
      return names;
    };
    s.logInfo = [this](const std::string& line) { log.push_back(line); };
    s.logError = [this](const std::string& line) { log.push_back("ERROR " + line); };
    return s;
  }
};

TEST(StartCache, StartsAcrossStops) {
  FakeFiles fs;
  fs.files["/app/a.jar"] = {"jar", 1};
  fs.files["/c/Svc-00000000000000aa.jsa"] = {"old runtime", 2};
  fs.files["/c/Other-00000000000000aa.jsa"] = {"another service", 2};
  StartCacheStart start{true, "/c", "Svc", "/jdk17/bin/java", "17.0.2"};
  auto launch = [&] {
    Options options = {"-Dkerno.tempDir=/t", "-Djava.class.path=/app/a.jar;", "-Xmx1g"};
    StartCacheRun run = prepareStartCache(fs.sys(), start, options, 1);
    return std::make_pair(run, options);
  };
  auto [first, options] = launch();
  ASSERT_EQ(first.use, StartCacheUse::createAtExit);
  EXPECT_EQ(options[1], "-Xshare:auto");
  EXPECT_EQ(options[2], "-XX:ArchiveClassesAtExit=" + first.archive);
  EXPECT_EQ(options.back(), "-Xmx1g");
  EXPECT_EQ(fs.files.count("/c/Svc-00000000000000aa.jsa"), 0u) << "another key's archive stays";
  EXPECT_EQ(fs.files.count("/c/Other-00000000000000aa.jsa"), 1u);

  // The process ended while the VM wrote: a piece, and no word of it in the log.
  fs.files[first.archive] = {"piece", 200};
  EXPECT_EQ(launch().first.use, StartCacheUse::createAtExit);
  EXPECT_EQ(fs.files.count(first.archive), 0u);

  // Written whole at the stop: sealed and used at the next start, and after.
  fs.files[first.archive] = {"archive", 300};
  fs.files[first.vmLog] = {"[info][cds,dynamic] Written dynamic archive 0x1 - 0x2", 301};
  EXPECT_EQ(launch().first.use, StartCacheUse::use);
  fs.files[first.vmLog] = {"[info][cds] Opened archive", 400};
  StartCacheRun used = launch().first;
  EXPECT_EQ(used.use, StartCacheUse::use);

  // The VM refused it: removed with its seal, and made anew.
  fs.files[first.vmLog] = {"[warning][cds] Checksum verification failed.", 500};
  checkStartCache(fs.sys(), used);
  EXPECT_EQ(fs.files.count(first.archive) + fs.files.count(first.archive + ".seal"), 0u);
  EXPECT_EQ(launch().first.use, StartCacheUse::createAtExit);

  // A class-path file changed: another key.
  fs.files["/app/a.jar"] = {"jar2", 600};
  EXPECT_NE(launch().first.archive, first.archive);
}

}  // namespace
