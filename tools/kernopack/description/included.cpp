#include "description/included.h"

#include "config/config_keys.h"
#include "config/config_store.h"
#include "config/value_list.h"
#include "files/included_files.h"
#include "image/image.h"

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// Streams `size` bytes from `in` to `out`, scrambling them (which also
// descrambles). False with `error` when `in` fails or ends early.
bool copyScrambled(InputFile& in, uint64_t size, OutputFile& out, std::vector<uint8_t>& buffer,
                   std::string& error, bool& outputFailed) {
  auto read = [&](uint8_t* data, size_t want, size_t& got) {
    return readInputFile(in, data, want, got, error);
  };
  auto write = [&](const uint8_t* data, size_t count) {
    FileWrite w = writeOutputFile(out, data, count);
    if (!w.ok) error = w.error;
    return w.ok;
  };
  CopyOutcome copy = copyIncludedBytes(size, buffer, true, read, write);
  outputFailed = copy.end == CopyEnd::writeFailed;
  if (copy.end == CopyEnd::inputEnded) {
    error = "ended after " + std::to_string(copy.copied) + " of " + std::to_string(size) + " bytes";
  }
  return copy.end == CopyEnd::done;
}

}  // namespace

std::string resolveIncludedPath(std::string_view descriptionPath, std::string_view path, bool windowsRules) {
  std::string p(path);
  if (!windowsRules) {
    for (char& c : p) {
      if (c == '\\') c = '/';
    }
  }
  bool absolute = !p.empty() && (windowsRules ? isSeparator(p[0]) : p[0] == '/');
  if (windowsRules && p.size() >= 2 && p[1] == ':' &&
      ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'))) {
    absolute = true;
  }
  if (absolute) return p;
  // Beside the description, in its words: "C:\app/" + "lib/a.jar".
  return std::string(descriptionPath.substr(0, fileNameStart(descriptionPath, windowsRules))) + p;
}

ConfinedPath confineIncludedPath(std::string_view path) {
  ConfinedPath r;
  auto refuse = [&](std::string why) {
    r.error = std::move(why);
    r.components.clear();
    return r;
  };
  if (path.empty()) return refuse("names no file");
  if (isSeparator(path[0])) {
    if (path.size() >= 2 && isSeparator(path[1])) {
      if (path.size() >= 3 && (path[2] == '.' || path[2] == '?') && (path.size() == 3 || isSeparator(path[3])))
        return refuse("is a device path (\\\\.\\ or \\\\?\\)");
      return refuse("is a network (UNC) path");
    }
    return refuse("is an absolute path");
  }
  bool letter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
  if (path.size() >= 2 && letter && path[1] == ':') {
    if (path.size() >= 3 && isSeparator(path[2])) return refuse("is an absolute path with a drive");
    return refuse("is relative to the current directory of drive " + std::string(path.substr(0, 2)));
  }
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (r.components.empty()) return refuse("leaves the description's directory (\"..\")");
      r.components.pop_back();
      continue;
    }
    // A directory name must be one Windows takes as it is (the file name
    // itself was checked with the description). The superscript digits
    // are looked at as the code page holds them. A ';' is no fault in a
    // directory name (only file names go into a list), and must not hide
    // what follows it from the check.
    std::string name(part);
    for (const char* superscript : {"\xC2\xB9", "\xC2\xB2", "\xC2\xB3"}) {
      for (size_t at = name.find(superscript); at != std::string::npos; at = name.find(superscript)) name.erase(at, 1);
    }
    for (char& c : name) c = c == ';' ? '_' : c;
    if (part.find(':') != std::string_view::npos)
      return refuse("has ':' (a drive or a data stream) in \"" + std::string(part) + "\"");
    FileNameProblem problem = checkIncludedFileName(name);
    if (problem != FileNameProblem::none)
      return refuse("the directory name \"" + std::string(part) + "\" " + fileNameProblemText(problem));
    r.components.emplace_back(part);
  }
  if (r.components.empty()) return refuse("names no file beneath the description's directory");
  r.ok = true;
  return r;
}

