#include "launch/launch_state.h"

// Never destroyed: the VM may still run threads while the process ends.
LaunchState& launchState() {
  static LaunchState* state = new LaunchState();
  return *state;
}
