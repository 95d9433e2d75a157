#include "config/log_format.h"

#include <cstdio>

std::string logCandidateName(std::string_view dir, unsigned long pid, std::string_view randomHex) {
  std::string out(dir);
  if (!out.empty() && out.back() != '\\') out += '\\';
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, "%lx_", pid);
  out += kLogFilePrefix;
  out += suffix;
  out += randomHex;
  return out;
}

std::string logHeaderLine(std::string_view modulePath, std::string_view ctimeText) {
  std::string out = "Started executable ";
  out += modulePath;
  out += " at ";
  out += ctimeText;
  out += '\n';
  return out;
}
