#include "service/console_events.h"

ConsoleEventAction consoleEventAction(uint32_t eventType, bool threadDumps) {
  switch (eventType) {
    case console_event::kCtrlBreak:
      if (threadDumps) return {false, false, true};
      return {true, false};
    case console_event::kCtrlC: return {true, false};
    case console_event::kClose:
    case console_event::kLogoff:
    case console_event::kShutdown: return {true, true};
    default: return {};
  }
}
