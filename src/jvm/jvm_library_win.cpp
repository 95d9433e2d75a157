#include "jvm/jvm_library_win.h"

#include "config/config_store.h"
#include "config/log_win.h"
#include "config/paths_win.h"
#include "jvm/dll_search_win.h"
#include "jvm/jvm_state.h"
#include "jvm/runtime_layout.h"

HMODULE loadJvmLibrary(const std::string& exe) {
  if (HMODULE module = loadJvmLibraryBeside(exe)) return module;
  return loadJvmLibraryBeside(developmentKitJreExe(exe));
}

HMODULE loadJvmLibraryBeside(const std::string& exe) {
  // The runtime's bin directory holds what its JVM library needs (the C
  // runtime of its compiler, for one); it stays in the search for the
  // libraries the VM loads later, unless no library of it loads.
  std::string bin = javaExeDirectory(exe);
  void* cookie = nullptr;
  if (!addDllDirectory(bin, cookie)) logInfo("cannot add %s to the library search", bin.c_str());
  for (const std::string& type : vmTypeOrder(getConfigString(ConfigKey::preferredVmType))) {
    if (HMODULE module = tryJvmLibrary(exe, type)) return module;
  }
  removeDllDirectory(cookie);
  return nullptr;
}

HMODULE tryJvmLibrary(const std::string& exe, const std::string& vmType) {
  std::string path = jvmLibraryPath(javaExeDirectory(exe), vmType);
  logInfo("Trying %s (exists %d)", path.c_str(), pathExists(path) ? 1 : 0);
  HMODULE module = loadLibraryRestricted(path);
  if (module) jvmState().vmLibrary = path;
  return module;
}

bool resolveCreateJavaVM(HMODULE module) {
  if (module == nullptr) return false;
  FARPROC entry = GetProcAddress(module, "JNI_CreateJavaVM");
  if (entry == nullptr) return false;
  // Through void(*)() so that the compiler accepts the change of signature.
  jvmState().createJavaVM = reinterpret_cast<void (*)()>(entry);
  return true;
}
