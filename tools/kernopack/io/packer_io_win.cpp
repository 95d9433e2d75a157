// File glue for the Windows build. Paths of the streaming functions are
// UTF-8 and are opened as UTF-16, so that any name a description holds works
// whatever the ANSI code page.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/handles_win.h"
#include "config/access_rules_win.h"
#include "io/packer_io.h"
#include "io/path_name.h"

namespace {

// How many temporary names to try before giving up.
constexpr int kTempNameAttempts = 100;
// The largest piece handed to one ReadFile or WriteFile call.
constexpr DWORD kIoChunk = 1u << 20;
// The most of a program's standard error runProgram keeps.
constexpr size_t kMaxCapturedErrors = 64 * 1024;

std::string toUtf8(const std::wstring& text);

// The system's text for an error, as UTF-8 like every other text the packer
// prints.
std::string errorText(const char* what, DWORD err) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, err, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out = what ? std::string(what) + ": " : std::string();
  if (n > 0 && text) {
    std::string msg = toUtf8(std::wstring(text, n));
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

// Opens for reading without connecting anywhere as somebody else (a named
// pipe server gets an identification token only), and without following a
// link or junction at the end.
constexpr DWORD kReadFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | SECURITY_SQOS_PRESENT |
                             SECURITY_IDENTIFICATION;

constexpr const char* kLinkRefused =
    "is a link or junction (a reparse point); links are not followed beneath the description's directory "
    "(--allow-outside lets a path in as it is)";

ReadStatus openFailure(DWORD err, std::string& error) {
  error = errorText(nullptr, err);
  return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? ReadStatus::notFound : ReadStatus::failed;
}

// Takes an open file: a regular file on disk, not a link, with its size.
ReadStatus finishOpen(UniqueHandle owned, InputFile& file, std::string& error) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(owned.get(), &info)) return openFailure(GetLastError(), error);
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    error = std::string("it ") + kLinkRefused;
    return ReadStatus::failed;
  }
  if (GetFileType(owned.get()) != FILE_TYPE_DISK || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = "not a regular file";
    return ReadStatus::failed;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(owned.get(), &size)) return openFailure(GetLastError(), error);
  file.handle = reinterpret_cast<intptr_t>(owned.release());
  file.size = uint64_t(size.QuadPart);
  return ReadStatus::ok;
}

}  // namespace

std::string commandLinePath(const std::string& arg) { return toUtf8(toWide(arg, CP_ACP)); }

ReadStatus openInputFile(const std::string& path, InputFile& file, std::string& error) {
  closeInputFile(file);
  std::wstring wide = toWide(path, CP_UTF8);
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, kReadFlags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return openFailure(GetLastError(), error);
  UniqueHandle owned(h);
  if (GetFileType(h) != FILE_TYPE_DISK) {
    error = "not a regular file";
    return ReadStatus::failed;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(h, &size)) return openFailure(GetLastError(), error);
  file.handle = reinterpret_cast<intptr_t>(owned.release());
  file.size = uint64_t(size.QuadPart);
  return ReadStatus::ok;
}

