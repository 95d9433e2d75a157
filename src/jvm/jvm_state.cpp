#include "jvm/jvm_state.h"

// Never destroyed, like every part of the process-wide state.
JvmState& jvmState() {
  static JvmState* state = new JvmState();
  return *state;
}
