// The start-up benchmark's poller (bench/service_start.d/run.sh): starts
// installed services in turn and reads how long each took from the
// performance counter. It takes the counter just before StartServiceW; the
// service writes the counter it took at its point of interest into a stamp
// file (the trivial service at ServiceMain, the stand-in jvm.dll at
// JNI_CreateJavaVM). Wine's counter is the machine's monotonic clock, the
// same in every process, so the difference is the start-up time.
//
//   service_start_bench_win.exe RUNS NAME STAMP [NAME STAMP ...]
//   service_start_bench_win.exe idle SECONDS
//
// The second form only waits (at most SECONDS): run in the background, it
// keeps the prefix's service manager alive, since Wine ends that with the
// last ordinary process of a prefix.
//
// One warm-up start of each service, then RUNS rounds that start each
// service once, in turn, so that the machine's load falls on all alike. Each
// start waits for the service to stop again. Prints one line per service:
// "NAME median min max" in milliseconds.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr DWORD kWaitLimitMs = 60000;

// A start that the service manager gave up on (the process did not reach
// its dispatcher in time, as happens on a machine under heavy load) is
// counted and started again, at most this often per run.
constexpr int kTimedOutStartsPerRun = 3;

struct Service {
  std::wstring name;
  std::wstring stamp;
  SC_HANDLE handle = nullptr;
  std::vector<double> ms;
  int timedOut = 0;
};

std::wstring widen(const char* text) {
  int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring out(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n);
  return out;
}

[[noreturn]] void fail(const std::wstring& what) {
  std::fprintf(stderr, "service start bench: %ls (error %lu)\n", what.c_str(), GetLastError());
  std::exit(1);
}

// The count in a stamp file, once the file holds a whole line.
bool readStamp(const std::wstring& file, long long& count) {
  HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  char text[64] = {};
  DWORD got = 0;
  bool ok = ReadFile(h, text, sizeof text - 1, &got, nullptr) && got > 0 &&
            std::find(text, text + got, '\n') != text + got;
  CloseHandle(h);
  if (ok) count = std::strtoll(text, nullptr, 10);
  return ok;
}

void waitStopped(const Service& s) {
  DWORD start = GetTickCount();
  for (;;) {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(s.handle, &status)) fail(L"QueryServiceStatus " + s.name);
    if (status.dwCurrentState == SERVICE_STOPPED) return;
    if (GetTickCount() - start > kWaitLimitMs) fail(L"the service does not stop: " + s.name);
    Sleep(2);
  }
}

double startOnce(Service& s, double ticksPerMs) {
  LARGE_INTEGER before;
  for (int attempt = 0;; ++attempt) {
    waitStopped(s);
    DeleteFileW(s.stamp.c_str());
    QueryPerformanceCounter(&before);
    if (StartServiceW(s.handle, 0, nullptr)) break;
    if (GetLastError() != ERROR_SERVICE_REQUEST_TIMEOUT || attempt + 1 >= kTimedOutStartsPerRun) {
      fail(L"StartServiceW " + s.name);
    }
    ++s.timedOut;
  }
  long long stamp = 0;
  DWORD start = GetTickCount();
  while (!readStamp(s.stamp, stamp)) {
    if (GetTickCount() - start > kWaitLimitMs) fail(L"no stamp from " + s.name + L" in " + s.stamp);
    Sleep(1);
  }
  waitStopped(s);
  return static_cast<double>(stamp - before.QuadPart) / ticksPerMs;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "idle") {
    Sleep(static_cast<DWORD>(std::max(1, std::atoi(argv[2]))) * 1000);
    return 0;
  }
  if (argc < 4 || argc % 2 != 0) {
    std::fprintf(stderr, "usage: %s RUNS NAME STAMP [NAME STAMP ...]\n", argv[0]);
    return 2;
  }
  int runs = std::atoi(argv[1]);
  if (runs < 1) runs = 1;
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) fail(L"OpenSCManagerW");
  std::vector<Service> services;
  for (int i = 2; i + 1 < argc; i += 2) {
    Service s;
    s.name = widen(argv[i]);
    s.stamp = widen(argv[i + 1]);
    s.handle = OpenServiceW(manager, s.name.c_str(), SERVICE_START | SERVICE_QUERY_STATUS);
    if (s.handle == nullptr) fail(L"OpenServiceW " + s.name);
    services.push_back(std::move(s));
  }
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  double ticksPerMs = static_cast<double>(frequency.QuadPart) / 1000.0;

  for (Service& s : services) startOnce(s, ticksPerMs);  // warm-up
  for (int round = 0; round < runs; ++round) {
    for (Service& s : services) s.ms.push_back(startOnce(s, ticksPerMs));
  }
  for (Service& s : services) {
    std::sort(s.ms.begin(), s.ms.end());
    size_t n = s.ms.size();
    double median = n % 2 ? s.ms[n / 2] : (s.ms[n / 2 - 1] + s.ms[n / 2]) / 2;
    std::printf("%ls %.2f %.2f %.2f %d\n", s.name.c_str(), median, s.ms.front(), s.ms.back(),
                s.timedOut);
  }
  for (const Service& s : services) CloseServiceHandle(s.handle);
  CloseServiceHandle(manager);
  return 0;
}
