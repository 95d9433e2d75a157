#include "io/report.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "io/terminal_text.h"

// Texts from a description (names, paths, values) reach the terminal only
// through here, escaped: a description cannot drive the terminal.
void report(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(n > 0 ? size_t(n) : 0, '\0');
  if (n > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  std::string line = "kernopack: " + escapeForTerminal(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}
