// Shared helpers of the stand-ins: files beside the stand-in's own module,
// where the tests put its settings and read back what it recorded.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

// The directory of a module (with its trailing backslash).
inline std::string moduleDirectory(HMODULE module) {
  char path[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(module, path, sizeof path);
  if (n == 0 || n >= sizeof path) return std::string();
  std::string text(path, n);
  size_t slash = text.find_last_of('\\');
  return slash == std::string::npos ? std::string() : text.substr(0, slash + 1);
}

// Appends one line to a record file; the tests count and read the lines.
inline void appendRecord(const std::string& file, const std::string& line) {
  if (std::FILE* f = std::fopen(file.c_str(), "ab")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

// The whole content of a small text file; empty when it cannot be read.
inline std::string readSmallFile(const std::string& file) {
  std::string content;
  if (std::FILE* f = std::fopen(file.c_str(), "rb")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && content.size() < (1u << 20)) {
      content.append(buffer, n);
    }
    std::fclose(f);
  }
  return content;
}

// Writes a performance-counter value as one line "<count>\n" for the
// start-up benchmark: into a temporary name first and then renamed, so that
// a reader polling for the file never sees half a line.
inline void writeStamp(const std::string& file, long long count) {
  std::string temporary = file + ".tmp";
  if (std::FILE* f = std::fopen(temporary.c_str(), "wb")) {
    std::fprintf(f, "%lld\n", count);
    std::fclose(f);
    MoveFileExA(temporary.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
}
