#include "service/event_log.h"

namespace {
constexpr std::string_view kEventSourceRoot =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

std::string orNone(std::string_view text) { return text.empty() ? "(none)" : std::string(text); }

std::string runtimeText(std::string_view serviceName, std::string_view what,
                        std::string_view javaExe, std::string_view vmLibrary) {
  return "Service '" + std::string(serviceName) + "' " + std::string(what) +
         " (Java runtime " + orNone(javaExe) + ", VM library " + orNone(vmLibrary) + ")";
}
}  // namespace

std::optional<std::string> eventSourceKeyPath(std::string_view serviceName) {
  if (serviceName.empty() || serviceName.find_first_of("\\/") != std::string_view::npos) {
    return std::nullopt;
  }
  return std::string(kEventSourceRoot) + std::string(serviceName);
}

std::string serviceStartedText(std::string_view serviceName, std::string_view javaExe,
                               std::string_view vmLibrary) {
  return runtimeText(serviceName, "started", javaExe, vmLibrary);
}

std::string serviceStoppedText(std::string_view serviceName, std::string_view javaExe,
                               std::string_view vmLibrary) {
  return runtimeText(serviceName, "stopped", javaExe, vmLibrary);
}

std::string eventText(std::string_view message) {
  std::string out;
  out.reserve(message.size() + 16);
  for (size_t i = 0; i < message.size() && out.size() < kMaxEventTextBytes; ++i) {
    char c = message[i];
    if (c == '\n' && (i == 0 || message[i - 1] != '\r')) {
      if (out.size() + 2 > kMaxEventTextBytes) break;
      out += "\r\n";
    } else {
      out += c;
    }
  }
  if (!out.empty() && out.back() == '\r') out.pop_back();  // a cut CR LF
  return out;
}
