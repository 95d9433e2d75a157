#include "service/console_events.h"

ConsoleEventAction consoleEventAction(uint32_t eventType) {
  switch (eventType) {
    case console_event::kCtrlC:
    case console_event::kCtrlBreak: return {true, false};
    case console_event::kClose:
    case console_event::kLogoff:
    case console_event::kShutdown: return {true, true};
    default: return {};
  }
}
