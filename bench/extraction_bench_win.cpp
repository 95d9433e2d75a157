// Times the extraction of this executable's included files
// (bench/extraction.d/run.sh packs 64 MB of them into it) next to a plain
// copy of the same files with CopyFileA, alternating within one run so that
// both see the same machine state. For reference it also times a copy of
// the section in 8 KiB pieces, the piece size the launcher once read in.
//
//   extraction_bench_win.exe ROUNDS SOURCE_DIR
//   prints "ROUNDS BYTES EXTRACT_MS COPY_MS SMALL_PIECES_MS" (medians)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/handles_win.h"
#include "config/config_state.h"
#include "config/config_store.h"
#include "config/config_store_win.h"
#include "files/extraction_win.h"
#include "files/files_state.h"
#include "files/included_files.h"
#include "files/temp_files_win.h"

namespace {

double now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return double(t.QuadPart) * 1e3 / double(frequency.QuadPart);
}

void removeTree(const std::string& dir) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = data.cFileName;
      if (name != "." && name != "..") DeleteFileA((dir + "\\" + name).c_str());
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  RemoveDirectoryA(dir.c_str());
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The section copied in 8 KiB pieces, descrambled, into one file per entry.
bool copySmallPieces(const std::string& dir, const std::vector<std::string>& names) {
  UniqueHandle media = openMediaFile();
  LARGE_INTEGER at;
  at.QuadPart = LONGLONG(configTables().includedFilesOffset);
  if (!SetFilePointerEx(media.get(), at, nullptr, FILE_BEGIN)) return false;
  std::vector<uint8_t> buffer(8192);
  for (const std::string& name : names) {
    int32_t size = 0;
    DWORD got = 0;
    if (!ReadFile(media.get(), &size, 4, &got, nullptr) || got != 4) return false;
    UniqueHandle out(CreateFileA((dir + "\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return false;
    for (int32_t done = 0; done < size; done += int32_t(got)) {
      DWORD want = DWORD(std::min<int32_t>(size - done, int32_t(buffer.size())));
      if (!ReadFile(media.get(), buffer.data(), want, &got, nullptr) || got == 0) return false;
      scrambleIncludedBytes(buffer.data(), got);
      DWORD written = 0;
      if (!WriteFile(out.get(), buffer.data(), got, &written, nullptr) || written != got) return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: extraction_bench_win ROUNDS SOURCE_DIR\n");
    return 2;
  }
  int rounds = std::max(1, std::atoi(argv[1]));
  std::string source = argv[2];
  loadConfig();
  std::string list = getConfigString(ConfigKey::includedFileNames);
  std::vector<std::string> names;
  for (std::string_view n : splitIncludedFileNames(list)) names.emplace_back(n);
  unsigned long long bytes = 0;
  for (const std::string& name : names) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA((source + "\\" + name).c_str(), GetFileExInfoStandard, &data)) {
      std::fprintf(stderr, "missing source file %s\\%s\n", source.c_str(), name.c_str());
      return 1;
    }
    bytes += (unsigned long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
  }
  std::string copyDir = getTempPath() + "krn_bench_copy";
  std::string smallDir = getTempPath() + "krn_bench_small";

  std::vector<double> extract, copy, small;
  for (int round = 0; round <= rounds; ++round) {  // round 0 warms the caches
    std::string dir;
    double t0 = now();
    if (!extractIncludedFiles(dir)) return 1;
    double t1 = now();
    removeTree(dir);
    extractionState() = ExtractionState{};  // nothing left to schedule at exit

    CreateDirectoryA(copyDir.c_str(), nullptr);
    double t2 = now();
    for (const std::string& name : names) {
      if (!CopyFileA((source + "\\" + name).c_str(), (copyDir + "\\" + name).c_str(), FALSE)) return 1;
    }
    double t3 = now();
    removeTree(copyDir);

    CreateDirectoryA(smallDir.c_str(), nullptr);
    double t4 = now();
    if (!copySmallPieces(smallDir, names)) return 1;
    double t5 = now();
    removeTree(smallDir);

    if (round == 0) continue;
    extract.push_back(t1 - t0);
    copy.push_back(t3 - t2);
    small.push_back(t5 - t4);
  }
  std::printf("%d %llu %.3f %.3f %.3f\n", rounds, bytes, median(extract), median(copy), median(small));
  return 0;
}
