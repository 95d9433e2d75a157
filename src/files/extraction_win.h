// Files carried inside the executable: extracted at every start into a fresh
// temporary directory, handed to deferred deletion on the way out.
#pragma once

#include <string>

// Extracts the included files; `out` receives the extraction directory, or
// the empty text when nothing is included. False on failure.
[[nodiscard]] bool extractIncludedFiles(std::string& out);

// Hands every extracted file and directory to deferred deletion. Safe to call
// any number of times.
void cleanupExtractedFiles();
