// The Windows Installer custom actions of a package that `kernopack msi`
// makes: a DLL in the package's Binary table whose ConfigureService runs
// "<executable> /configure" (at install and upgrade) and UninstallService
// "<executable> /uninstall" (at removal) without a console window, and
// copies what they print into the installer's log. A console program
// started by the installer directly would get a console window of its own,
// on the desktop of whoever asked for the installation, running as SYSTEM.
//
// The deferred action's CustomActionData is the installed executable's full
// path. Each returns ERROR_SUCCESS when the command ends with 0, else
// ERROR_INSTALL_FAILURE (the package says whether that fails the
// installation).
#include <windows.h>
// clang-format off: msiquery.h needs msi.h first.
#include <msi.h>
#include <msiquery.h>
// clang-format on

#include <string>
#include <vector>

#include "common/handles_win.h"

namespace {

// A path is shorter; anything longer is no executable's.
constexpr DWORD kMaxDataChars = 32767;
// What /configure prints is a few lines: more is cut.
constexpr size_t kMaxOutputBytes = 64 * 1024;
constexpr size_t kMaxLineBytes = 2048;
// /configure talks to the service control manager only: ten minutes is far
// beyond any answer.
constexpr DWORD kMaxRunMilliseconds = 10 * 60 * 1000;
constexpr DWORD kPollMilliseconds = 50;

struct MsiHandleTraits {
  static bool valid(MSIHANDLE h) { return h != 0; }
  static void close(MSIHANDLE h) { MsiCloseHandle(h); }
};
using UniqueMsiHandle = UniqueResource<MSIHANDLE, MsiHandleTraits>;

// Where the lines go: the installer's log, each as "<word>: <text>".
struct ActionLog {
  MSIHANDLE install;
  const char* word;
};

// One line in the installer's log; control characters become '?'.
void logLine(const ActionLog& log, std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  UniqueMsiHandle record(MsiCreateRecord(2));
  if (!record) return;
  // The text goes in as a field, not as the template: no '[' in it is read
  // as a property reference.
  MsiRecordSetStringA(record.get(), 0, "[1]: [2]");
  MsiRecordSetStringA(record.get(), 1, log.word);
  MsiRecordSetStringA(record.get(), 2, text.c_str());
  MsiProcessMessage(log.install, INSTALLMESSAGE_INFO, record.get());
}

bool customActionData(MSIHANDLE install, std::wstring& out) {
  wchar_t empty[1] = {L'\0'};
  DWORD size = 0;
  if (MsiGetPropertyW(install, L"CustomActionData", empty, &size) != ERROR_MORE_DATA || size == 0 ||
      size > kMaxDataChars) {
    return false;
  }
  std::vector<wchar_t> buffer(size + 1, L'\0');
  DWORD length = size + 1;
  if (MsiGetPropertyW(install, L"CustomActionData", buffer.data(), &length) != ERROR_SUCCESS) return false;
  out.assign(buffer.data(), length < size + 1 ? length : size);
  return true;
}

// Splits what arrived into lines for the log, keeping an unfinished line.
void flushLines(const ActionLog& log, std::string& pending, bool last) {
  size_t start = 0;
  for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = pending.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    logLine(log, line.substr(0, kMaxLineBytes));
  }
  pending.erase(0, start);
  if (pending.size() > kMaxLineBytes || (last && !pending.empty())) {
    logLine(log, pending.substr(0, kMaxLineBytes));
    pending.clear();
  }
}

// Starts "<executable> <word>" with both output handles on `writeEnd` (the only handle
// it inherits), no console window and no standard input.
bool startHidden(const std::wstring& executable, const wchar_t* word, HANDLE writeEnd,
                 PROCESS_INFORMATION& process) {
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<unsigned char> storage(size);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
  if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return false;
  HANDLE inherited[] = {writeEnd};
  bool ok = UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                      sizeof inherited, nullptr, nullptr) != FALSE;
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdOutput = writeEnd;
  startup.StartupInfo.hStdError = writeEnd;
  startup.lpAttributeList = attributes;
  std::wstring commandLine = L"\"" + executable + L"\" " + word;
  ok = ok && CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                            CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                            &startup.StartupInfo, &process) != FALSE;
  DeleteProcThreadAttributeList(attributes);
  return ok;
}

// Copies the output into the log until the process ends (or the time is up:
// then it is ended). 0 with its exit code, or the system's error code.
DWORD runAndLog(const ActionLog& log, const std::wstring& executable, const wchar_t* word, DWORD& exitCode) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &inheritable, 0)) return GetLastError();
  UniqueHandle readEnd(read), writeEnd(write);
  if (!SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0)) return GetLastError();
  PROCESS_INFORMATION info{};
  if (!startHidden(executable, word, writeEnd.get(), info)) return GetLastError();
  UniqueHandle process(info.hProcess), thread(info.hThread);
  writeEnd.reset();
  std::string pending;
  size_t total = 0;
  DWORD waited = 0;
  for (bool ended = false; !ended;) {
    ended = WaitForSingleObject(process.get(), kPollMilliseconds) == WAIT_OBJECT_0;
    waited += kPollMilliseconds;
    DWORD available = 0;
    char chunk[4096];
    while (PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0) {
      DWORD got = 0;
      if (!ReadFile(readEnd.get(), chunk, sizeof chunk, &got, nullptr) || got == 0) break;
      if (total < kMaxOutputBytes) pending.append(chunk, got);
      total += got;
      flushLines(log, pending, false);
    }
    if (!ended && waited >= kMaxRunMilliseconds) {
      logLine(log, "did not end in time; it was ended");
      TerminateProcess(process.get(), ERROR_TIMEOUT);
      WaitForSingleObject(process.get(), INFINITE);
      ended = true;
    }
  }
  flushLines(log, pending, true);
  return GetExitCodeProcess(process.get(), &exitCode) ? 0 : GetLastError();
}

// Runs the command word on the executable CustomActionData names.
UINT runWord(MSIHANDLE install, const wchar_t* word, const char* shown) {
  ActionLog log{install, shown};
  std::wstring executable;
  if (!customActionData(install, executable) || executable.find(L'"') != std::wstring::npos) {
    logLine(log, "no executable named in CustomActionData");
    return ERROR_INSTALL_FAILURE;
  }
  DWORD exitCode = 0;
  if (DWORD error = runAndLog(log, executable, word, exitCode); error != 0) {
    logLine(log, "could not run " + std::string(shown) + " (error " + std::to_string(error) + ")");
    return ERROR_INSTALL_FAILURE;
  }
  if (exitCode != 0) {
    logLine(log, "ended with exit code " + std::to_string(exitCode));
    return ERROR_INSTALL_FAILURE;
  }
  return ERROR_SUCCESS;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall ConfigureService(MSIHANDLE install) {
  return runWord(install, L"/configure", "/configure");
}

extern "C" __declspec(dllexport) UINT __stdcall UninstallService(MSIHANDLE install) {
  return runWord(install, L"/uninstall", "/uninstall");
}
