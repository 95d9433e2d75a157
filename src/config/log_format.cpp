#include "config/log_format.h"

#include <cstdio>

std::string logCandidateName(std::string_view dir, unsigned long pid, unsigned n) {
  std::string out(dir);
  if (!out.empty() && out.back() != '\\') out += '\\';
  char suffix[40];
  std::snprintf(suffix, sizeof suffix, "%lx_%u", pid, n);
  out += kLogFilePrefix;
  out += suffix;
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
