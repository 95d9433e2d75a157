// The watchdog's settings and decisions, without the system: the stored
// forms of keys 30021-30024 (thread dump control code, startup probe,
// liveness probe, what a liveness failure does), the probe schedule as a
// pure table (initial delay, period, time-out, consecutive failures, the
// startup and liveness phases), and the thread dump files' names, rate limit
// and retention. The threads that act on these decisions are in
// service/watchdog_win; see docs/operations.md ("Watchdog").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_block.h"
#include "config/service_settings.h"

// --- Settings -------------------------------------------------------------------

// User-defined service control codes, as the system allows them.
inline constexpr uint32_t kMinThreadDumpControlCode = 128;
inline constexpr uint32_t kMaxThreadDumpControlCode = 255;
// What the packer writes when a description does not say.
inline constexpr uint32_t kDefaultThreadDumpControlCode = 200;

inline constexpr uint32_t kMaxInitialDelaySeconds = 86400;
inline constexpr uint32_t kMaxPeriodSeconds = 3600;
inline constexpr uint32_t kMaxProbeTimeoutSeconds = 3600;
inline constexpr uint32_t kMaxFailureThreshold = 10000;
inline constexpr uint32_t kMaxThreadDumpsOnFailure = 10;
// Longest method name ("pkg.Class.method") and HTTP path of a check.
inline constexpr size_t kMaxProbeTextLength = 255;
// Longest stored probe text.
inline constexpr size_t kMaxProbeSettingLength = 1024;

enum class CheckKind { deadlock, method, httpGet, tcpSocket, heartbeat, ready };

// The check's name, as in the service description and the stored text.
std::string_view checkKindName(CheckKind kind);

struct ProbeCheck {
  CheckKind kind = CheckKind::deadlock;
  uint16_t port = 0;  // httpGet, tcpSocket (1..65535)
  std::string text;   // method: "pkg.Class.method"; httpGet: the path ("/..." )
  bool operator==(const ProbeCheck& o) const {
    return kind == o.kind && port == o.port && text == o.text;
  }
};

// A probe: one or more checks, all run each period, one at a time; the probe
// fails when any of them fails.
struct ProbeSetting {
  std::vector<ProbeCheck> checks;
  uint32_t initialDelaySeconds = 0;
  uint32_t periodSeconds = 0;
  uint32_t timeoutSeconds = 0;
  uint32_t failureThreshold = 0;
};

// A timing field of a probe: its name in the description and the stored
// text, where it is kept, and its bounds. The one table of them for the
// launcher and the packer.
struct ProbeTimingField {
  std::string_view name;
  uint32_t ProbeSetting::*member;
  uint32_t min, max;
};
inline constexpr ProbeTimingField kProbeTimingFields[] = {
    {"initialDelaySeconds", &ProbeSetting::initialDelaySeconds, 0, kMaxInitialDelaySeconds},
    {"periodSeconds", &ProbeSetting::periodSeconds, 1, kMaxPeriodSeconds},
    {"timeoutSeconds", &ProbeSetting::timeoutSeconds, 1, kMaxProbeTimeoutSeconds},
    {"failureThreshold", &ProbeSetting::failureThreshold, 1, kMaxFailureThreshold},
};

// The defaults of the timing fields, looser than the usual container ones
// so that a long garbage collection does not stop a service.
ProbeSetting defaultProbeSetting(bool startup);

// Checks a method name: dotted Java identifiers, a class and the method.
bool isProbeMethodName(std::string_view name);
// Checks an HTTP path: '/' then printable ASCII without blanks.
bool isProbePath(std::string_view path);

// Stored form: blank-separated items, each check once, each timing field at
// most once (absent: its default), e.g.
//   "deadlock httpGet=8080/health tcpSocket=8080 method=com.example.App.healthy
//    heartbeat initialDelaySeconds=60 periodSeconds=30 timeoutSeconds=10 failureThreshold=3"
// `ready` (the runtime jar's ready call) is a check of the startup probe only.
// On failure `out` stays as it was and `why` says what is wrong.
bool parseProbeSetting(std::string_view text, bool startup, ProbeSetting& out, std::string& why);
std::string probeSettingText(const ProbeSetting& probe);

bool parseThreadDumpControlCode(std::string_view text, uint32_t& out, std::string& why);
// Key 30024: "threadDumps=N" (0..kMaxThreadDumpsOnFailure).
bool parseLivenessFailure(std::string_view text, uint32_t& threadDumps, std::string& why);
std::string livenessFailureText(uint32_t threadDumps);
inline constexpr uint32_t kDefaultThreadDumpsOnFailure = 2;

struct WatchdogSettings {
  std::optional<uint32_t> threadDumpControlCode;
  std::optional<ProbeSetting> startupProbe;
  std::optional<ProbeSetting> livenessProbe;
  uint32_t threadDumpsOnFailure = kDefaultThreadDumpsOnFailure;
};

// Reads keys 30021-30024; a damaged value is absent and named in `damaged`.
WatchdogSettings readWatchdogSettings(const ConfigTables& config,
                                      std::vector<DamagedSetting>& damaged);

// --- The probe schedule ------------------------------------------------------

enum class WatchdogPhase { off, startup, liveness, ended };

