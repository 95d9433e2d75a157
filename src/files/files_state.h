// The files layer's part of the process-wide state: what the extraction of
// the included files made, for the class path and for deferred deletion.
// Written on the main thread at start (see docs/architecture.md).
#pragma once

#include <string>
#include <vector>

struct ExtractionState {
  std::string extractionDirectory;  // empty when nothing is included
  // The launcher's private directory when nothing is included: made on first
  // use by the thread that runs the Java search and the launch.
  std::string workDirectory;
  // Guarded by extraction_win's lock once other threads exist.
  std::vector<std::string> extractedFiles;
  std::vector<std::string> extractedDirs;
  std::vector<std::string> launcherFiles;  // the launcher's own files in its private directory
};

ExtractionState& extractionState();
