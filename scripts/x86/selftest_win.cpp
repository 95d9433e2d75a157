// Self-test of the 32-bit route (scripts/with-win32.sh --self-test): checks,
// from inside a PE32 process under Wine, what the launcher relies on.
//
//   kerno-x86-selftest.exe            run every check, print one line each;
//                                     KERNO_X86_PROBE must hold "probe value 42"
//   kerno-x86-selftest.exe --child    (used by the check itself) print the
//                                     probe variable to stdout, a line to stderr
//
// Exit code 0 when every check passed, 1 otherwise.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kProbeVar[] = "KERNO_X86_PROBE";
const char kProbeValue[] = "probe value 42";
const char kDllName[] = "kerno-x86-selftest.dll";
// Bounds what the child's output may make us keep.
constexpr size_t kMaxChildOutput = 4096;

int g_failures = 0;

__attribute__((format(printf, 2, 3))) void report(bool ok, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::printf("%s ", ok ? "ok  " : "FAIL");
    std::vprintf(fmt, args);
    std::printf("\n");
    va_end(args);
    std::fflush(stdout);
    if (!ok) ++g_failures;
}

void checkPointerSize()
{
    report(sizeof(void*) == 4, "32-bit process (pointer size %u)", static_cast<unsigned>(sizeof(void*)));
}

void checkEnvironment()
{
    char buf[256];
    DWORD n = GetEnvironmentVariableA(kProbeVar, buf, sizeof buf);
    bool ok = n > 0 && n < sizeof buf && std::strcmp(buf, kProbeValue) == 0;
    report(ok, "environment variable %s read back", kProbeVar);
}

std::string modulePath()
{
    std::string path(MAX_PATH, '\0');
    DWORD n = GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (n == 0 || n >= path.size()) return std::string();
    path.resize(n);
    return path;
}

// Reads everything from a pipe, keeping at most kMaxChildOutput bytes.
std::string drain(HANDLE pipe)
{
    std::string out;
    char buf[512];
    DWORD got = 0;
    while (ReadFile(pipe, buf, sizeof buf, &got, nullptr) && got > 0) {
        size_t room = kMaxChildOutput - out.size();
        out.append(buf, got < room ? got : room);
    }
    return out;
}

void checkChildProcess()
{
    std::string self = modulePath();
    if (self.empty()) {
        report(false, "child process: GetModuleFileNameA failed (%lu)", GetLastError());
        return;
    }
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    if (!CreatePipe(&outRead, &outWrite, &sa, 0) || !CreatePipe(&errRead, &errWrite, &sa, 0)) {
        report(false, "child process: CreatePipe failed (%lu)", GetLastError());
        return;
    }
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA si;
    std::memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = outWrite;
    si.hStdError = errWrite;
    PROCESS_INFORMATION pi;
    std::memset(&pi, 0, sizeof pi);
    std::string cmd = "\"" + self + "\" --child";
    BOOL started = CreateProcessA(self.c_str(), &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    DWORD startError = GetLastError();
    // Our copies of the write ends must go, or the reads below never end.
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (!started) {
        CloseHandle(outRead);
        CloseHandle(errRead);
        report(false, "child process: CreateProcessA failed (%lu)", startError);
        return;
    }
    // The child writes a line to each; both fit a pipe buffer, so reading
    // one after the other cannot deadlock.
    std::string out = drain(outRead);
    std::string err = drain(errRead);
    WaitForSingleObject(pi.hProcess, 30000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(outRead);
    CloseHandle(errRead);

    std::string wantOut = std::string("child stdout: ") + kProbeValue;
    bool ok = code == 7 && out.find(wantOut) != std::string::npos && err.find("child stderr") != std::string::npos;
    report(ok, "child process with redirected stdout/stderr (exit code %lu, %u+%u bytes)", code,
           static_cast<unsigned>(out.size()), static_cast<unsigned>(err.size()));
}

typedef int(__stdcall* AddFn)(int, int);

void checkDll()
{
    HMODULE dll = LoadLibraryA(kDllName);
    if (!dll) {
        report(false, "LoadLibraryA(%s) failed (%lu)", kDllName, GetLastError());
        return;
    }
    report(true, "LoadLibraryA(%s)", kDllName);
    const char* names[] = {"kerno_selftest_add", "kerno_selftest_add@8"};
    for (const char* name : names) {
        AddFn fn = reinterpret_cast<AddFn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
        if (!fn) {
            report(false, "GetProcAddress(%s) failed (%lu)", name, GetLastError());
            continue;
        }
        int r = fn(12, 34);
        report(r == 12034, "__stdcall export %s returned %d", name, r);
    }
    FreeLibrary(dll);
}

void checkServiceManager()
{
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
    if (!scm) {
        report(false, "OpenSCManagerA failed (%lu)", GetLastError());
        return;
    }
    // PlugPlay runs in every booted prefix.
    SC_HANDLE svc = OpenServiceA(scm, "PlugPlay", SERVICE_QUERY_STATUS);
    SERVICE_STATUS st;
    std::memset(&st, 0, sizeof st);
    bool ok = svc && QueryServiceStatus(svc, &st);
    report(ok && st.dwCurrentState == SERVICE_RUNNING, "service control manager: PlugPlay state %lu",
           static_cast<unsigned long>(st.dwCurrentState));
    if (svc) CloseServiceHandle(svc);
    CloseServiceHandle(scm);
}

int childMain()
{
    char buf[256];
    DWORD n = GetEnvironmentVariableA(kProbeVar, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) std::strcpy(buf, "(unset)");
    std::printf("child stdout: %s\n", buf);
    std::fprintf(stderr, "child stderr\n");
    return 7;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--child") == 0) return childMain();
    std::printf("32-bit route self-test\n");
    checkPointerSize();
    checkEnvironment();
    checkChildProcess();
    checkDll();
    checkServiceManager();
    std::printf("%s\n", g_failures == 0 ? "all checks passed" : "some checks FAILED");
    return g_failures == 0 ? 0 : 1;
}
