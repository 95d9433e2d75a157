#include "jvm/packed_runtime_win.h"

#include <windows.h>

#include <cstdio>

#include "common/handles_win.h"
#include "config/log_win.h"
#include "config/messages_win.h"
#include "config/paths_win.h"
#include "jvm/runtime_layout.h"

void preparePackedJre(const std::string& home) {
  if (!pathExists(packedRuntimeMarker(home)) || pathExists(preparedRuntimeMarker(home))) return;
  logInfo("Unpacking JRE");
  // A service has no standard output; the write then fails quietly.
  std::fputs("Preparing JRE ...\n", stdout);
  std::fflush(stdout);
  for (const std::string& jar : packedJars()) unpackJar(home, jar);
  logInfo("Unpacking JRE done");
}

void unpackJar(const std::string& home, const std::string& jar) {
  std::string target = home + "\\" + jar;
  std::string packed = target + ".pack";
  logInfo("Unpacking %s to %s", packed.c_str(), target.c_str());
  if (!pathExists(packed)) {
    logInfo("pack path doesn't exists");
    return;
  }
  std::string commandLine = unpackCommandLine(home, packed, target);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                      nullptr, nullptr, &startup, &info)) {
    logInfo("could not create unpack process");
    fatalErrorByKey(ConfigKey::MSG_INTERNAL_ERROR, kPlaceholderErrorCode, "20");
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  logInfo("waiting for unpack200 to finish");
  WaitForSingleObject(process.get(), INFINITE);
  logInfo("unpack done");
}
