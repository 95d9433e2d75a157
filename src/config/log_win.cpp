#include "config/log_win.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "common/environment_win.h"
#include "common/handles_win.h"
#include "common/launcher_state.h"
#include "config/log_format.h"

namespace {

// A TMP value this long or longer is not taken as the log directory.
constexpr size_t kEnvValueCapacity = 8192;
// Unique log names tried before falling back to the fixed name.
constexpr unsigned kLogNameAttempts = 100;

bool envIsYes(const char* name) {
  std::string value;
  return readEnvironmentVariable(name, value) && isLogSwitchOn(value);
}

// The directory for log files: TMP when it names an existing directory, as
// the C runtime's _tempnam would take it, else c:\.
std::string logDirectory() {
  std::string tmp;
  if (readEnvironmentVariable("TMP", tmp) && !tmp.empty() && tmp.size() < kEnvValueCapacity) {
    DWORD attrs = GetFileAttributesA(tmp.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) return tmp;
  }
  return "c:\\";
}

// Creates a file with a fresh unique name and opens it as a text stream.
std::FILE* openUniqueLog(std::string& name) {
  std::string dir = logDirectory();
  for (unsigned i = 0; i < kLogNameAttempts; ++i) {
    std::string candidate = logCandidateName(dir, GetCurrentProcessId(), i);
    UniqueHandle h(CreateFileA(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      return nullptr;
    }
    h.reset();
    name = candidate;
    return std::fopen(candidate.c_str(), "w");
  }
  return nullptr;
}

void writeHeader(std::FILE* stream);

void openLog() {
  LogState& log = launcher().log;
  log.opened = true;
  if (!envIsYes("KERNO_LOG") && !envIsYes("BRINDLE_LOG")) return;

  std::string name;
  log.stream = openUniqueLog(name);
  if (log.stream) {
    log.fileName = name;
  } else {
    log.fileName = std::string(kLogFallbackName);
    log.stream = std::fopen(log.fileName.c_str(), "w");
  }
  log.hasName = true;
  if (!log.stream) return;
  writeHeader(log.stream);
}

void writeHeader(std::FILE* stream) {
  std::string module(kEnvValueCapacity, '\0');
  DWORD n = GetModuleFileNameA(nullptr, module.data(), kEnvValueCapacity);
  module.resize(n < kEnvValueCapacity ? n : 0);
  std::time_t now = std::time(nullptr);
  const char* when = std::ctime(&now);
  std::string header = logHeaderLine(module, when ? when : "\n");
  std::fputs(header.c_str(), stream);
  std::fflush(stream);
}

void writeLine(const char* prefix, const char* format, va_list args) {
  LogState& log = launcher().log;
  if (!log.opened) openLog();
  if (!log.stream) return;
  if (prefix) std::fputs(prefix, log.stream);
  std::vfprintf(log.stream, format, args);
  std::fputs("\n", log.stream);
  std::fflush(log.stream);
}

}  // namespace

void logInfo(const char* format, ...) {
  va_list args;
  va_start(args, format);
  writeLine(nullptr, format, args);
  va_end(args);
}

void logError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  writeLine("ERROR: ", format, args);
  va_end(args);
}

void useStandardErrorLog() {
  LogState& log = launcher().log;
  log.opened = true;
  log.hasName = false;
  log.fileName.clear();
  log.stream = stderr;
  writeHeader(log.stream);
}

const std::string* logFileName() {
  const LogState& log = launcher().log;
  return log.hasName ? &log.fileName : nullptr;
}