ReadStatus openFileBeneath(const std::string& directory, const std::vector<std::string>& components,
                           InputFile& file, std::string& error, BeneathWalk) {
  closeInputFile(file);
  if (components.empty()) {
    error = "names no file";
    return ReadStatus::failed;
  }
  // Each directory on the way is opened itself (not what a link or junction
  // points to), refused when it is a reparse point, and held open without
  // delete sharing, so that it cannot be renamed or replaced before the file
  // is opened. The description's directory itself is the command line's.
  std::wstring path = toWide(directory, CP_UTF8);
  std::string walked;
  std::vector<UniqueHandle> held;
  for (size_t i = 0; i < components.size(); ++i) {
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/' && path.back() != L':') path += L'\\';
    path += toWide(components[i], CP_UTF8);
    walked += (walked.empty() ? "" : "\\") + components[i];
    bool last = i + 1 == components.size();
    // The attributes first: no handle is opened on what is no file.
    DWORD attrs = GetFileAttributesW(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) {
      ReadStatus status = openFailure(GetLastError(), error);
      if (!last) error = "\"" + walked + "\": " + error;
      return status;
    }
    if (attrs & FILE_ATTRIBUTE_REPARSE_POINT) {
      error = (last ? std::string("it ") : "\"" + walked + "\" ") + kLinkRefused;
      return ReadStatus::failed;
    }
    if (last) {
      if (attrs & FILE_ATTRIBUTE_DIRECTORY) {
        error = "is a directory, not a regular file";
        return ReadStatus::failed;
      }
      HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             kReadFlags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      if (h == INVALID_HANDLE_VALUE) return openFailure(GetLastError(), error);
      return finishOpen(UniqueHandle(h), file, error);
    }
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
      error = "\"" + walked + "\" is not a directory";
      return ReadStatus::notFound;
    }
    UniqueHandle dir(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT | SECURITY_SQOS_PRESENT |
                                     SECURITY_IDENTIFICATION,
                                 nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!dir || !GetFileInformationByHandle(dir.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      error = "\"" + walked + "\" changed while it was opened";
      return ReadStatus::failed;
    }
    held.push_back(std::move(dir));
  }
  error = "names no file";
  return ReadStatus::failed;
}

std::string absolutePath(const std::string& path) {
  std::wstring wide = toWide(path, CP_UTF8);
  DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return std::string();
  std::wstring full(n, L'\0');
  DWORD got = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  if (got == 0 || got >= n) return std::string();
  full.resize(got);
  return toUtf8(full);
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

std::string PrivateDirectory::file(const std::string& name) const { return path + "\\" + name; }

namespace {

// The temporary area: GetTempPath2W where the system has it (SYSTEM then
// gets a directory of its own), else GetTempPathW.
std::wstring temporaryArea() {
  using TempPath2 = DWORD(WINAPI*)(DWORD, LPWSTR);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto tempPath2 = kernel ? reinterpret_cast<TempPath2>(
                                reinterpret_cast<void*>(GetProcAddress(kernel, "GetTempPath2W")))
                          : nullptr;
  wchar_t buf[MAX_PATH + 2];
  DWORD n = tempPath2 ? tempPath2(MAX_PATH + 1, buf) : GetTempPathW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH + 1) return std::wstring();
  return std::wstring(buf, n);
}

}  // namespace

namespace {

// The private directories of this run, for Ctrl+C, Ctrl+Break and a
// closed console: the system then ends the process, and they go first.
SRWLOCK gPrivateLock = SRWLOCK_INIT;
std::vector<std::wstring> gPrivateDirectories;

BOOL WINAPI removeOnConsoleEvent(DWORD) {
  AcquireSRWLockExclusive(&gPrivateLock);
  for (const std::wstring& path : gPrivateDirectories) removeTree(toUtf8(path));
  gPrivateDirectories.clear();
  ReleaseSRWLockExclusive(&gPrivateLock);
  return FALSE;  // on to the default handler, which ends the process
}

// Adds (on) or drops a directory the console handler removes; the handler
// is installed while there is one.
void setConsoleCleanup(const std::wstring& path, bool on) {
  AcquireSRWLockExclusive(&gPrivateLock);
  bool was = !gPrivateDirectories.empty();
  if (on) {
    gPrivateDirectories.push_back(path);
  } else {
    auto found = std::find(gPrivateDirectories.begin(), gPrivateDirectories.end(), path);
    if (found != gPrivateDirectories.end()) gPrivateDirectories.erase(found);
  }
  bool is = !gPrivateDirectories.empty();
  ReleaseSRWLockExclusive(&gPrivateLock);
  if (is && !was) SetConsoleCtrlHandler(removeOnConsoleEvent, TRUE);
  if (!is && was) SetConsoleCtrlHandler(removeOnConsoleEvent, FALSE);
}

}  // namespace

