#include "service/service_state.h"

// Never destroyed: the exit handler reports the status after static
// destruction.
ServiceState& serviceState() {
  static ServiceState* state = new ServiceState();
  return *state;
}

EventLogState& eventLogState() {
  static EventLogState* state = new EventLogState();
  return *state;
}
