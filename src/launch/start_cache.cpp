#include "launch/start_cache.h"

#include <cstddef>
#include <cstdio>

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr uint64_t kFnvOffset = 14695981039346656037ull;
constexpr uint64_t kFnvPrime = 1099511628211ull;

void hashBytes(uint64_t& h, std::string_view bytes) {
  for (char c : bytes) {
    h ^= static_cast<unsigned char>(c);
    h *= kFnvPrime;
  }
  // A separator that no text holds, so that "ab"+"c" and "a"+"bc" differ.
  h ^= 0x100;
  h *= kFnvPrime;
}

void hashNumber(uint64_t& h, uint64_t n) {
  char text[24];
  std::snprintf(text, sizeof(text), "%llu", static_cast<unsigned long long>(n));
  hashBytes(h, text);
}

std::string fileNamePart(std::string_view serviceName) {
  std::string out;
  for (char c : serviceName.substr(0, 64)) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '.' || c == '-' || c == '_';
    out += plain ? c : '_';
  }
  return out;
}

bool containsAny(std::string_view text, std::initializer_list<std::string_view> phrases) {
  for (std::string_view p : phrases) {
    if (text.find(p) != std::string_view::npos) return true;
  }
  return false;
}

}  // namespace

int javaFeatureRelease(std::string_view version) {
  auto number = [](std::string_view text, std::size_t& at) {
    int n = 0;
    std::size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 6) {
      n = n * 10 + (text[at] - '0');
      ++at;
    }
    return at > start ? n : -1;
  };
  std::size_t at = 0;
  int first = number(version, at);
  if (first < 0) return 0;
  if (first == 1 && at < version.size() && version[at] == '.') {
    ++at;
    int second = number(version, at);
    return second < 0 ? 0 : second;
  }
  return first;
}

bool namesClassDataOption(std::string_view option) {
  for (std::string_view name : {"-XX:SharedArchiveFile", "-XX:ArchiveClassesAtExit",
                                "-XX:+AutoCreateSharedArchive", "-XX:-AutoCreateSharedArchive",
                                "-XX:+VerifySharedSpaces", "-XX:-VerifySharedSpaces", "-Xshare:"}) {
    if (startsWith(option, name)) return true;
  }
  return false;
}

StartCachePlan planStartCache(const StartCacheInputs& in) {
  StartCachePlan plan;
  if (!in.enabled) return plan;
  for (const std::string& option : in.userOptions) {
    if (namesClassDataOption(option)) {
      plan.use = StartCacheUse::userOwned;
      return plan;
    }
  }
  if (in.featureRelease < 13) {
    plan.use = StartCacheUse::tooOld;
    return plan;
  }
  if (in.archivePath.empty()) return plan;
  plan.removeArchive = in.archive == ArchiveState::unsealed;
  bool current = in.archive == ArchiveState::current;
  plan.options.push_back("-Xshare:auto");
  if (in.featureRelease >= 19) {
    plan.use = StartCacheUse::autoCreate;
    plan.options.push_back("-XX:+AutoCreateSharedArchive");
    plan.options.push_back("-XX:SharedArchiveFile=" + in.archivePath);
  } else if (current) {
    plan.use = StartCacheUse::use;
    plan.options.push_back("-XX:SharedArchiveFile=" + in.archivePath);
  } else {
    plan.use = StartCacheUse::createAtExit;
    plan.options.push_back("-XX:ArchiveClassesAtExit=" + in.archivePath);
  }
  if (current) plan.options.push_back("-XX:+VerifySharedSpaces");
  if (!in.vmLogPath.empty()) {
    // Quoted: a Windows path holds ':', the separator of the option's parts.
    plan.options.push_back("-Xlog:cds=info,cds+dynamic=info:file=\"" + in.vmLogPath +
                           "\"::filecount=0");
  }
  return plan;
}

