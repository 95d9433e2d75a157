#include "config/config_state.h"

// Each part is made on first use and never destroyed, so that the exit
// handlers the C runtime runs after static destruction still find it.
ConfigTables& configTables() {
  static ConfigTables* state = new ConfigTables();
  return *state;
}

LauncherFlavour& launcherFlavour() {
  static LauncherFlavour* state = new LauncherFlavour(LauncherFlavour::none);
  return *state;
}

MessageState& messageState() {
  static MessageState* state = new MessageState();
  return *state;
}

LogState& logState() {
  static LogState* state = new LogState();
  return *state;
}

PathCache& pathCache() {
  static PathCache* state = new PathCache();
  return *state;
}
