#include "common/launcher_state.h"

LauncherState& launcher() {
  static LauncherState state;
  return state;
}
