#include "jvm/library_machine_win.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "common/handles_win.h"
#include "config/config_store.h"
#include "config/log_win.h"
#include "config/pe_image.h"
#include "jvm/jvm_state.h"
#include "jvm/library_machine.h"

namespace {

enum class HeaderRead { missing, read, unreadable };

// The first kPeHeaderReadSize bytes of a file (all of a shorter one).
HeaderRead readHeader(const std::string& path, std::vector<uint8_t>& bytes) {
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    DWORD error = GetLastError();
    bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return missing ? HeaderRead::missing : HeaderRead::unreadable;
  }
  bytes.assign(kPeHeaderReadSize, 0);
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD got = 0;
    if (!ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got,
                  nullptr)) {
      return HeaderRead::unreadable;
    }
    if (got == 0) break;
    done += got;
  }
  bytes.resize(done);
  return HeaderRead::read;
}

}  // namespace

uint16_t ownMachineType() {
#ifdef _WIN64
  return IMAGE_FILE_MACHINE_AMD64;
#else
  return IMAGE_FILE_MACHINE_I386;
#endif
}

bool skipsOtherMachineRuntime(const std::string& exe) {
  const uint16_t own = ownMachineType();
  std::vector<LibraryMachine> existing;
  std::string firstPath;
  std::vector<uint8_t> bytes;
  for (const std::string& path :
       jvmLibraryCandidates(exe, getConfigString(ConfigKey::preferredVmType))) {
    HeaderRead read = readHeader(path, bytes);
    if (read == HeaderRead::missing) continue;
    existing.push_back(read == HeaderRead::read ? judgeLibraryHeader(bytes.data(), bytes.size(), own)
                                                : LibraryMachine{});
    if (firstPath.empty()) firstPath = path;
  }
  if (!isOtherMachineRuntime(existing)) return false;
  uint16_t found = existing.front().machine;
  logInfo("Skipping %s: its JVM library %s is %s, this launcher is %s", exe.c_str(),
          firstPath.c_str(), machineTypeName(found).c_str(), machineTypeName(own).c_str());
  JvmState& jvm = jvmState();
  if (jvm.otherMachineRuntimes.empty()) jvm.otherMachine = found;
  // The fallback pass may meet a runtime of the first pass again.
  if (std::find(jvm.otherMachineRuntimes.begin(), jvm.otherMachineRuntimes.end(), exe) ==
      jvm.otherMachineRuntimes.end()) {
    jvm.otherMachineRuntimes.push_back(exe);
  }
  return true;
}
