// File glue for the Windows build. Paths of the streaming functions are
// UTF-8 and are opened as UTF-16, so that any name a description holds works
// whatever the ANSI code page.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <string>

#include "common/handles_win.h"
#include "packer_io.h"

namespace {

// How many temporary names to try before giving up.
constexpr int kTempNameAttempts = 100;
// The largest piece handed to one ReadFile or WriteFile call.
constexpr DWORD kIoChunk = 1u << 20;

std::string errorText(const char* what, DWORD err) {
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, err, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out = what ? std::string(what) + ": " : std::string();
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

std::wstring toWide(const std::string& text, UINT codePage) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(size_t(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), out.data(), n);
  return out;
}

std::string toUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

HANDLE asHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

std::string commandLinePath(const std::string& arg) { return toUtf8(toWide(arg, CP_ACP)); }

ReadStatus openInputFile(const std::string& path, InputFile& file, std::string& error) {
  closeInputFile(file);
  std::wstring wide = toWide(path, CP_UTF8);
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD err = GetLastError();
    error = errorText(nullptr, err);
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? ReadStatus::notFound
                                                                      : ReadStatus::failed;
  }
  UniqueHandle owned(h);
  LARGE_INTEGER size;
  if (GetFileType(h) != FILE_TYPE_DISK) {
    error = "not a regular file";
    return ReadStatus::failed;
  }
  if (!GetFileSizeEx(h, &size)) {
    error = errorText(nullptr, GetLastError());
    return ReadStatus::failed;
  }
  file.handle = reinterpret_cast<intptr_t>(owned.release());
  file.size = uint64_t(size.QuadPart);
  return ReadStatus::ok;
}

bool readInputFile(InputFile& file, uint8_t* data, size_t want, size_t& got, std::string& error) {
  got = 0;
  DWORD n = 0;
  DWORD chunk = want > kIoChunk ? kIoChunk : DWORD(want);
  if (!ReadFile(asHandle(file.handle), data, chunk, &n, nullptr)) {
    DWORD err = GetLastError();
    if (err == ERROR_HANDLE_EOF) return true;
    error = errorText(nullptr, err);
    return false;
  }
  got = n > chunk ? chunk : n;
  return true;
}

bool seekInputFile(InputFile& file, uint64_t offset, std::string& error) {
  LARGE_INTEGER pos;
  pos.QuadPart = LONGLONG(offset);
  if (offset > uint64_t(INT64_MAX) || !SetFilePointerEx(asHandle(file.handle), pos, nullptr, FILE_BEGIN)) {
    error = errorText(nullptr, GetLastError());
    return false;
  }
  return true;
}

void closeInputFile(InputFile& file) {
  if (file.handle != -1) CloseHandle(asHandle(file.handle));
  file.handle = -1;
}

FileWrite beginOutputFile(const std::string& path, OutputFile& file, bool executable) {
  (void)executable;  // Windows keeps no execute permission
  FileWrite r;
  abandonOutputFile(file);
  std::string temp;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int i = 0; i < kTempNameAttempts && h == INVALID_HANDLE_VALUE; ++i) {
    temp = path + ".kernopack-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(i) + ".tmp";
    h = CreateFileW(toWide(temp, CP_UTF8).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
      r.error = errorText("cannot create a temporary file beside it", GetLastError());
      return r;
    }
  }
  if (h == INVALID_HANDLE_VALUE) {
    r.error = "cannot create a temporary file beside it: every name is taken";
    return r;
  }
  file.handle = reinterpret_cast<intptr_t>(h);
  file.path = path;
  file.temp = temp;
  r.ok = true;
  return r;
}

FileWrite writeOutputFile(OutputFile& file, const uint8_t* data, size_t size) {
  FileWrite r;
  size_t done = 0;
  while (done < size) {
    DWORD chunk = size - done > kIoChunk ? kIoChunk : DWORD(size - done);
    DWORD written = 0;
    if (!WriteFile(asHandle(file.handle), data + done, chunk, &written, nullptr) || written == 0) {
      DWORD err = GetLastError();
      abandonOutputFile(file);
      r.error = errorText("write failed", err);
      return r;
    }
    done += written > chunk ? chunk : written;
  }
  r.ok = true;
  return r;
}

FileWrite commitOutputFile(OutputFile& file) {
  FileWrite r;
  auto fail = [&](const char* what, DWORD err) {
    abandonOutputFile(file);
    r.error = errorText(what, err);
    return r;
  };
  if (!FlushFileBuffers(asHandle(file.handle))) return fail("write failed", GetLastError());
  CloseHandle(asHandle(file.handle));
  file.handle = -1;
  if (!MoveFileExW(toWide(file.temp, CP_UTF8).c_str(), toWide(file.path, CP_UTF8).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return fail("cannot replace it", GetLastError());
  file.temp.clear();
  r.ok = true;
  return r;
}

void abandonOutputFile(OutputFile& file) {
  if (file.handle != -1) CloseHandle(asHandle(file.handle));
  file.handle = -1;
  if (!file.temp.empty()) DeleteFileW(toWide(file.temp, CP_UTF8).c_str());
  file.temp.clear();
}

FileWrite makeDirectory(const std::string& path) {
  FileWrite r;
  std::wstring wide = toWide(path, CP_UTF8);
  if (!CreateDirectoryW(wide.c_str(), nullptr)) {
    DWORD err = GetLastError();
    DWORD attrs = GetFileAttributesW(wide.c_str());
    if (!(err == ERROR_ALREADY_EXISTS && attrs != INVALID_FILE_ATTRIBUTES &&
          (attrs & FILE_ATTRIBUTE_DIRECTORY))) {
      r.error = errorText("cannot create the directory", err);
      return r;
    }
  }
  r.ok = true;
  return r;
}

FileWrite replaceFile(const std::string& from, const std::string& to) {
  FileWrite r;
  if (!MoveFileExW(toWide(from, CP_UTF8).c_str(), toWide(to, CP_UTF8).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    r.error = errorText("cannot replace it", GetLastError());
    return r;
  }
  r.ok = true;
  return r;
}

void removeFile(const std::string& path) { DeleteFileW(toWide(path, CP_UTF8).c_str()); }

ProgramRun runProgram(const std::vector<std::string>& args) {
  ProgramRun r;
  if (args.empty()) {
    r.error = "no program given";
    return r;
  }
  std::string line;
  for (const std::string& a : args) line += (line.empty() ? "" : " ") + quoteWindowsArgument(a);
  std::wstring wide = toWide(line, CP_UTF8);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = GetStdHandle(STD_ERROR_HANDLE);
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  // No application name: the first word is looked up on PATH (".exe" added).
  if (!CreateProcessW(nullptr, wide.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    DWORD err = GetLastError();
    r.notFound = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
    r.error = errorText(nullptr, err);
    return r;
  }
  UniqueHandle process(pi.hProcess);
  CloseHandle(pi.hThread);
  r.started = true;
  DWORD code = 0;
  if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.get(), &code)) {
    r.error = errorText("cannot wait for it", GetLastError());
    return r;
  }
  r.exitCode = int(code);
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
