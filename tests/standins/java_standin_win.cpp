// Stand-in for a runtime's java.exe (and javaw.exe, the same program under
// another name). The launcher runs it with -version to learn its version.
//
// Settings: the file java-standin.cfg beside the program, lines of
//   banner=TEXT   a line printed on standard error (several lines allowed;
//                 "\n" inside TEXT is left as it is)
//   exit=N        the exit code (default 0)
//   hang=1        never ends (the launcher's probe gives up after 10 s)
//   env=NAME      appends "NAME=value" (or "NAME undefined") to
//                 java-standin.env beside it at every run
// Without the file it prints java version "1.8.0_392" and ends with 0.
//
// Record: every run appends its command line to java-standin.runs beside it,
// so the tests can count the runs.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "standin_common_win.h"

int main() {
  std::string dir = moduleDirectory(nullptr);
  appendRecord(dir + "java-standin.runs", GetCommandLineA());

  std::string config = readSmallFile(dir + "java-standin.cfg");
  std::string banner;
  int exitCode = 0;
  bool hang = false;
  bool configured = !config.empty();
  size_t pos = 0;
  while (pos < config.size()) {
    size_t end = config.find('\n', pos);
    if (end == std::string::npos) end = config.size();
    std::string line = config.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("banner=", 0) == 0) {
      banner += line.substr(7) + "\r\n";
    } else if (line.rfind("exit=", 0) == 0) {
      exitCode = std::atoi(line.c_str() + 5);
    } else if (line.rfind("env=", 0) == 0) {
      char value[4096];
      DWORD n = GetEnvironmentVariableA(line.c_str() + 4, value, sizeof value);
      appendRecord(dir + "java-standin.env", line.substr(4) + (n == 0 || n >= sizeof value
                                                                   ? std::string(" undefined")
                                                                   : "=" + std::string(value, n)));
    } else if (line == "hang=1") {
      hang = true;
    }
    pos = end + 1;
  }
  if (!configured) banner = "java version \"1.8.0_392\"\r\n";

  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD written = 0;
  if (err != nullptr && err != INVALID_HANDLE_VALUE && !banner.empty()) {
    WriteFile(err, banner.data(), static_cast<DWORD>(banner.size()), &written, nullptr);
  }
  if (hang) Sleep(INFINITE);
  return exitCode;
}