std::string_view startCacheUseName(StartCacheUse use) {
  switch (use) {
    case StartCacheUse::off: return "off";
    case StartCacheUse::userOwned: return "VM options name their own";
    case StartCacheUse::tooOld: return "runtime before 13";
    case StartCacheUse::use: return "used";
    case StartCacheUse::createAtExit: return "created at the stop";
    case StartCacheUse::autoCreate: return "used or created by the VM";
  }
  return "off";
}

std::vector<std::string> classPathElements(std::string_view classPathOption, char separator) {
  constexpr std::string_view kPrefix = "-Djava.class.path=";
  if (startsWith(classPathOption, kPrefix)) classPathOption.remove_prefix(kPrefix.size());
  std::vector<std::string> out;
  while (!classPathOption.empty()) {
    std::size_t end = classPathOption.find(separator);
    std::string_view element = classPathOption.substr(0, end);
    if (!element.empty()) out.emplace_back(element);
    if (end == std::string_view::npos) break;
    classPathOption.remove_prefix(end + 1);
  }
  return out;
}

std::string startCacheKey(std::string_view runtimePath, std::string_view version,
                          const std::vector<ClassPathFileFacts>& files) {
  uint64_t h = kFnvOffset;
  std::string folded;
  for (char c : runtimePath) folded += lowerAscii(c);
  hashBytes(h, folded);
  hashBytes(h, version);
  for (const ClassPathFileFacts& f : files) {
    hashBytes(h, f.path);
    hashNumber(h, f.present ? 1 : 0);
    hashNumber(h, f.size);
    hashNumber(h, f.lastWrite);
  }
  char text[17];
  std::snprintf(text, sizeof(text), "%016llx", static_cast<unsigned long long>(h));
  return text;
}

std::string startCacheArchiveName(std::string_view serviceName, std::string_view key) {
  return fileNamePart(serviceName) + "-" + std::string(key) + ".jsa";
}

std::string startCacheDirectoryName(std::string_view serviceName) {
  return "kerno-start-cache-" + fileNamePart(serviceName);
}

bool isServiceCacheFile(std::string_view fileName, std::string_view serviceName) {
  std::string prefix = fileNamePart(serviceName) + "-";
  if (!startsWith(fileName, prefix)) return false;
  std::string_view rest = fileName.substr(prefix.size());
  // 16 hexadecimal digits, then the archive's, the seal's or the log's ending.
  if (rest.size() < 16) return false;
  for (char c : rest.substr(0, 16)) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  rest.remove_prefix(16);
  return rest == ".jsa" || rest == ".jsa.seal" || rest == ".jsa.log";
}

std::string sealText(uint64_t size, uint64_t lastWrite) {
  char text[48];
  std::snprintf(text, sizeof(text), "%llu %llu", static_cast<unsigned long long>(size),
                static_cast<unsigned long long>(lastWrite));
  return text;
}

bool sealMatches(std::string_view seal, uint64_t size, uint64_t lastWrite) {
  while (!seal.empty() && (seal.back() == '\n' || seal.back() == '\r')) seal.remove_suffix(1);
  return size > 0 && seal == sealText(size, lastWrite);
}

bool vmRefusedArchive(std::string_view vmLog) {
  return containsAny(vmLog, {"Unable to use shared archive", "Loading dynamic archive failed",
                             "top archive failed to load", "has been truncated",
                             "Checksum verification failed",
                             "An error has occurred while processing the shared archive file"});
}

bool vmWroteArchive(std::string_view vmLog) {
  return vmLog.find("Written dynamic archive") != std::string_view::npos;
}

