// The diagnostic log: off unless KERNO_LOG or BRINDLE_LOG is exactly "yes".
// Opened on the first logging call; every line is flushed at once.
#pragma once

#include <string>

void logInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The console run's log: from now on (before anything was logged) every line
// goes to standard error, whatever KERNO_LOG and BRINDLE_LOG say, and no log
// file is made; messages then name no log file.
void useStandardErrorLog();

// The log file's name once the opening chose one, else nullptr (log off, or
// nothing logged yet). Does not open the log.
const std::string* logFileName();
