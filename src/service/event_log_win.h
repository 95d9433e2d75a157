// The Application event log: in the service process every message the
// launcher shows is also written there as an error entry, and a clean start
// and stop each write an information entry; /install registers the event
// source and /uninstall removes it. Command processes write nothing there.
#pragma once

#include <string>

// From now on messages go to the event log too, under the service name as it
// stands when the first entry is written. Called only in a process that goes
// to the service dispatcher.
void enableEventLog();

// One entry, when the event log is enabled; failures are ignored (a message
// must never fail because the event log does).
void reportErrorEvent(const std::string& message);
void reportInformationEvent(const std::string& message);

// Registers the service name as an event source of the Application log, with
// `messageFile` (the executable, which holds the message table) as its
// message file. 0 or the system's error code.
[[nodiscard]] unsigned long registerEventSource(const std::string& serviceName,
                                                const std::string& messageFile);

// Removes the event source's key; a missing key is no error. 0 or the
// system's error code.
unsigned long removeEventSource(const std::string& serviceName);
