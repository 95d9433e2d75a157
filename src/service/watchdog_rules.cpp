#include "service/watchdog_rules.h"

#include <algorithm>
#include <cstdio>

#include "config/config_keys.h"
#include "config/service_settings.h"

namespace {

constexpr std::pair<CheckKind, std::string_view> kCheckNames[] = {
    {CheckKind::deadlock, "deadlock"},   {CheckKind::method, "method"},
    {CheckKind::httpGet, "httpGet"},     {CheckKind::tcpSocket, "tcpSocket"},
    {CheckKind::heartbeat, "heartbeat"}, {CheckKind::ready, "ready"},
};

bool isIdentifierStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '$';
}
bool isIdentifierPart(char c) { return isIdentifierStart(c) || (c >= '0' && c <= '9'); }

bool parsePort(std::string_view text, uint16_t& port, std::string& why) {
  uint64_t n = 0;
  if (!parseBoundedNumber(text, 1, 65535, n, why)) return false;
  port = uint16_t(n);
  return true;
}

}  // namespace

std::string_view checkKindName(CheckKind kind) {
  for (const auto& [k, name] : kCheckNames)
    if (k == kind) return name;
  return {};
}

ProbeSetting defaultProbeSetting(bool startup) {
  ProbeSetting p;
  if (startup) {
    p.initialDelaySeconds = 0;
    p.periodSeconds = 5;
    p.timeoutSeconds = 5;
    p.failureThreshold = 120;  // ten minutes
  } else {
    p.initialDelaySeconds = 60;
    p.periodSeconds = 30;
    p.timeoutSeconds = 10;
    p.failureThreshold = 3;
  }
  return p;
}

bool isProbeMethodName(std::string_view name) {
  if (name.empty() || name.size() > kMaxProbeTextLength) return false;
  size_t dots = 0;
  bool atStart = true;
  for (char c : name) {
    if (c == '.') {
      if (atStart) return false;
      ++dots;
      atStart = true;
    } else if (atStart ? isIdentifierStart(c) : isIdentifierPart(c)) {
      atStart = false;
    } else {
      return false;
    }
  }
  return !atStart && dots >= 1;
}

bool isProbePath(std::string_view path) {
  if (path.empty() || path.size() > kMaxProbeTextLength || path[0] != '/') return false;
  for (char c : path)
    if (c <= ' ' || c >= 0x7F) return false;
  return true;
}

bool parseProbeSetting(std::string_view text, bool startup, ProbeSetting& out, std::string& why) {
  if (text.size() > kMaxProbeSettingLength) {
    why = "longer than " + std::to_string(kMaxProbeSettingLength) + " characters";
    return false;
  }
  ProbeSetting p = defaultProbeSetting(startup);
  std::vector<std::string_view> seen;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(' ', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view item = text.substr(pos, end - pos);
    pos = end + 1;
    if (item.empty()) continue;
    size_t eq = item.find('=');
    std::string_view name = item.substr(0, eq);
    std::string_view value = eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
    bool hasValue = eq != std::string_view::npos;
    if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
      why = "\"" + std::string(name) + "\" is given twice";
      return false;
    }
    seen.push_back(name);
    std::string detail;
    const ProbeTimingField* timing = nullptr;
    for (const ProbeTimingField& f : kProbeTimingFields)
      if (f.name == name) timing = &f;
    if (timing) {
      uint64_t n = 0;
      if (!hasValue || !parseBoundedNumber(value, timing->min, timing->max, n, detail)) {
        why = std::string(name) + ": " + (hasValue ? detail : "has no value");
        return false;
      }
      p.*(timing->member) = uint32_t(n);
      continue;
    }
    const CheckKind* kind = nullptr;
    for (const auto& entry : kCheckNames)
      if (entry.second == name) kind = &entry.first;
    if (kind == nullptr || (*kind == CheckKind::ready && !startup)) {
      why = "\"" + std::string(name.substr(0, 40)) + "\" is not a check or timing field of " +
            (startup ? "the startup probe" : "the liveness probe");
      return false;
    }
    ProbeCheck check;
    check.kind = *kind;
    bool takesValue = *kind == CheckKind::method || *kind == CheckKind::httpGet ||
                      *kind == CheckKind::tcpSocket;
    if (takesValue != hasValue) {
      why = std::string(name) + (takesValue ? " needs a value" : " takes no value");
      return false;
    }
    if (*kind == CheckKind::method) {
      if (!isProbeMethodName(value)) {
        why = "method: not \"package.Class.method\" of Java identifiers (at most 255 characters)";
        return false;
      }
      check.text = std::string(value);
    } else if (*kind == CheckKind::tcpSocket) {
      if (!parsePort(value, check.port, detail)) {
        why = "tcpSocket: port " + detail;
        return false;
      }
    } else if (*kind == CheckKind::httpGet) {
      size_t slash = value.find('/');
      std::string_view path = slash == std::string_view::npos ? "/" : value.substr(slash);
      if (!parsePort(value.substr(0, slash), check.port, detail)) {
        why = "httpGet: port " + detail;
        return false;
      }
      if (!isProbePath(path)) {
        why = "httpGet: the path must start with '/' and hold only printable ASCII without blanks "
              "(at most 255 characters)";
        return false;
      }
      check.text = std::string(path);
    }
    p.checks.push_back(std::move(check));
  }
  if (p.checks.empty()) {
    why = "no check is given";
    return false;
  }
  out = std::move(p);
  return true;
}

