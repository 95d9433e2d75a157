#include "files/files_state.h"

// Never destroyed: the exit handlers hand the files over after static
// destruction.
ExtractionState& extractionState() {
  static ExtractionState* state = new ExtractionState();
  return *state;
}
