// Fuzzes the variable expander: the input is the configured text, then
// environment entries, separated by NUL bytes (as in an environment block).
// Whatever the entries hold, the expansion ends and stays within its limit.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "jvm/variables.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= input.size()) {
    size_t end = input.find('\0', pos);
    if (end == std::string::npos) end = input.size();
    parts.push_back(input.substr(pos, end - pos));
    pos = end + 1;
  }
  std::string text = parts.front();
  std::vector<std::string> environment(parts.begin() + 1, parts.end());
  BuiltinValues values{"c:\\app\\", "c:\\temp\\krn1.tmp_dir5", jvmHomeFromJavaExe(text)};

  bool fitted = text.size() <= kMaxExpandedText;
  expandVariables(text, values, environment);
  if (fitted && text.size() > kMaxExpandedText) std::abort();
  return 0;
}
