// Files carried inside the executable: extracted at every start into a fresh
// temporary directory, handed to deferred deletion on the way out.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

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

// Remember a path for cleanupExtractedFiles.
void registerExtractedFile(const std::string& path);
void registerExtractedDir(const std::string& path);

// Hands every extracted file, then every extraction directory, to deferred
// deletion. Deletes nothing itself and keeps the lists, so it may run any
// number of times (each run schedules the same paths again).
void cleanupExtractedFiles();