namespace {

ArchiveState archiveState(const StartCacheSystem& sys, const std::string& archive) {
  uint64_t size = 0, lastWrite = 0;
  if (!sys.fileFacts(archive, size, lastWrite)) {
    return sys.exists(archive) ? ArchiveState::unsealed : ArchiveState::absent;
  }
  if (sealMatches(sys.readFile(archive + ".seal", 64), size, lastWrite)) return ArchiveState::current;
  if (size == 0 || !vmWroteArchive(sys.readFile(archive + ".log", kMaxVmCacheLog))) {
    return ArchiveState::unsealed;
  }
  sys.removeFile(archive + ".seal");
  if (!sys.writeNewFile(archive + ".seal", sealText(size, lastWrite))) return ArchiveState::unsealed;
  sys.logInfo("start cache: sealed " + archive + ", written whole by the VM at the last stop");
  return ArchiveState::current;
}

void removeOtherKeys(const StartCacheSystem& sys, const std::string& directory,
                     const std::string& serviceName, const std::string& archiveName) {
  for (const std::string& name : sys.listDirectory(directory)) {
    if (!isServiceCacheFile(name, serviceName) || startsWith(name, archiveName)) continue;
    sys.logInfo("start cache: removing " + name + ", made for another runtime or class path");
    sys.removeFile(directory + sys.separator + name);
  }
}

std::vector<ClassPathFileFacts> classPathFacts(const StartCacheSystem& sys,
                                               const std::vector<std::string>& options) {
  std::vector<ClassPathFileFacts> facts;
  for (const std::string& option : options) {
    if (!startsWith(option, "-Djava.class.path=")) continue;
    for (const std::string& element : classPathElements(option, sys.pathListSeparator)) {
      ClassPathFileFacts f;
      f.path = element;
      f.present = sys.fileFacts(element, f.size, f.lastWrite);
      facts.push_back(f);
    }
  }
  return facts;
}

}  // namespace

StartCacheRun prepareStartCache(const StartCacheSystem& sys, const StartCacheStart& start,
                                std::vector<std::string>& options, std::size_t position) {
  StartCacheRun run;
  if (!start.enabled) return run;
  if (position > options.size()) position = options.size();
  StartCacheInputs in;
  in.enabled = !start.directory.empty();
  in.featureRelease = javaFeatureRelease(start.version);
  in.userOptions.assign(options.begin() + static_cast<std::ptrdiff_t>(position), options.end());
  // Only a start that may use an archive looks at the directory.
  bool userOwned = false;
  for (const std::string& option : in.userOptions) userOwned = userOwned || namesClassDataOption(option);
  if (in.enabled && !userOwned && in.featureRelease >= 13) {
    std::string name = startCacheArchiveName(
        start.serviceName, startCacheKey(start.runtimePath, start.version, classPathFacts(sys, options)));
    in.archivePath = start.directory + sys.separator + name;
    in.vmLogPath = in.archivePath + ".log";
    removeOtherKeys(sys, start.directory, start.serviceName, name);
    in.archive = archiveState(sys, in.archivePath);
  }
  StartCachePlan plan = planStartCache(in);
  sys.logInfo("start cache: " + std::string(startCacheUseName(plan.use)) +
              (in.archivePath.empty() ? "" : ": " + in.archivePath));
  if (plan.options.empty()) return run;
  if (plan.removeArchive) {
    sys.logInfo("start cache: " + in.archivePath + " was not written whole by an earlier stop; removed");
    sys.removeFile(in.archivePath);
    sys.removeFile(in.archivePath + ".seal");
  }
  options.insert(options.begin() + static_cast<std::ptrdiff_t>(position), plan.options.begin(),
                 plan.options.end());
  run.use = plan.use;
  run.archive = in.archivePath;
  run.vmLog = in.vmLogPath;
  return run;
}

void checkStartCache(const StartCacheSystem& sys, const StartCacheRun& run) {
  if (run.archive.empty() || !vmRefusedArchive(sys.readFile(run.vmLog, kMaxVmCacheLog))) return;
  sys.logError("start cache: the VM did not use " + run.archive + " (its log: " + run.vmLog +
               "); removed, the next stop writes a new one");
  sys.removeFile(run.archive + ".seal");
  sys.removeFile(run.archive);
}