bool pathWithin(std::string_view path, std::string_view allowed, bool windowsRules) {
  while (allowed.size() > 1 && (windowsRules ? isSeparator(allowed.back()) : allowed.back() == '/'))
    allowed.remove_suffix(1);
  if (path.size() < allowed.size()) return false;
  auto same = [&](char a, char b) {
    if (!windowsRules) return a == b;
    if (isSeparator(a) && isSeparator(b)) return true;
    if (a >= 'A' && a <= 'Z') a = char(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = char(b - 'A' + 'a');
    return a == b;
  };
  for (size_t i = 0; i < allowed.size(); ++i) {
    if (!same(path[i], allowed[i])) return false;
  }
  if (path.size() == allowed.size()) return true;
  char next = path[allowed.size()];
  char last = allowed.empty() ? '\0' : allowed.back();
  bool sepNext = windowsRules ? isSeparator(next) : next == '/';
  bool sepLast = windowsRules ? isSeparator(last) : last == '/';
  return sepNext || sepLast;
}

ReadStatus openIncludedSource(const IncludedSource& source, InputFile& file, std::string& error) {
  if (source.confined) return openFileBeneath(source.directory, source.components, file, error);
  return openInputFile(source.path, file, error);
}

IncludedChoice chooseIncludedSource(std::string_view descriptionPath, std::string_view path,
                                    const std::vector<std::string>& allowed, bool windowsRules) {
  IncludedChoice r;
  r.source.path = resolveIncludedPath(descriptionPath, path, windowsRules);
  std::string full = allowed.empty() ? std::string() : absolutePath(r.source.path);
  bool allow = false;
  for (const std::string& dir : allowed) allow = allow || (!full.empty() && pathWithin(full, dir, windowsRules));
  // A device is never a file to include, whatever the command line allows.
  if (allow && windowsRules && (full.rfind("\\\\.\\", 0) == 0 || full.rfind("\\\\?\\", 0) == 0)) {
    r.error = "is a device path (" + full + ")";
    return r;
  }
  if (allow) {
    r.ok = true;
    return r;
  }
  ConfinedPath confined = confineIncludedPath(path);
  if (!confined.ok) {
    r.error = confined.error +
              "; an included file must lie beneath the description's directory (--allow-outside FILE-OR-DIR lets "
              "one in)";
    return r;
  }
  r.source.confined = true;
  r.source.directory = pathDirectory(descriptionPath, windowsRules);
  r.source.components = std::move(confined.components);
  r.ok = true;
  return r;
}

PackResult writeConfiguredExecutable(const std::string& outputPath, const std::vector<uint8_t>& templ,
                                     uint64_t imageEnd, const BlockRecords& records,
                                     const std::vector<IncludedSource>& included) {
  PackResult r;
  auto inputFailure = [&](size_t index, std::string error) {
    r.failure = PackFailure::input;
    r.inputIndex = index;
    r.error = std::move(error);
    return r;
  };
  auto outputFailure = [&](std::string error) {
    r.failure = PackFailure::output;
    r.error = std::move(error);
    return r;
  };

  // Every input must be there and fit before anything is written.
  std::vector<uint64_t> sizes;
  for (size_t i = 0; i < included.size(); ++i) {
    InputFile in;
    std::string error;
    if (openIncludedSource(included[i], in, error) != ReadStatus::ok)
      return inputFailure(i, "cannot read: " + error);
    if (in.size > kMaxIncludedFileBytes)
      return inputFailure(i, "larger than " + std::to_string(kMaxIncludedFileBytes) +
                                 " bytes, the most an included file can hold");
    sizes.push_back(in.size);
  }

  OutputFile out;
  FileWrite w = beginOutputFile(outputPath, out);
  if (!w.ok) return outputFailure(w.error);
  w = writeOutputFile(out, templ.data(), size_t(imageEnd));
  if (!w.ok) return outputFailure(w.error);
  std::vector<uint8_t> block = serializeConfigBlock(records);
  w = writeOutputFile(out, block.data(), block.size());
  if (!w.ok) return outputFailure(w.error);
  uint64_t written = imageEnd + block.size();

  std::vector<uint8_t> buffer;
  for (size_t i = 0; i < included.size(); ++i) {
    InputFile in;
    std::string error;
    if (openIncludedSource(included[i], in, error) != ReadStatus::ok)
      return inputFailure(i, "cannot read: " + error);
    if (in.size != sizes[i]) return inputFailure(i, "changed while being read");
    std::vector<uint8_t> field;
    appendLe32(field, uint32_t(sizes[i]));
    w = writeOutputFile(out, field.data(), field.size());
    if (!w.ok) return outputFailure(w.error);
    if (buffer.empty() && sizes[i] > 0) buffer.resize(kIncludedCopyChunk);
    bool outputFailed = false;
    if (!copyScrambled(in, sizes[i], out, buffer, error, outputFailed))
      return outputFailed ? outputFailure(error) : inputFailure(i, "cannot read: " + error);
    // A file that grew while it was read would be cut short without notice.
    uint8_t probe = 0;
    size_t extra = 0;
    if (!readInputFile(in, &probe, 1, extra, error)) return inputFailure(i, "cannot read: " + error);
    if (extra != 0) return inputFailure(i, "changed while being read");
    written += 4 + sizes[i];
  }

  size_t rest = size_t(written % kFileAlignment);
  if (rest != 0) {
    std::vector<uint8_t> padding(kFileAlignment - rest, 0);
    w = writeOutputFile(out, padding.data(), padding.size());
    if (!w.ok) return outputFailure(w.error);
  }
  w = commitOutputFile(out);
  if (!w.ok) return outputFailure(w.error);
  return r;
}

IncludedLayout includedLayout(const ConfigTables& tables) {
  IncludedLayout r;
  auto countIt = tables.narrow.find(int32_t(ConfigKey::includedFileCount));
  if (countIt == tables.narrow.end()) {
    r.ok = true;
    return r;
  }
  // What the launcher reads: atoi of the text up to its first NUL. A count
  // of 0 or less carries no section, and the keys are plain records.
  const std::string& countText = countIt->second;
  int count = parseConfigInt(std::string_view(countText.c_str()));
  if (count <= 0) {
    r.ok = true;
    return r;
  }
  if (countText != std::to_string(count)) {
    r.error = "key 2002 (\"includedFileCount\"): the text \"" + countText +
              "\" counts included files but is not written as a plain decimal number";
    return r;
  }

  auto namesIt = tables.narrow.find(int32_t(ConfigKey::includedFileNames));
  std::string list = namesIt == tables.narrow.end() ? std::string() : namesIt->second;
  std::vector<std::string> names;
  for (std::string_view name : splitList(list, kIncludedFileNameSeparator, EmptyItems::keep))
    names.emplace_back(name);
  if (names.size() != size_t(count)) {
    r.error = "key 2003 (\"includedFileNames\") names " + std::to_string(names.size()) +
              " files but key 2002 (\"includedFileCount\") counts " + std::to_string(count);
    return r;
  }
  for (size_t i = 0; i < names.size(); ++i) {
    FileNameProblem problem = checkIncludedFileName(names[i]);
    if (problem != FileNameProblem::none) {
      r.error = "key 2003 (\"includedFileNames\"): name " + std::to_string(i + 1) + " " +
                fileNameProblemText(problem);
      return r;
    }
    for (size_t j = 0; j < i; ++j) {
      if (sameIncludedFileName(names[i], names[j])) {
        r.error = "key 2003 (\"includedFileNames\"): names " + std::to_string(j + 1) + " and " +
                  std::to_string(i + 1) + " are the same file";
        return r;
      }
    }
  }
  r.names = std::move(names);
  r.ok = true;
  return r;
}

SectionResult walkIncludedSection(InputFile& exe, uint64_t offset, uint64_t end,
                                  const std::vector<std::string>& fileNames, const std::string& extractDirectory) {
  if (end > exe.size) end = exe.size;
  SectionResult r;
  std::string error;
  if (!seekInputFile(exe, offset, error)) {
    r.error = "cannot read the included files: " + error;
    return r;
  }
  std::vector<uint8_t> buffer;
  uint64_t at = offset;
  for (size_t i = 0; i < fileNames.size(); ++i) {
    std::string entry = "included file " + std::to_string(i + 1) + " (" + fileNames[i] + ")";
    uint8_t field[4];
    size_t got = 0;
    size_t total = 0;
    while (total < 4) {
      if (!readInputFile(exe, field + total, 4 - total, got, error)) {
        r.error = entry + ": cannot read its size: " + error;
        return r;
      }
      if (got == 0) break;
      total += got;
    }
    if (total < 4 || at > end || end - at < 4) {
      r.error = entry + ": the file ends before its size (offset " + std::to_string(at) + ")";
      return r;
    }
    int32_t size = int32_t(readLe32(field));
    at += 4;
    if (size < 0) {
      r.error = entry + ": negative size " + std::to_string(size) + " at offset " + std::to_string(at - 4);
      return r;
    }
    if (uint64_t(size) > end - at) {
      r.error = entry + ": " + std::to_string(size) + " bytes at offset " + std::to_string(at) +
                " run past the end of the file";
      return r;
    }
    if (extractDirectory.empty()) {
      if (!seekInputFile(exe, at + uint64_t(size), error)) {
        r.error = entry + ": " + error;
        return r;
      }
    } else {
      std::string target = extractDirectory + "/" + fileNames[i];
      OutputFile out;
      FileWrite w = beginOutputFile(target, out, false);
      if (!w.ok) {
        r.outputFailed = true;
        r.error = target + ": " + w.error;
        return r;
      }
      if (buffer.empty() && size > 0) buffer.resize(kIncludedCopyChunk);
      bool outputFailed = false;
      if (!copyScrambled(exe, uint64_t(size), out, buffer, error, outputFailed)) {
        r.outputFailed = outputFailed;
        r.error = (outputFailed ? target : entry) + ": " + error;
        return r;
      }
      w = commitOutputFile(out);
      if (!w.ok) {
        r.outputFailed = true;
        r.error = target + ": " + w.error;
        return r;
      }
    }
    at += uint64_t(size);
  }
  r.ok = true;
  return r;
}
