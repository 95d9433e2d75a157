// Messages to the person running the launcher, and the fatal-error path.
// Every message first hands the extracted files to deferred deletion.
#pragma once

#include <string>
#include <string_view>

#include "config/config_keys.h"

// Switches messages from message boxes to standard error (once, after the
// configuration block is loaded, unless key 107 asks for message boxes).
void useConsoleMessages();

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

// Hands the extracted files to deferred deletion, then ends the process.
[[noreturn]] void exitLauncher(int exitCode);