struct WatchdogState {
  WatchdogPhase phase = WatchdogPhase::off;
  uint64_t nextCheckMs = 0;      // when the next probe is due
  bool running = false;          // a probe was handed to the worker
  bool overdue = false;          // ... and outlasted its time-out (counted already)
  uint64_t deadlineMs = 0;       // when the running probe times out
  uint32_t failures = 0;         // consecutive failures
  uint32_t checkPoint = 0;       // startup progress reports so far
  std::string lastError;
};

struct WatchdogStep {
  bool startProbe = false;     // hand the phase's probe to the worker now
  bool startupProgress = false;  // report start pending with the next checkpoint
  bool ready = false;          // the startup probe passed: report running
  bool trip = false;           // the liveness probe failed: dumps, stop, end
  bool neverReady = false;     // the startup probe failed: a failed start
  uint64_t wakeAtMs = 0;       // call again by then at the latest (0: never)
};

struct ProbeOutcome {
  bool healthy = false;
  std::string error;  // why not, when not
};

// The phase the watchdog begins in at `nowMs`: startup when a startup probe
// is configured, else liveness when a liveness probe is, else off.
WatchdogState startWatchdog(const WatchdogSettings& settings, uint64_t nowMs);

// One step of the schedule at `nowMs`, with the outcome of the probe that
// the worker finished (nullptr: none finished; ignored unless a probe runs).
// A probe still running at its deadline counts as failed then; its late
// outcome is dropped. A probe still running when the next is due counts as
// another failure (the worker is stuck), so a probe that hangs for ever
// trips the watchdog after failureThreshold periods.
WatchdogStep advanceWatchdog(WatchdogState& state, const WatchdogSettings& settings, uint64_t nowMs,
                             const ProbeOutcome* finished);

// The wait hint of a start pending report: longer than a period with its
// probe, so that the service manager never gives up between two reports.
uint32_t startupWaitHintMs(const ProbeSetting& startup);

// --- Thread dump files -------------------------------------------------------

inline constexpr uint64_t kThreadDumpIntervalMs = 10000;
inline constexpr size_t kThreadDumpFilesKept = 10;

// Whether a dump may be written at `nowMs` after one at `lastMs` (none yet:
// `hadOne` false).
inline bool threadDumpAllowed(bool hadOne, uint64_t lastMs, uint64_t nowMs) {
  return !hadOne || nowMs - lastMs >= kThreadDumpIntervalMs;
}

// "threaddump-<service>-" with every character a file name cannot hold (and
// anything outside printable ASCII) as '_', the name cut at 64 characters.
std::string threadDumpPrefix(std::string_view serviceName);
// "<prefix><yyyymmdd>-<hhmmss>-<mmm>.txt" for a local time.
std::string threadDumpFileName(std::string_view serviceName, unsigned year, unsigned month,
                               unsigned day, unsigned hour, unsigned minute, unsigned second,
                               unsigned millisecond);
// Whether a name in the dump directory is one of this service's dumps.
bool isThreadDumpFileName(std::string_view serviceName, std::string_view name);
// "threaddump-<service>.last" (the service name as in the prefix): the
// service's record of the last dump it wrote (the dump's file name, nothing
// else), which /threaddump reads.
std::string threadDumpRecordName(std::string_view serviceName);

// An entry of the dump directory as the service found it.
struct DumpDirectoryEntry {
  std::string name;
  bool plainFile = false;  // neither a directory nor a link or junction
  std::string ownerSid;    // empty when it cannot be read
};
// The dumps to delete so that `keep` of the service's own remain. Only plain
// files named as this service's dumps and owned by one of `ownSids` (the
// owners the service's own files get) are the service's: they alone are
// counted and ordered (by name, which sorts by time) and chosen; anything
// else in the directory is never chosen and never counts against `keep`.
std::vector<std::string> threadDumpsToDelete(std::string_view serviceName,
                                             const std::vector<DumpDirectoryEntry>& entries,
                                             const std::vector<std::string>& ownSids,
                                             size_t keep = kThreadDumpFilesKept);

// --- Exit codes --------------------------------------------------------------

// Reported as the service-specific exit code (with the Win32 exit code
// ERROR_SERVICE_SPECIFIC_ERROR, svc::kExitServiceSpecific) and used as the
// process exit code.
inline constexpr uint32_t kExitLivenessFailed = 1101;
inline constexpr uint32_t kExitNeverReady = 1102;

// --- The httpGet check -------------------------------------------------------

// The request an httpGet check sends to 127.0.0.1:<port>.
std::string httpProbeRequest(uint16_t port, std::string_view path);
// How much of the answer is read: enough for its status line.
inline constexpr size_t kMaxHttpStatusLine = 512;
// Whether the answer's status line ("HTTP/1.x NNN ...") says 200..399; else
// `why` names the status or what is wrong with the answer.
bool httpReplyHealthy(std::string_view reply, std::string& why);

// --- The listener of a checked port ---------------------------------------------

// One listening TCP socket of the machine's table, by the address it is
// bound to.
enum class ListenAddress { loopback4, any4, any6, other };
struct TcpListener {
  ListenAddress address = ListenAddress::other;
  uint16_t port = 0;
  uint32_t processId = 0;
};
// The process whose socket takes a connection to 127.0.0.1:`port`: the
// most specific binding wins (127.0.0.1, then 0.0.0.0, then a dual-stack
// [::]). None when nothing listens there.
std::optional<uint32_t> loopbackListenerProcess(const std::vector<TcpListener>& listeners, uint16_t port);
