#include "io/packer_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

FileRead readFileBounded(const std::string& path, uint64_t maxBytes) {
  FileRead r;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    r.status = errno == ENOENT ? ReadStatus::notFound : ReadStatus::failed;
    r.error = std::strerror(errno);
    return r;
  }
  // Read in pieces up to one byte past the bound, so that a file that grows
  // or lies about its size cannot make us read without limit.
  char buf[65536];
  while (true) {
    size_t n = std::fread(buf, 1, sizeof buf, f);
    if (n > 0) {
      if (r.bytes.size() + n > maxBytes) {
        std::fclose(f);
        r.bytes.clear();
        r.status = ReadStatus::tooLarge;
        r.error = "larger than " + std::to_string(maxBytes) + " bytes";
        return r;
      }
      r.bytes.insert(r.bytes.end(), buf, buf + n);
    }
    if (n < sizeof buf) break;
  }
  bool failed = std::ferror(f) != 0;
  int err = errno;
  std::fclose(f);
  if (failed) {
    r.bytes.clear();
    r.error = std::strerror(err);
    return r;
  }
  r.status = ReadStatus::ok;
  return r;
}

FileWrite writeFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes) {
  OutputFile out;
  FileWrite r = beginOutputFile(path, out);
  if (!r.ok) return r;
  r = writeOutputFile(out, bytes.data(), bytes.size());
  if (!r.ok) return r;
  return commitOutputFile(out);
}

InputFile::~InputFile() { closeInputFile(*this); }

OutputFile::~OutputFile() { abandonOutputFile(*this); }

std::string quoteWindowsArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  // ... and so are those before the closing quote.
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

FileWrite copyFileReplacing(const std::string& from, const std::string& to) {
  FileWrite r;
  InputFile in;
  std::string error;
  if (openInputFile(from, in, error) != ReadStatus::ok) {
    r.error = "cannot read " + from + ": " + error;
    return r;
  }
  OutputFile out;
  r = beginOutputFile(to, out);
  if (!r.ok) return r;
  std::vector<uint8_t> buffer(size_t(1) << 20);
  for (;;) {
    size_t got = 0;
    if (!readInputFile(in, buffer.data(), buffer.size(), got, error)) {
      r.ok = false;
      r.error = "cannot read " + from + ": " + error;
      return r;
    }
    if (got == 0) break;
    r = writeOutputFile(out, buffer.data(), got);
    if (!r.ok) return r;
  }
  return commitOutputFile(out);
}

PrivateDirectory::~PrivateDirectory() { removePrivateDirectory(*this); }

std::string findProgramOnPath(std::string_view searchPath, std::string_view program, bool windowsRules,
                              const std::function<bool(const std::string&)>& isProgram) {
  char listSeparator = windowsRules ? ';' : ':';
  size_t start = 0;
  while (start <= searchPath.size()) {
    size_t end = searchPath.find(listSeparator, start);
    if (end == std::string_view::npos) end = searchPath.size();
    std::string_view dir = searchPath.substr(start, end - start);
    start = end + 1;
    if (windowsRules && dir.size() >= 2 && dir.front() == '"' && dir.back() == '"') dir = dir.substr(1, dir.size() - 2);
    bool absolute;
    if (windowsRules) {
      bool drive = dir.size() >= 3 && dir[1] == ':' && (dir[2] == '\\' || dir[2] == '/') &&
                   ((dir[0] >= 'A' && dir[0] <= 'Z') || (dir[0] >= 'a' && dir[0] <= 'z'));
      bool unc = dir.size() >= 3 && (dir[0] == '\\' || dir[0] == '/') && (dir[1] == '\\' || dir[1] == '/');
      absolute = drive || unc;
    } else {
      absolute = !dir.empty() && dir[0] == '/';
    }
    if (!absolute) continue;
    std::string candidate(dir);
    char last = candidate.back();
    if (last != '/' && !(windowsRules && last == '\\')) candidate += windowsRules ? '\\' : '/';
    candidate += program;
    if (windowsRules) candidate += ".exe";
    if (isProgram(candidate)) return candidate;
  }
  return std::string();
}
