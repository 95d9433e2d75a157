// The soak's driver (bench/soak.sh): runs cycles of install, start, stop and
// uninstall of a configured launcher through its own command words, all from
// one process, so that a cycle costs the launcher's processes and no more.
//
//   soak_bench_win.exe CYCLES NAME EXE CALLS
//
// EXE is the configured launcher of service NAME; CALLS is the record of the
// stand-in jvm.dll its runtime uses (set to let WinLauncher.main return, so
// the service runs until it is stopped). A cycle: "EXE /install", "EXE
// /start", a wait until the service runs and the record names the main call
// (the launch is done), "EXE /stop", "EXE /uninstall". Each command must end
// with exit code 0; its printed lines go to soak-commands.txt beside EXE and
// are shown when one fails. At the end it prints two lines:
//   handles N M   the service process's handle count at the last start, once
//                 launched: from GetProcessHandleCount and from the system's
//                 handle table (NtQuerySystemInformation); -1 where one fails
//   seconds S     the time the cycles took
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kWaitLimitMs = 120000;

struct SystemHandleEntry {  // SYSTEM_HANDLE_TABLE_ENTRY_INFO
  USHORT process;
  USHORT creatorBackTraceIndex;
  UCHAR objectType;
  UCHAR attributes;
  USHORT handle;
  PVOID object;
  ULONG grantedAccess;
};

using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

// Handles of process `pid` in the system's handle table; -1 when the table
// cannot be read.
long systemTableCount(DWORD pid) {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto query = ntdll ? reinterpret_cast<QuerySystemInformation>(
                           reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")))
                     : nullptr;
  if (!query) return -1;
  std::vector<unsigned char> buffer(1 << 20);
  for (int attempt = 0; attempt < 6; ++attempt) {
    ULONG needed = 0;
    LONG status = query(16 /* SystemHandleInformation */, buffer.data(), static_cast<ULONG>(buffer.size()),
                        &needed);
    if (status == 0) {
      ULONG count = *reinterpret_cast<ULONG*>(buffer.data());
      size_t first = sizeof(ULONG_PTR);  // the count, padded to the entries' alignment
      if (first + static_cast<size_t>(count) * sizeof(SystemHandleEntry) > buffer.size()) return -1;
      long mine = 0;
      for (ULONG i = 0; i < count; ++i) {
        SystemHandleEntry entry;
        memcpy(&entry, buffer.data() + first + i * sizeof entry, sizeof entry);
        if (entry.process == static_cast<USHORT>(pid)) ++mine;
      }
      return mine;
    }
    if (buffer.size() >= (64u << 20)) return -1;
    buffer.resize(buffer.size() * 4);
  }
  return -1;
}

long processHandleCount(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
  if (!process) return -1;
  DWORD count = 0;
  BOOL ok = GetProcessHandleCount(process, &count);
  CloseHandle(process);
  return ok ? static_cast<long>(count) : -1;
}

std::wstring commandsFile;

void showCommands() {
  FILE* f = _wfopen(commandsFile.c_str(), L"rb");
  if (!f) return;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) fwrite(chunk, 1, n, stderr);
  fclose(f);
}

[[noreturn]] void fail(int cycle, const std::string& what) {
  fprintf(stderr, "soak: cycle %d: %s; the commands printed:\n", cycle, what.c_str());
  showCommands();
  fflush(stderr);
  ExitProcess(1);
}

// Runs `exe word` with its output appended to the commands file; its exit code.
DWORD runCommand(int cycle, const std::wstring& exe, const wchar_t* word) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out = CreateFileW(commandsFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) fail(cycle, "cannot open soak-commands.txt");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = out;
  startup.hStdError = out;
  std::wstring line = L"\"" + exe + L"\" " + word;
  PROCESS_INFORMATION info{};
  BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
  CloseHandle(out);
  if (!started) fail(cycle, "cannot run the launcher, error " + std::to_string(GetLastError()));
  DWORD code = 1;
  if (WaitForSingleObject(info.hProcess, kWaitLimitMs) != WAIT_OBJECT_0) {
    TerminateProcess(info.hProcess, 1);
    fail(cycle, "a command did not end within two minutes");
  }
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return code;
}

bool recordNamesMain(const std::wstring& calls) {
  FILE* f = _wfopen(calls.c_str(), L"rb");
  if (!f) return false;
  std::string text;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0 && text.size() < (1u << 20)) text.append(chunk, n);
  fclose(f);
  return text.find("CallStaticVoidMethodA \"com/kerno/runtime/WinLauncher\" \"main\"") != std::string::npos;
}

// Waits until the service runs and its launch is done; its process id.
DWORD waitLaunched(int cycle, const std::wstring& name, const std::wstring& calls) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager ? OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS) : nullptr;
  if (!service) fail(cycle, "cannot open the service, error " + std::to_string(GetLastError()));
  DWORD start = GetTickCount();
  SERVICE_STATUS_PROCESS status{};
  for (;;) {
    DWORD size = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                              &size))
      fail(cycle, "cannot query the service, error " + std::to_string(GetLastError()));
    if (status.dwCurrentState == SERVICE_STOPPED && GetTickCount() - start > 2000)
      fail(cycle, "the service stopped by itself, exit code " + std::to_string(status.dwWin32ExitCode));
    if (status.dwCurrentState == SERVICE_RUNNING && recordNamesMain(calls)) break;
    if (GetTickCount() - start > kWaitLimitMs) fail(cycle, "the service did not finish its launch in two minutes");
    Sleep(20);
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return status.dwProcessId;
}

std::wstring wide(const char* text) {
  int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring out(n > 0 ? n : 1, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n);
  out.resize(wcslen(out.c_str()));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: soak_bench_win.exe CYCLES NAME EXE CALLS\n");
    return 2;
  }
  int cycles = atoi(argv[1]);
  std::wstring name = wide(argv[2]), exe = wide(argv[3]), calls = wide(argv[4]);
  commandsFile = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"soak-commands.txt";
  LARGE_INTEGER frequency, begin, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&begin);
  long handles = -1, tableHandles = -1;
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    DeleteFileW(commandsFile.c_str());
    DeleteFileW(calls.c_str());
    if (runCommand(cycle, exe, L"/install") != 0) fail(cycle, "/install failed");
    if (runCommand(cycle, exe, L"/start") != 0) fail(cycle, "/start failed");
    DWORD pid = waitLaunched(cycle, name, calls);
    if (cycle == cycles) {
      handles = processHandleCount(pid);
      tableHandles = systemTableCount(pid);
    }
    if (runCommand(cycle, exe, L"/stop") != 0) fail(cycle, "/stop failed");
    if (runCommand(cycle, exe, L"/uninstall") != 0) fail(cycle, "/uninstall failed");
  }
  QueryPerformanceCounter(&end);
  printf("handles %ld %ld\n", handles, tableHandles);
  printf("seconds %.2f\n", static_cast<double>(end.QuadPart - begin.QuadPart) / frequency.QuadPart);
  return 0;
}