std::string probeSettingText(const ProbeSetting& probe) {
  std::string out;
  for (const ProbeCheck& c : probe.checks) {
    if (!out.empty()) out += ' ';
    out += checkKindName(c.kind);
    if (c.kind == CheckKind::method) out += "=" + c.text;
    if (c.kind == CheckKind::tcpSocket) out += "=" + std::to_string(c.port);
    if (c.kind == CheckKind::httpGet) out += "=" + std::to_string(c.port) + c.text;
  }
  for (const ProbeTimingField& f : kProbeTimingFields)
    out += " " + std::string(f.name) + "=" + std::to_string(probe.*(f.member));
  return out;
}

bool parseThreadDumpControlCode(std::string_view text, uint32_t& out, std::string& why) {
  uint64_t n = 0;
  if (!parseBoundedNumber(text, kMinThreadDumpControlCode, kMaxThreadDumpControlCode, n, why))
    return false;
  out = uint32_t(n);
  return true;
}

bool parseLivenessFailure(std::string_view text, uint32_t& threadDumps, std::string& why) {
  constexpr std::string_view kName = "threadDumps=";
  if (text.substr(0, kName.size()) != kName) {
    why = "is not \"threadDumps=N\"";
    return false;
  }
  uint64_t n = 0;
  std::string detail;
  if (!parseBoundedNumber(text.substr(kName.size()), 0, kMaxThreadDumpsOnFailure, n, detail)) {
    why = "threadDumps: " + detail;
    return false;
  }
  threadDumps = uint32_t(n);
  return true;
}

std::string livenessFailureText(uint32_t threadDumps) {
  return "threadDumps=" + std::to_string(threadDumps);
}

WatchdogSettings readWatchdogSettings(const ConfigTables& config,
                                      std::vector<DamagedSetting>& damaged) {
  WatchdogSettings s;
  auto stored = [&](ConfigKey key) { return storedSetting(config, key); };
  auto damage = [&](ConfigKey key, std::string why) {
    damaged.push_back(DamagedSetting{findKeyByNumber(int32_t(key), false)->name, std::move(why)});
  };
  std::string why;
  if (const std::string* t = stored(ConfigKey::threadDumpControlCode)) {
    uint32_t code = 0;
    if (parseThreadDumpControlCode(*t, code, why)) s.threadDumpControlCode = code;
    else damage(ConfigKey::threadDumpControlCode, why);
  }
  for (ConfigKey key : {ConfigKey::startupProbe, ConfigKey::livenessProbe}) {
    const std::string* t = stored(key);
    if (t == nullptr) continue;
    ProbeSetting p;
    bool startup = key == ConfigKey::startupProbe;
    if (!parseProbeSetting(*t, startup, p, why)) damage(key, why);
    else (startup ? s.startupProbe : s.livenessProbe) = std::move(p);
  }
  if (const std::string* t = stored(ConfigKey::onLivenessFailure)) {
    uint32_t n = 0;
    if (parseLivenessFailure(*t, n, why)) s.threadDumpsOnFailure = n;
    else damage(ConfigKey::onLivenessFailure, why);
  }
  return s;
}

