#include "report.h"

#include <cstdarg>
#include <cstdio>

void report(const char* format, ...) {
  std::fputs("kernopack: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}
