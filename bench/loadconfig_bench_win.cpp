// Times loadConfig on this executable's own configuration block. bench/run.sh
// packs this program with blocks of different sizes and compares the runs.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "config/config_state.h"
#include "config/config_store_win.h"

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
  if (rounds <= 0) rounds = 200;
  loadConfig();  // warm the file cache and the path cache
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  for (int i = 0; i < rounds; ++i) loadConfig();
  QueryPerformanceCounter(&end);
  double micros = double(end.QuadPart - start.QuadPart) * 1e6 / double(frequency.QuadPart) / rounds;
  std::printf("%zu %.3f\n", configTables().narrow.size() + configTables().wide.size(), micros);
  return 0;
}
