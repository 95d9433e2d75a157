#include "packer_io.h"

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
