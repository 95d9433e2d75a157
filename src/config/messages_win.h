// Messages to the person running the launcher, and the fatal-error path.
// Every message first runs the exit-time duties that are due (the extracted
// files go to deferred deletion); see config/exit_duties.h.
#pragma once

#include <string>
#include <string_view>

#include "config/config_keys.h"
#include "config/exit_duties.h"

// Switches messages from message boxes to standard error (once, after the
// configuration block is loaded, unless key 107 asks for message boxes).
void useConsoleMessages();

// Called by the owner of an exit-time duty when it starts (extraction, the
// service main routine); the message path runs it when it is due.
void registerExitDuty(ExitDuty duty, ExitDutyFunction function);

// A listener sees the full text of every message before it is shown (the
// service process's event log registers one at start); none until then.
using MessageListener = void (*)(const std::string& text);
void registerMessageListener(MessageListener listener);

// Shows one message: a message box (caption from key 1000) or a line on
// standard error; the log file's path follows when the log is open. In the
// service process the same text also goes to the Application event log.
void showMessage(const std::string& text);

// The text of a message key with the first occurrence of `placeholder`
// replaced by `value` (an empty placeholder replaces nothing).
void showMessageByKey(ConfigKey key, std::string_view placeholder, std::string_view value);

// showMessage / showMessageByKey, then the process ends with exit code 1.
[[noreturn]] void fatalError(const std::string& text);
[[noreturn]] void fatalErrorByKey(ConfigKey key, std::string_view placeholder,
                                  std::string_view value);

// Runs the exit-time duties (the files handed over; for a non-zero code the
// service reported stopped), then ends the process.
[[noreturn]] void exitLauncher(int exitCode);
