// The packer's file and process access: reading inputs with a size bound,
// streaming large files in pieces, writing outputs so that they are either
// complete or not there at all, looking at, listing and removing trees,
// running programs, and finding the packer's own directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

enum class ReadStatus { ok, notFound, tooLarge, failed };

struct FileRead {
  ReadStatus status = ReadStatus::failed;
  std::vector<uint8_t> bytes;
  std::string error;  // why, when status != ok
};

// Reads a whole file of at most `maxBytes` bytes. The path is taken as the
// command line gave it.
FileRead readFileBounded(const std::string& path, uint64_t maxBytes);

struct FileWrite {
  bool ok = false;
  std::string error;
};

// Paths of the streaming functions below are UTF-8, as a description holds
// them; commandLinePath converts a path from the command line.
std::string commandLinePath(const std::string& arg);

// A regular file open for reading, read in pieces. Closed when destroyed.
struct InputFile {
  intptr_t handle = -1;  // a file descriptor, or a Windows handle; -1: none
  uint64_t size = 0;     // the size when it was opened
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();
};

// Opens a regular file (not a directory or a device) and takes its size.
// notFound when it does not exist, failed for every other reason.
ReadStatus openInputFile(const std::string& path, InputFile& file, std::string& error);
// How openFileBeneath walks: openat2 with RESOLVE_BENEATH and
// RESOLVE_NO_SYMLINKS where the kernel has it (else per component), or per
// component always. Windows has one way.
enum class BeneathWalk { best, perComponent };

// Opens a regular file `components` beneath `directory` (empty: the current
// directory) without following a link on the way or at the end: a symbolic
// link (a link or junction on Windows) in any component is refused, and so
// is anything not a regular file, before it is opened. The components are in
// normal form (confineIncludedPath): no "." or "..", no separators.
ReadStatus openFileBeneath(const std::string& directory, const std::vector<std::string>& components,
                           InputFile& file, std::string& error, BeneathWalk walk = BeneathWalk::best);

// The absolute form of a path (UTF-8), "." and ".." resolved by their text
// and links left alone; empty when the current directory cannot be had.
std::string absolutePath(const std::string& path);

// Reads up to `want` bytes; `got` is 0 at the end of the file.
[[nodiscard]] bool readInputFile(InputFile& file, uint8_t* data, size_t want, size_t& got,
                                 std::string& error);
[[nodiscard]] bool seekInputFile(InputFile& file, uint64_t offset, std::string& error);
void closeInputFile(InputFile& file);

// An output written to a new temporary file beside `path` and renamed over
// `path` by commitOutputFile. Until then `path` is untouched; a file that is
// destroyed uncommitted removes its temporary file.
struct OutputFile {
  intptr_t handle = -1;
  std::string path;
  std::string temp;
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();
};

// An executable output gets the execute permission where files have one.
[[nodiscard]] FileWrite beginOutputFile(const std::string& path, OutputFile& file, bool executable = true);
[[nodiscard]] FileWrite writeOutputFile(OutputFile& file, const uint8_t* data, size_t size);
// Flushes, closes and renames; on failure the temporary file is removed.
[[nodiscard]] FileWrite commitOutputFile(OutputFile& file);
// Closes and removes the temporary file; `path` stays as it was.
void abandonOutputFile(OutputFile& file);

// Writes `bytes` to a new temporary file beside `path` (UTF-8), then renames
// it over `path`. On failure the temporary file is removed and `path` is
// untouched.
[[nodiscard]] FileWrite writeFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes);

// Creates a directory (its parent must exist); an existing directory is fine.
[[nodiscard]] FileWrite makeDirectory(const std::string& path);

// Copies `from` over `to` as writeFileReplacing does, in pieces.
[[nodiscard]] FileWrite copyFileReplacing(const std::string& from, const std::string& to);

