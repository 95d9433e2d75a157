// The service description: a JSON object that names configuration keys and
// their values. parseDescription turns it into the records of a
// configuration block; describeConfiguration turns a block's tables back
// into a description that builds the same block.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "config/config_block.h"
#include "description/included.h"
#include "image/launcher_choice.h"

// Largest description file the packer reads.
inline constexpr uint64_t kMaxDescriptionBytes = 16ull * 1024 * 1024;
// Objects and arrays nested deeper than this are refused; a description
// needs three levels.
inline constexpr int kMaxJsonDepth = 16;

// Top-level fields that are not key names.
inline constexpr std::string_view kLauncherField = "launcher";
// What dump read from the executable's version resource: the template's file
// name and release. Only information: build accepts it and ignores it.
inline constexpr std::string_view kMadeFromField = "madeFrom";
inline constexpr std::string_view kRecordsField = "records";
inline constexpr std::string_view kWideRecordsField = "wideRecords";
// The files to carry inside the executable; sets keys 2002 and 2003.
inline constexpr std::string_view kIncludedFilesField = "includedFiles";
// An "includedFiles" item that stands for the Java-side runtime jar the
// packer finds itself (beside it, or in the build tree); '<' cannot start a
// real Windows file name, so the item is never a path.
inline constexpr std::string_view kRuntimeJarItem = "<runtime>";
inline constexpr std::string_view kRuntimeJarName = "kerno-runtime.jar";
// The settings of the Windows Installer package (`msi`, docs/msi.md); `build`
// ignores them.
inline constexpr std::string_view kPackageField = "package";

struct Description {
  bool ok = false;
  // What is wrong and where: the field, or the line and column of a JSON
  // syntax error. The caller puts the file name in front.
  std::string error;
  // In canonical order: each section by ascending key.
  BlockRecords records;
  LauncherArch launcher = LauncherArch::unspecified;
  // In the order of the description; their names are in the records too.
  std::vector<IncludedFile> includedFiles;
};

// Parses a description (UTF-8 JSON) and converts its texts: narrow records
// into `codePage`, wide records into UTF-16. Keys with a default that the
// description leaves out get that default; a key given as null gets no
// record. "includedFiles" gives keys 2002 and 2003 their values, which the
// description may then not set itself.
Description parseDescription(std::string_view json, unsigned codePage);

struct DescriptionText {
  bool ok = false;
  std::string error;  // names the key whose value cannot be shown
  std::string json;   // pretty-printed, ending in a line break
};

// The description of a block: `launcher` (if known), every named key that
// the block holds, null for each key with a default that it lacks, and the
// other records under "records" and "wideRecords". With `includedFiles`
// (the block carries a section that includedLayout accepts), keys 2002 and
// 2003 are shown as "includedFiles": the names, which are also the paths of
// the extracted files relative to the directory they were extracted to.
// `madeFrom`, when not empty, is shown as "madeFrom" after "launcher".
DescriptionText describeConfiguration(const ConfigTables& tables, LauncherArch launcher,
                                      unsigned codePage, bool includedFiles = false,
                                      const std::string& madeFrom = {});
