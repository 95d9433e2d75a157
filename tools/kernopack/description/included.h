// The included-file section on the packer's side: where the files named by a
// description are found, writing a configured executable with their contents
// streamed in, and walking (and extracting) the section of a configured
// executable. File contents are moved in pieces and never held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_block.h"
#include "files/included_files.h"
#include "io/packer_io.h"
#include "io/path_name.h"

// Bytes moved per read and write.
inline constexpr size_t kIncludedCopyChunk = kIncludedCopyPiece;
// The size field of an entry is a signed 32-bit number.
inline constexpr uint64_t kMaxIncludedFileBytes = 0x7FFFFFFF;

// One file named by "includedFiles": the path as the description gives it
// (UTF-8) and its file name as key 2003 stores it (bytes in the code page).
struct IncludedFile {
  std::string path;
  std::string name;
};

// Where an included path is opened: absolute paths as they are, relative
// ones from the directory of the description file. With windowsRules, '\'
// and '/' both separate and X: or a leading separator make a path absolute;
// otherwise '\' is turned into '/' and only a leading '/' is absolute.
std::string resolveIncludedPath(std::string_view descriptionPath, std::string_view path,
                                bool windowsRules);

// Where an included path leads, judged from its text alone and by the same
// rules on every system, so that a description means the same to both
// packers. Accepted: a relative path that stays beneath the description's
// directory. Refused, with the reason: an empty path, an absolute one (a
// leading separator, a drive "C:\"), a UNC path ("\\host\share"), a device
// path ("\\.\", "\\?\"), a drive-relative one ("C:a.jar"), a ':' anywhere
// (a data stream), ".." that climbs above the directory, and a directory name
// that Windows would not take as it is (a reserved device name such as CON or
// COM1, a trailing dot or space, control characters and < > " | ? *).
struct ConfinedPath {
  bool ok = false;
  std::string error;                    // why not
  std::vector<std::string> components;  // beneath the directory; "." and ".." resolved
};
ConfinedPath confineIncludedPath(std::string_view path);

// Whether `path` is `allowed` or lies beneath it. Both are absolute and in
// normal form (absolutePath); with windowsRules ASCII letters are compared
// without case and '/' equals '\'.
bool pathWithin(std::string_view path, std::string_view allowed, bool windowsRules);

// How one included file is opened: beneath the description's directory
// without following links (confined), or, for what the command line allows
// and the runtime jar, by its path as it is.
struct IncludedSource {
  std::string path;                     // UTF-8; opened as it is when not confined
  bool confined = false;
  std::string directory;                // when confined: the description's directory
  std::vector<std::string> components;  // when confined: the path beneath it
};
ReadStatus openIncludedSource(const IncludedSource& source, InputFile& file, std::string& error);

// How an included path of a description (not the runtime jar item) is
// opened: as it is, when its absolute form is one of `allowed` (absolute
// paths from --allow-outside) or lies beneath one, and is no device path;
// else confined beneath the description's directory, which confineIncludedPath
// must accept. `error` says why neither.
struct IncludedChoice {
  bool ok = false;
  std::string error;
  IncludedSource source;
};
IncludedChoice chooseIncludedSource(std::string_view descriptionPath, std::string_view path,
                                    const std::vector<std::string>& allowed, bool windowsRules);

enum class PackFailure { none, input, output };

struct PackResult {
  PackFailure failure = PackFailure::none;
  size_t inputIndex = 0;  // which included file, when failure == input
  std::string error;      // what went wrong, without the file's name
};

// Writes the configured executable: the template's image, the block, one
// entry (size, scrambled content) per included file in order, and zero
// padding up to a multiple of kFileAlignment. Every input is checked before
// the output is begun; after any failure there is no output file.
PackResult writeConfiguredExecutable(const std::string& outputPath, const std::vector<uint8_t>& templ,
                                     uint64_t imageEnd, const BlockRecords& records,
                                     const std::vector<IncludedSource>& included);

// The included files a block promises, in the form the packer writes them:
// key 2002 the canonical decimal count, key 2003 exactly that many names
// joined by ';', each a valid file name and no two the same. A count that
// reads as 0 or less means no section (names empty, ok). Anything else
// cannot be described as "includedFiles", and `error` says why.
struct IncludedLayout {
  bool ok = false;
  std::string error;
  std::vector<std::string> names;  // bytes in the code page
};
IncludedLayout includedLayout(const ConfigTables& tables);

struct SectionResult {
  bool ok = false;
  bool outputFailed = false;  // writing an extracted file failed (else: the input is bad)
  std::string error;
};

// Walks the section at `offset` of `exe`, one entry per name: each size must
// be 0 or more and the content must end at or before `end` (the end of the
// file, or the certificate table of a signed one). With a non-empty
// `extractDirectory` (UTF-8), writes each file there, descrambled, under its
// name from `fileNames` (UTF-8); an existing file of that name is replaced.
SectionResult walkIncludedSection(InputFile& exe, uint64_t offset, uint64_t end,
                                  const std::vector<std::string>& fileNames, const std::string& extractDirectory);
