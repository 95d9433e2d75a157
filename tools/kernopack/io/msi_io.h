// File and process access that only the msi subcommand needs: looking at a
// path without following links, listing a folder, removing a staged tree,
// fixing file times, and running a tool whose error output is examined.
#pragma once

#include <string>
#include <vector>

enum class PathKind { missing, file, directory, link, other, failed };

// What `path` (UTF-8) is, without following a final symbolic link or
// junction; `error` says why when failed.
PathKind pathKind(const std::string& path, std::string& error);

// The names in a folder (without "." and ".."), sorted bytewise.
bool listDirectory(const std::string& path, std::vector<std::string>& names, std::string& error);

// Removes a file or a folder tree; links are removed, never followed.
void removeTree(const std::string& path);

// Sets a file's modification time to a fixed moment (2000-01-01 00:00:00
// UTC), so that an archive of it is the same whenever it is made.
bool setFixedFileTime(const std::string& path, std::string& error);

struct CapturedRun {
  bool started = false;
  bool notFound = false;
  int exitCode = -1;
  std::string error;   // why it did not start
  std::string errors;  // what it wrote to standard error (at most 64 KiB)
};

// Runs a program (looked up on PATH); its standard output goes to
// `outputFile` (created or truncated), or to our standard error when that is
// empty; its standard error is captured. Not available in the Windows packer
// (started stays false).
CapturedRun runCapturingErrors(const std::vector<std::string>& args, const std::string& outputFile = {});
