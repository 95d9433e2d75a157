// Stand-in for a runtime's bin\unpack200.exe:
//
//   unpack200.exe [-r] PACKED TARGET
//
// The stand-in's packed form is the jar itself, so restoring copies PACKED
// to TARGET; with -r PACKED is deleted once TARGET is written. Exit code 0
// on success, 1 otherwise. Every run appends its command line to
// unpack200-standin.runs beside the program.
#include <windows.h>

#include <cstring>
#include <string>

#include "standin_common_win.h"

int main(int argc, char** argv) {
  appendRecord(moduleDirectory(nullptr) + "unpack200-standin.runs", GetCommandLineA());
  int i = 1;
  bool remove = false;
  if (i < argc && std::strcmp(argv[i], "-r") == 0) {
    remove = true;
    ++i;
  }
  if (argc - i != 2) return 1;
  const char* packed = argv[i];
  const char* target = argv[i + 1];
  if (!CopyFileA(packed, target, FALSE)) return 1;
  if (remove && !DeleteFileA(packed)) return 1;
  return 0;
}
