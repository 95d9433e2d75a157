// Files carried inside the executable: extracted at every start into a fresh
// temporary directory, handed to deferred deletion on the way out.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "files/included_files.h"

// Bytes moved per read and write while extracting.
inline constexpr DWORD kExtractionCopyChunk = static_cast<DWORD>(kIncludedCopyPiece);

// Extracts the included files (key 2002 counts them, key 2003 names them)
// from the section after the configuration block into a new directory of
// the temporary area; `out` receives that directory, or the empty text when
// nothing is included. False when a file could not be extracted (the log
// says which); a directory or file that cannot be created, or a failed
// write, ends the process with its internal error instead.
[[nodiscard]] bool extractIncludedFiles(std::string& out);

// Extracts one entry: reads its size from `media` (positioned at the entry)
// and copies that many bytes, descrambled, to a new file at `path`. An entry
// of size 0 or less creates nothing. False when the executable cannot be
// read far enough; `media` is then somewhere inside the entry.
[[nodiscard]] bool extractIncludedFile(HANDLE media, const std::string& path);

// Copies `size` bytes from `src` to `dst`, descrambling them on the way
// when asked. False (with "ReadFile failed" in the log) when `src` fails or
// ends early; a failed write ends the process with internal error 13.
[[nodiscard]] bool copyIncludedData(HANDLE src, HANDLE dst, uint64_t size, bool descramble);

// Remember a path for cleanupExtractedFiles. Any thread: the lists are
// guarded, since the launcher's own files join them while a stop may already
// hand them over.
void registerExtractedFile(const std::string& path);
void registerExtractedDir(const std::string& path);
// A file of the launcher's own making in its private directory: handed to
// deferred deletion like an extracted file, but never on the class path.
void registerLauncherFile(const std::string& path);

// The launcher's private directory of this run, for files of its own that
// must not lie where other users can write (the java -version probe's
// output, the process communication file): the extraction directory when
// files are included, else a directory made the same way (random name,
// private access list) on first use and handed to deferred deletion like an
// extraction directory. False, with the reason in the log, when none can be
// made. The thread that runs the Java search and the launch only.
[[nodiscard]] bool launcherWorkDirectory(std::string& out);

// Creates a new private file in the launcher's private directory, named
// `nameIn(directory, n)` for n = 0, 1, ... until one is free (at most
// `attempts` names: an included file may have the name), registers it with
// registerLauncherFile and gives its handle and path. INVALID_HANDLE_VALUE
// (the log says why) when no file could be made. The handle is not
// inheritable.
HANDLE createLauncherFile(std::string (*nameIn)(std::string_view directory, unsigned n), unsigned attempts,
                          DWORD access, DWORD share, std::string& path);

// Hands every extracted file, then every extraction directory, to deferred
// deletion. Deletes nothing itself and keeps the lists, so it may run any
// number of times (each run schedules the same paths again).
void cleanupExtractedFiles();