FileWrite makePrivateDirectory(PrivateDirectory& dir) {
  FileWrite r;
  removePrivateDirectory(dir);
  std::wstring base = temporaryArea();
  if (base.empty()) {
    r.error = errorText("cannot find the temporary directory", GetLastError());
    return r;
  }
  if (base.back() != L'\\') base += L'\\';
  PrivateSecurity security(true);
  if (!security.valid()) {
    r.error = errorText("cannot make a private access list", GetLastError());
    return r;
  }
  for (int i = 0; i < kTempNameAttempts; ++i) {
    uint8_t random[16];
    if (!cryptoRandom(random, sizeof random)) {
      r.error = "cannot create a private temporary directory: no random bytes";
      return r;
    }
    std::wstring name = base + L"kernopack-";
    for (uint8_t b : random) {
      name += L"0123456789abcdef"[b >> 4];
      name += L"0123456789abcdef"[b & 15];
    }
    if (CreateDirectoryW(name.c_str(), security.attributes())) {
      dir.path = toUtf8(name);
      setConsoleCleanup(name, true);
      r.ok = true;
      return r;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  r.error = errorText(("cannot create a private temporary directory in " + toUtf8(base)).c_str(), GetLastError());
  return r;
}

void removePrivateDirectory(PrivateDirectory& dir) {
  if (dir.path.empty()) return;
  setConsoleCleanup(toWide(dir.path, CP_UTF8), false);
  removeTree(dir.path);
  dir.path.clear();
}

namespace {

bool isProgramFile(const std::string& path) {
  DWORD attrs = GetFileAttributesW(toWide(path, CP_UTF8).c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY);
}

std::string environmentVariable(const wchar_t* name) {
  DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
  if (n == 0) return std::string();
  std::wstring value(n, L'\0');
  DWORD got = GetEnvironmentVariableW(name, value.data(), n);
  if (got == 0 || got >= n) return std::string();
  value.resize(got);
  return toUtf8(value);
}

}  // namespace

namespace {

// The file runProgram sends the child's standard output to; none when it
// goes to our standard error.
UniqueHandle childOutput(const RunOutput& output, std::string& error) {
  if (output.file.empty()) return UniqueHandle();
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  UniqueHandle file(CreateFileW(toWide(output.file, CP_UTF8).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) error = errorText(output.file.c_str(), GetLastError());
  return file;
}

// Reads what the child writes into `from` until it closes its end, keeping
// at most kMaxCapturedErrors bytes.
void readCaptured(HANDLE from, std::string& into) {
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(from, buf, sizeof buf, &got, nullptr) && got > 0) {
    size_t room = kMaxCapturedErrors - into.size();
    into.append(buf, got < room ? got : room);
  }
}

}  // namespace

ProgramRun runProgram(const std::vector<std::string>& args, const RunOutput& output) {
  ProgramRun r;
  if (args.empty()) {
    r.error = "no program given";
    return r;
  }
  // Looked up in PATH by us, not by CreateProcess, whose search begins with
  // the current directory and the packer's own.
  std::string program = findProgramOnPath(environmentVariable(L"PATH"), args[0], true, isProgramFile);
  if (program.empty()) {
    r.notFound = true;
    r.error = "not found on PATH";
    return r;
  }
  std::string line = quoteWindowsArgument(program);
  for (size_t i = 1; i < args.size(); ++i) line += " " + quoteWindowsArgument(args[i]);
  std::wstring wide = toWide(line, CP_UTF8);
  std::wstring application = toWide(program, CP_UTF8);
  UniqueHandle childOut = childOutput(output, r.error);
  UniqueHandle readEnd, writeEnd;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE pipeRead = nullptr, pipeWrite = nullptr;
  if (output.captureErrors) {
    if (!CreatePipe(&pipeRead, &pipeWrite, &inherit, 0)) {
      r.error = errorText("cannot make a pipe", GetLastError());
      return r;
    }
    readEnd.reset(pipeRead);
    writeEnd.reset(pipeWrite);
    SetHandleInformation(pipeRead, HANDLE_FLAG_INHERIT, 0);
  }
  if (!output.file.empty() && !childOut) return r;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = childOut ? childOut.get() : GetStdHandle(STD_ERROR_HANDLE);
  si.hStdError = output.captureErrors ? writeEnd.get() : GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(application.c_str(), wide.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    r.error = errorText(program.c_str(), GetLastError());
    return r;
  }
  UniqueHandle process(pi.hProcess);
  CloseHandle(pi.hThread);
  r.started = true;
  // Only the child holds the write end now: the reads end when it exits.
  writeEnd.reset();
  childOut.reset();
  if (output.captureErrors) readCaptured(readEnd.get(), r.errors);
  DWORD code = 0;
  if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.get(), &code)) {
    r.error = errorText("cannot wait for it", GetLastError());
    return r;
  }
  r.exitCode = int(code);
  return r;
}

