// The files layer's part of the process-wide state: what the extraction of
// the included files made, for the class path and for deferred deletion.
// Written on the main thread at start (see docs/architecture.md).
#pragma once

#include <string>
#include <vector>

struct ExtractionState {
  std::string extractionDirectory;  // empty when nothing is included
  std::vector<std::string> extractedFiles;
  std::vector<std::string> extractedDirs;
};

ExtractionState& extractionState();
