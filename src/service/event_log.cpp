#include "service/event_log.h"

#include <cstdint>

#include "service/scm_status_table.h"

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

std::string applicationExitText(std::string_view serviceName, int status) {
  std::string head = "Service '" + std::string(serviceName) + "' ended: the application ";
  if (status == 0) return head + "ended by itself (exit status 0), without a stop request";
  return head + "ended the process with exit status " + std::to_string(status) +
         ", without a stop request; reported as service-specific exit code " +
         std::to_string(static_cast<uint32_t>(status));
}

std::string applicationFinishedText(std::string_view serviceName) {
  return "Service '" + std::string(serviceName) +
         "' ends: the application finished (its main returned and no application thread is left)";
}

std::string applicationThrewText(std::string_view serviceName, std::string_view thrown) {
  return "Service '" + std::string(serviceName) + "' failed: the application's main threw " + std::string(thrown) +
         " and no application thread is left; it ends with service-specific exit code " +
         std::to_string(svc::kExitMainThrew);
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
