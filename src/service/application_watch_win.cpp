#include "service/application_watch_win.h"

#include <windows.h>

#include "config/log_win.h"
#include "launch/launch_state.h"
#include "service/detached_threads_win.h"

namespace {

HANDLE gSignal = nullptr;
ApplicationEnd gEnd;  // written before gSignal is set, read after

DWORD WINAPI watchApplication(LPVOID) {
  JavaVM* vm = launchState().vm;
  JNIEnv* env = attachLauncherThread(vm, "kerno application end");
  if (env == nullptr) {
    logError("the application's end is not watched: the watch could not attach to the VM");
    return 0;
  }
  ApplicationEnd end = awaitApplicationEnd(env);
  detachLauncherThread(vm);
  if (end.kind == ApplicationEnd::Kind::unwatched) {
    logError("the application's end is not watched: %s", end.text.c_str());
    return 0;
  }
  gEnd = std::move(end);
  SetEvent(gSignal);
  return 0;
}

}  // namespace

void startApplicationWatch(void* signal) {
  if (signal == nullptr || gSignal != nullptr || launchState().vm == nullptr) return;
  gSignal = signal;
  startDetachedThread(watchApplication, nullptr, "application end");
}

ApplicationEnd watchedApplicationEnd() { return gEnd; }