// --- The probe schedule ------------------------------------------------------

namespace {

const ProbeSetting* phaseProbe(const WatchdogState& state, const WatchdogSettings& settings) {
  if (state.phase == WatchdogPhase::startup && settings.startupProbe) return &*settings.startupProbe;
  if (state.phase == WatchdogPhase::liveness && settings.livenessProbe) return &*settings.livenessProbe;
  return nullptr;
}

// Counts one failure; true when the threshold is reached (the phase ends).
bool countFailure(WatchdogState& state, const ProbeSetting& probe, std::string error,
                  WatchdogStep& step) {
  state.lastError = std::move(error);
  ++state.failures;
  if (state.failures < probe.failureThreshold) return false;
  if (state.phase == WatchdogPhase::startup) step.neverReady = true;
  else step.trip = true;
  state.phase = WatchdogPhase::ended;
  return true;
}

uint64_t ms(uint32_t seconds) { return uint64_t(seconds) * 1000u; }

}  // namespace

WatchdogState startWatchdog(const WatchdogSettings& settings, uint64_t nowMs) {
  WatchdogState s;
  if (settings.startupProbe) {
    s.phase = WatchdogPhase::startup;
    s.nextCheckMs = nowMs + ms(settings.startupProbe->initialDelaySeconds);
  } else if (settings.livenessProbe) {
    s.phase = WatchdogPhase::liveness;
    s.nextCheckMs = nowMs + ms(settings.livenessProbe->initialDelaySeconds);
  }
  return s;
}

WatchdogStep advanceWatchdog(WatchdogState& state, const WatchdogSettings& settings, uint64_t nowMs,
                             const ProbeOutcome* finished) {
  WatchdogStep step;
  const ProbeSetting* probe = phaseProbe(state, settings);
  if (probe == nullptr) {
    if (state.phase != WatchdogPhase::ended) state.phase = WatchdogPhase::off;
    state.running = false;
    return step;
  }
  if (state.running && finished != nullptr) {
    state.running = false;
    if (!state.overdue) {
      if (finished->healthy) {
        state.failures = 0;
        if (state.phase == WatchdogPhase::startup) {
          step.ready = true;
          state.phase = settings.livenessProbe ? WatchdogPhase::liveness : WatchdogPhase::off;
          if (!settings.livenessProbe) return step;
          probe = &*settings.livenessProbe;
          state.nextCheckMs = nowMs + ms(probe->initialDelaySeconds);
        }
      } else if (countFailure(state, *probe, finished->error, step)) {
        return step;
      }
    }
    state.overdue = false;
  }
  if (state.running && !state.overdue && nowMs >= state.deadlineMs) {
    state.overdue = true;
    if (countFailure(state, *probe,
                     "no answer within the time-out of " + std::to_string(probe->timeoutSeconds) + " s",
                     step))
      return step;
  }
  if (nowMs >= state.nextCheckMs) {
    state.nextCheckMs = nowMs + ms(probe->periodSeconds);
    if (state.phase == WatchdogPhase::startup) {
      ++state.checkPoint;
      step.startupProgress = true;
    }
    if (state.running) {
      // The worker still holds an earlier probe: this period fails too.
      if (countFailure(state, *probe,
                       "the previous check has still not returned (" + state.lastError + ")", step))
        return step;
    } else {
      state.running = true;
      state.overdue = false;
      state.deadlineMs = nowMs + ms(probe->timeoutSeconds);
      step.startProbe = true;
    }
  }
  step.wakeAtMs = state.nextCheckMs;
  if (state.running && !state.overdue && state.deadlineMs < step.wakeAtMs) step.wakeAtMs = state.deadlineMs;
  return step;
}

uint32_t startupWaitHintMs(const ProbeSetting& startup) {
  uint64_t hint = 2 * (ms(startup.periodSeconds) + ms(startup.timeoutSeconds)) + 10000;
  uint64_t first = ms(startup.initialDelaySeconds) + hint;
  return uint32_t(std::min<uint64_t>(std::max(hint, first), UINT32_MAX));
}

