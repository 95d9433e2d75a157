// File glue for the Windows build.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <string>

#include "common/handles_win.h"
#include "packer_io.h"

namespace {

// How many temporary names to try before giving up.
constexpr int kTempNameAttempts = 100;
// The largest piece handed to one WriteFile call.
constexpr DWORD kWriteChunk = 1u << 20;

std::string errorText(const char* what, DWORD err) {
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, err, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out = std::string(what) + ": ";
  if (n > 0 && text) {
    std::string msg(text, n);
    while (!msg.empty() && (msg.back() == '\n' || msg.back() == '\r' || msg.back() == ' ')) msg.pop_back();
    out += msg;
  } else {
    out += "error " + std::to_string(err);
  }
  if (text) LocalFree(text);
  return out;
}

}  // namespace

FileWrite writeFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes) {
  FileWrite r;
  std::string temp;
  UniqueHandle file;
  for (int i = 0; i < kTempNameAttempts && !file; ++i) {
    temp = path + ".kernopack-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(i) + ".tmp";
    file.reset(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr));
    if (!file && GetLastError() != ERROR_FILE_EXISTS) {
      r.error = errorText("cannot create a temporary file beside it", GetLastError());
      return r;
    }
  }
  if (!file) {
    r.error = "cannot create a temporary file beside it: every name is taken";
    return r;
  }
  auto fail = [&](const char* what, DWORD err) {
    file.reset();
    DeleteFileA(temp.c_str());
    r.error = errorText(what, err);
    return r;
  };
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = bytes.size() - done > kWriteChunk ? kWriteChunk : DWORD(bytes.size() - done);
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) || written == 0)
      return fail("write failed", GetLastError());
    done += written;
  }
  if (!FlushFileBuffers(file.get())) return fail("write failed", GetLastError());
  file.reset();
  if (!MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return fail("cannot replace it", GetLastError());
  r.ok = true;
  return r;
}

std::string executableDirectory() {
  // Long paths need a larger buffer; grow it until the name fits.
  std::string buf(MAX_PATH, '\0');
  for (int tries = 0; tries < 6; ++tries) {
    DWORD n = GetModuleFileNameA(nullptr, buf.data(), DWORD(buf.size()));
    if (n == 0) return std::string();
    if (n < buf.size()) {
      buf.resize(n);
      size_t sep = buf.find_last_of("\\/");
      return sep == std::string::npos ? std::string() : buf.substr(0, sep);
    }
    buf.resize(buf.size() * 2);
  }
  return std::string();
}

void setBinaryStdout() { _setmode(_fileno(stdout), _O_BINARY); }
