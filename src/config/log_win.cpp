#include "config/log_win.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "common/environment_win.h"
#include "common/handles_win.h"
#include "common/hex_text.h"
#include "config/access_rules_win.h"
#include "config/config_state.h"
#include "config/log_format.h"

namespace {

// A TMP value this long or longer is not taken as the log directory.
constexpr size_t kEnvValueCapacity = 8192;
// Random log names tried before falling back to the fixed name: one that is
// taken (by chance or planted) costs another draw, and 64 random bits cannot
// be taken in advance, so the fixed name is reached only when the directory
// takes no new file at all.
constexpr unsigned kLogNameAttempts = 4;
constexpr size_t kLogNameRandomBytes = 8;

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

// Opens a new file as the log: created here (never one that was there
// before), readable only by this account, SYSTEM and the administrators, and
// kept open through the handle that created it, so the name is never looked
// up a second time. nullptr with `exists` set when the name is taken.
std::FILE* createLogFile(const std::string& name, bool& exists) {
  exists = false;
  HANDLE h = createNewPrivateFile(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (h == INVALID_HANDLE_VALUE) {
    exists = GetLastError() == ERROR_FILE_EXISTS;
    return nullptr;
  }
  // Text mode, as the log has always been written: "\n" becomes CR LF.
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_TEXT);
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  std::FILE* stream = _fdopen(fd, "wt");
  if (stream == nullptr) _close(fd);
  return stream;
}

// Creates a file with a fresh random name and opens it as a text stream.
std::FILE* openUniqueLog(std::string& name) {
  std::string dir = logDirectory();
  for (unsigned i = 0; i < kLogNameAttempts; ++i) {
    uint8_t random[kLogNameRandomBytes];
    if (!cryptoRandom(random, sizeof random)) return nullptr;
    std::string candidate = logCandidateName(dir, GetCurrentProcessId(), lowerHex(random, sizeof random));
    bool exists = false;
    std::FILE* stream = createLogFile(candidate, exists);
    if (stream != nullptr) {
      name = candidate;
      return stream;
    }
    if (!exists) return nullptr;
  }
  return nullptr;
}

void writeHeader(std::FILE* stream);

void openLog() {
  LogState& log = logState();
  log.opened = true;
  if (!envIsYes("KERNO_LOG") && !envIsYes("BRINDLE_LOG")) return;

  std::string name;
  log.stream = openUniqueLog(name);
  if (log.stream) {
    log.fileName = name;
  } else {
    // The fixed name is the same for every process: one left from an earlier
    // run, or put there by somebody else, is neither written into nor
    // replaced, and the log stays off.
    log.fileName = std::string(kLogFallbackName);
    bool exists = false;
    log.stream = createLogFile(log.fileName, exists);
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
  LogState& log = logState();
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
  LogState& log = logState();
  log.opened = true;
  log.hasName = false;
  log.fileName.clear();
  log.stream = stderr;
  writeHeader(log.stream);
}

const std::string* logFileName() {
  const LogState& log = logState();
  return log.hasName ? &log.fileName : nullptr;
}