// A new directory in the system's temporary area that only this account may
// enter (mode 0700; on Windows the private access list of the launcher's own
// files), under a name nobody can take first. Removed with what is in it
// when destroyed.
struct PrivateDirectory {
  std::string path;  // UTF-8; empty until made
  PrivateDirectory() = default;
  PrivateDirectory(const PrivateDirectory&) = delete;
  PrivateDirectory& operator=(const PrivateDirectory&) = delete;
  ~PrivateDirectory();
  // The path of `name` inside it.
  std::string file(const std::string& name) const;
};
[[nodiscard]] FileWrite makePrivateDirectory(PrivateDirectory& dir);
// Removes the files in it and the directory itself.
void removePrivateDirectory(PrivateDirectory& dir);

struct ProgramRun {
  bool started = false;
  bool notFound = false;  // no such program on the search path
  int exitCode = -1;      // when started: its exit code (-1 when killed)
  std::string error;      // why it did not start
  std::string errors;     // with captureErrors: what it wrote to standard error (at most 64 KiB)
};

// Where a program's output goes.
struct RunOutput {
  // Its standard output: this file (UTF-8, created or truncated), or our
  // standard error when empty, so that what it prints never mixes with ours.
  std::string file;
  // Its standard error: kept in ProgramRun::errors, else ours.
  bool captureErrors = false;
};

// Runs a program (args[0], looked up by findProgramOnPath in PATH;
// arguments UTF-8) by its full path and waits for it.
ProgramRun runProgram(const std::vector<std::string>& args, const RunOutput& output = {});

// The full path runProgram would run for `program` (POSIX: an executable
// regular file on an absolute entry of PATH); empty when none.
std::string programOnPath(const std::string& program);

// The first `program` (on Windows with ".exe" added) in the directories of
// `searchPath` (separated by ';' with windowsRules, else ':') for which
// `isProgram` holds; empty when none. Only absolute directories are looked
// at: an empty entry and a relative one (".", "bin") would make the current
// directory decide which program runs. Quotes around a Windows entry are
// dropped.
std::string findProgramOnPath(std::string_view searchPath, std::string_view program, bool windowsRules,
                              const std::function<bool(const std::string&)>& isProgram);

// One argument as the Windows C runtime's command-line parser reads it
// back: quoted when it holds a space, a tab or a quote (or is empty), with
// backslashes doubled only where they precede a quote.
std::string quoteWindowsArgument(const std::string& arg);

// The directory of the running packer executable; empty when the system
// does not say.
std::string executableDirectory();

enum class PathKind { missing, file, directory, link, other, failed };

// What `path` (UTF-8) is, without following a final symbolic link or
// junction; `error` says why when failed.
PathKind pathKind(const std::string& path, std::string& error);

// The names in a folder (without "." and ".."), sorted bytewise.
bool listDirectory(const std::string& path, std::vector<std::string>& names, std::string& error);

// Removes a file or a folder tree; links are removed, never followed: each
// folder is opened relative to its parent without following a link (on
// Windows held open, without delete sharing, while its entries go).
void removeTree(const std::string& path);

// True when `path` is a folder of the caller's own (its owner, and on
// POSIX systems writable by nobody else) holding no symbolic link or
// junction at any depth, and no folder of somebody else's. `why` says what
// is not.
bool isOwnTreeWithoutLinks(const std::string& path, std::string& why);

// True when both paths name the same file (links followed): the same
// device and inode, or volume and file index.
bool sameFileIdentity(const std::string& a, const std::string& b);

// Gives the open output the permissions of the open input, without write
// for others and without set-id bits (mode & 0755); nothing on Windows,
// where the copy takes its folder's access list.
[[nodiscard]] FileWrite keepSourceMode(OutputFile& out, const InputFile& in);

// Sets a file's modification time to a fixed moment (2000-01-01 00:00:00
// UTC), so that an archive of it is the same whenever it is made.
bool setFixedFileTime(const std::string& path, std::string& error);

// Makes standard output write bytes as they are (no line-end translation).
void setBinaryStdout();
