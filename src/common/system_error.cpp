#include "common/system_error.h"

std::string tidySystemErrorText(std::string_view raw) {
  std::string out;
  bool blank = false;
  for (char c : raw) {
    if (out.size() >= kMaxSystemErrorText) break;
    bool isBlank = static_cast<unsigned char>(c) < 0x20 || c == ' ' || c == 0x7F;
    if (isBlank) {
      blank = !out.empty();
      continue;
    }
    if (blank) out.push_back(' ');
    blank = false;
    if (out.size() < kMaxSystemErrorText) out.push_back(c);
  }
  return out;
}

std::string systemErrorLine(unsigned long code, std::string_view systemText) {
  std::string text = tidySystemErrorText(systemText);
  std::string line = "Error " + std::to_string(code);
  return text.empty() ? line + "." : line + ": " + text;
}
