// What a console run (/console) does with a console control event: Ctrl+C,
// Ctrl+Break and closing the console stop the application as a service stop
// does; after a close, logoff or shutdown event the system ends the process
// as soon as the handler returns, so the handler waits there while the
// application's System.exit runs.
#pragma once

#include <cstdint>

// The system's event codes, repeated so that the rule needs no system header.
namespace console_event {
inline constexpr uint32_t kCtrlC = 0;
inline constexpr uint32_t kCtrlBreak = 1;
inline constexpr uint32_t kClose = 2;
inline constexpr uint32_t kLogoff = 5;
inline constexpr uint32_t kShutdown = 6;
}  // namespace console_event

struct ConsoleEventAction {
  bool stop = false;         // handled: signal the stop (else the next handler runs)
  bool waitForExit = false;  // do not return: the process would end at once
  bool threadDump = false;   // handled: ask for a thread dump (nothing else)
};

// With `threadDumps` (a thread dump control code is configured), Ctrl+Break
// asks for a thread dump instead of stopping.
ConsoleEventAction consoleEventAction(uint32_t eventType, bool threadDumps = false);
