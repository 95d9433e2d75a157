// The `import` subcommand: reads a WinSW, NSSM or procrun service and
// writes a service description, with a report of every setting on
// standard error.
#pragma once

#include <string>

struct ImportArgs {
  std::string source;   // the file to import; empty with `service`
  std::string service;  // an installed service to read (Windows)
  std::string output;   // the description to write; empty: standard output
  std::string format;   // winsw, nssm, procrun; empty: told from the content
  std::string appDir;   // where the application's files are; default: the source's directory
};

// 0 when a description was written, 2 when the source cannot be read or
// describes no Java application, 1 when the output cannot be written.
int runImport(const ImportArgs& args);

// Largest source file read.
inline constexpr uint64_t kMaxImportSourceBytes = 16u << 20;