// --- Thread dump files -------------------------------------------------------

std::string threadDumpPrefix(std::string_view serviceName) {
  std::string out = "threaddump-";
  std::string_view name = serviceName.substr(0, 64);
  for (char c : name) {
    bool bad = c < 0x20 || c >= 0x7F || std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos;
    out += bad ? '_' : c;
  }
  out += '-';
  return out;
}

std::string threadDumpFileName(std::string_view serviceName, unsigned year, unsigned month,
                               unsigned day, unsigned hour, unsigned minute, unsigned second,
                               unsigned millisecond) {
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%04u%02u%02u-%02u%02u%02u-%03u.txt", year % 10000, month % 100,
                day % 100, hour % 100, minute % 100, second % 100, millisecond % 1000);
  return threadDumpPrefix(serviceName) + stamp;
}

bool isThreadDumpFileName(std::string_view serviceName, std::string_view name) {
  std::string prefix = threadDumpPrefix(serviceName);
  constexpr std::string_view kStampForm = "00000000-000000-000.txt";
  if (name.size() != prefix.size() + kStampForm.size() || name.substr(0, prefix.size()) != prefix)
    return false;
  std::string_view stamp = name.substr(prefix.size());
  for (size_t i = 0; i < kStampForm.size(); ++i) {
    bool digit = stamp[i] >= '0' && stamp[i] <= '9';
    if (kStampForm[i] == '0' ? !digit : stamp[i] != kStampForm[i]) return false;
  }
  return true;
}

std::string threadDumpRecordName(std::string_view serviceName) {
  std::string prefix = threadDumpPrefix(serviceName);
  prefix.back() = '.';
  return prefix + "last";
}

std::vector<std::string> threadDumpsToDelete(std::string_view serviceName,
                                             const std::vector<DumpDirectoryEntry>& entries,
                                             const std::vector<std::string>& ownSids, size_t keep) {
  std::vector<std::string> names;
  for (const DumpDirectoryEntry& e : entries) {
    bool own = !e.ownerSid.empty() && std::find(ownSids.begin(), ownSids.end(), e.ownerSid) != ownSids.end();
    if (e.plainFile && own && isThreadDumpFileName(serviceName, e.name)) names.push_back(e.name);
  }
  std::sort(names.begin(), names.end());
  if (names.size() <= keep) return {};
  names.resize(names.size() - keep);
  return names;
}

// --- The httpGet check -------------------------------------------------------

std::string httpProbeRequest(uint16_t port, std::string_view path) {
  return "GET " + std::string(path) + " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port) +
         "\r\nUser-Agent: kerno-watchdog\r\nConnection: close\r\n\r\n";
}

bool httpReplyHealthy(std::string_view reply, std::string& why) {
  reply = reply.substr(0, kMaxHttpStatusLine);
  size_t end = reply.find_first_of("\r\n");
  std::string_view line = reply.substr(0, end);
  bool form = line.size() >= 12 && line.substr(0, 7) == "HTTP/1." && line[8] == ' ' &&
              (line.size() == 12 || line[12] == ' ');
  for (size_t i = 9; form && i < 12; ++i) form = line[i] >= '0' && line[i] <= '9';
  if (!form) {
    std::string shown;
    for (char c : line.substr(0, 40)) shown += (c >= ' ' && c < 0x7F) ? c : '?';
    why = line.empty() ? "no HTTP answer" : "not an HTTP answer: \"" + shown + "\"";
    return false;
  }
  int status = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
  if (status >= 200 && status <= 399) return true;
  why = "HTTP status " + std::to_string(status);
  return false;
}

// --- The listener of a checked port ---------------------------------------------

std::optional<uint32_t> loopbackListenerProcess(const std::vector<TcpListener>& listeners, uint16_t port) {
  for (ListenAddress preferred : {ListenAddress::loopback4, ListenAddress::any4, ListenAddress::any6}) {
    for (const TcpListener& l : listeners) {
      if (l.port == port && l.address == preferred) return l.processId;
    }
  }
  return std::nullopt;
}