PathKind pathKind(const std::string& path, std::string& error) {
  std::wstring w = toWide(path, CP_UTF8);
  if (w.empty()) {
    error = "not a valid UTF-8 path";
    return PathKind::failed;
  }
  DWORD attributes = GetFileAttributesW(w.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return PathKind::missing;
    error = errorText(nullptr, code);
    return PathKind::failed;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return PathKind::link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::directory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::other;
  return PathKind::file;
}

bool listDirectory(const std::string& path, std::vector<std::string>& names, std::string& error) {
  WIN32_FIND_DATAW data;
  UniqueFindHandle find(FindFirstFileW((toWide(path, CP_UTF8) + L"\\*").c_str(), &data));
  if (!find) {
    error = errorText(nullptr, GetLastError());
    return false;
  }
  names.clear();
  do {
    std::string name = toUtf8(data.cFileName);
    if (name != "." && name != ".." && !name.empty()) names.push_back(name);
  } while (FindNextFileW(find.get(), &data));
  DWORD code = GetLastError();
  if (code != ERROR_NO_MORE_FILES) {
    error = errorText(nullptr, code);
    return false;
  }
  std::sort(names.begin(), names.end());
  return true;
}

namespace {

// Deepest folder nesting removeTree and isOwnTreeWithoutLinks enter.
constexpr int kMaxTreeDepth = 64;
// Most entries isOwnTreeWithoutLinks looks through.
constexpr size_t kMaxOwnTreeEntries = 100000;

// The names in a folder, read while the caller holds it open.
std::vector<std::wstring> entriesOf(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  UniqueFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!find) return names;
  do {
    std::wstring name = data.cFileName;
    if (name != L"." && name != L".." && !name.empty()) names.push_back(name);
  } while (FindNextFileW(find.get(), &data) && names.size() <= kMaxOwnTreeEntries);
  return names;
}

// Opens a file or folder itself (a link or junction is opened, not
// followed), held without delete sharing: nobody renames or replaces it
// while the handle is open.
UniqueHandle openHeld(const std::wstring& path, DWORD access) {
  return UniqueHandle(CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
}

DWORD attributesOf(HANDLE handle) {
  FILE_BASIC_INFO info{};
  if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &info, sizeof info)) return INVALID_FILE_ATTRIBUTES;
  return info.FileAttributes;
}

// Deletes through the handle: a link or junction itself, a folder after
// its entries, each opened the same way while the folder stays held.
void removeHeld(const std::wstring& path, int depth) {
  UniqueHandle held = openHeld(path, DELETE);
  if (!held) return;
  DWORD attributes = attributesOf(held.get());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
      !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && depth < kMaxTreeDepth) {
    for (const std::wstring& name : entriesOf(path)) removeHeld(path + L"\\" + name, depth + 1);
  }
  (void)deleteOpenObject(held.get());
}

