#include "config/messages.h"

std::string fillPlaceholder(std::string_view text, std::string_view placeholder,
                            std::string_view value) {
  std::string out(text);
  if (placeholder.empty()) return out;
  size_t at = out.find(placeholder);
  if (at == std::string::npos) return out;
  out.replace(at, placeholder.size(), value);
  return out;
}

std::string composeMessage(std::string_view text, const std::string* logPath) {
  std::string out(text);
  if (logPath) {
    out += "\n\nLog: ";
    out += *logPath;
  }
  return out;
}
