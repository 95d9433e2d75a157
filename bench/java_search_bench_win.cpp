// Times the Java runtime search over this executable's own search sequence
// (five candidates, bench/java_search.d/run.sh lays them out): once with the
// version cache emptied before each search, so that every candidate's
// java.exe runs, and once with the cache filled, so that none runs. The two
// alternate within one run, so both see the same machine state.
//
//   java_search_bench_win.exe [ROUNDS]   prints "ROUNDS MISS_MS HIT_MS RESULT"
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/config_store_win.h"
#include "jvm/win_loader_win.h"

namespace {
double millisecondsOf(JvmLocationKind& kind, std::string& exe) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  std::string location;
  QueryPerformanceCounter(&start);
  kind = searchJvm(exe, location);
  QueryPerformanceCounter(&end);
  return double(end.QuadPart - start.QuadPart) * 1e3 / double(frequency.QuadPart);
}
}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 10;
  if (rounds <= 0) rounds = 10;
  loadConfig();
  double miss = 0;
  double hit = 0;
  JvmLocationKind kind = JvmLocationKind::kindNone;
  std::string exe;
  for (int i = 0; i < rounds; ++i) {
    RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\quarrow\\kerno\\jvms");
    miss += millisecondsOf(kind, exe);
    hit += millisecondsOf(kind, exe);
  }
  std::printf("%d %.3f %.3f %d %s\n", rounds, miss / rounds, hit / rounds, static_cast<int>(kind),
              exe.c_str());
  return kind == JvmLocationKind::kindDefinedPath ? 0 : 1;
}