// The owner of an open object as a SID text; empty when unreadable.
std::string ownerOf(HANDLE handle) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS)
    return std::string();
  std::string text;
  LPSTR sid = nullptr;
  if (owner != nullptr && ConvertSidToStringSidA(owner, &sid)) {
    text = sid;
    LocalFree(sid);
  }
  LocalFree(descriptor);
  return text;
}

// Every folder the caller's (its account or the owner it gives new
// objects, the administrators when it runs elevated) and no link or
// junction anywhere below.
bool ownTree(const std::wstring& path, const std::string& shown, int depth, size_t& entries, std::string& why) {
  UniqueHandle held = openHeld(path, READ_CONTROL);
  DWORD attributes = held ? attributesOf(held.get()) : INVALID_FILE_ATTRIBUTES;
  std::string account, owner;
  (void)processAccountSid(account);
  (void)processDefaultOwnerSid(owner);
  std::string found = held ? ownerOf(held.get()) : std::string();
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    why = shown + ": " + errorText("cannot be opened", GetLastError());
  } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    why = shown + ": is a symbolic link or junction";
  } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return true;
  } else if (found.empty() || (found != account && found != owner)) {
    why = shown + ": belongs to another user";
  } else if (++entries > kMaxOwnTreeEntries || depth >= kMaxTreeDepth) {
    why = shown + ": holds more than the packer looks through";
  } else {
    for (const std::wstring& name : entriesOf(path)) {
      if (++entries > kMaxOwnTreeEntries) break;
      if (!ownTree(path + L"\\" + name, shown + "\\" + toUtf8(name), depth + 1, entries, why)) return false;
    }
    return entries <= kMaxOwnTreeEntries;
  }
  return false;
}

}  // namespace

void removeTree(const std::string& path) {
  std::wstring w = toWide(path, CP_UTF8);
  if (!w.empty()) removeHeld(w, 0);
}

bool isOwnTreeWithoutLinks(const std::string& path, std::string& why) {
  size_t entries = 0;
  std::string where;
  if (ownTree(toWide(path, CP_UTF8), path, 0, entries, where)) return true;
  why = where.empty() ? "holds more than the packer looks through" : where;
  return false;
}

bool sameFileIdentity(const std::string& a, const std::string& b) {
  auto identity = [](const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    UniqueHandle h(CreateFileW(toWide(path, CP_UTF8).c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return h && GetFileInformationByHandle(h.get(), &info);
  };
  BY_HANDLE_FILE_INFORMATION ia{}, ib{};
  return identity(a, ia) && identity(b, ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

FileWrite keepSourceMode(OutputFile&, const InputFile&) { return FileWrite{true, {}}; }

bool setFixedFileTime(const std::string& path, std::string& error) {
  HANDLE file = CreateFileW(toWide(path, CP_UTF8).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = errorText(nullptr, GetLastError());
    return false;
  }
  // 2000-01-01 00:00:00 UTC in 100 ns units since 1601.
  const ULONGLONG fixed = 125911584000000000ull;
  FILETIME time;
  time.dwLowDateTime = DWORD(fixed);
  time.dwHighDateTime = DWORD(fixed >> 32);
  bool ok = SetFileTime(file, nullptr, &time, &time) != 0;
  if (!ok) error = errorText(nullptr, GetLastError());
  CloseHandle(file);
  return ok;
}

std::string executableDirectory() {
  // Long paths need a larger buffer; grow it until the name fits.
  std::string buf(MAX_PATH, '\0');
  for (int tries = 0; tries < 6; ++tries) {
    DWORD n = GetModuleFileNameA(nullptr, buf.data(), DWORD(buf.size()));
    if (n == 0) return std::string();
    if (n < buf.size()) {
      buf.resize(n);
      return pathDirectory(buf);
    }
    buf.resize(buf.size() * 2);
  }
  return std::string();
}

void setBinaryStdout() { _setmode(_fileno(stdout), _O_BINARY); }
