// The Application event log: in the service process every message the
// launcher shows is also written there as an error entry, and a clean start
// and stop each write an information entry; /install registers the event
// source and /uninstall removes it. Command processes write nothing there,
// but for /configure's install warnings (reportWarningEvents).
#pragma once

#include <string>
#include <vector>

// From now on messages go to the event log too, under the service name as it
// stands when the first entry is written. Called only in a process that goes
// to the service dispatcher.
void enableEventLog();

// One entry, when the event log is enabled; failures are ignored (a message
// must never fail because the event log does).
void reportErrorEvent(const std::string& message);
void reportInformationEvent(const std::string& message);

// Writes each message as one warning entry under the service name's event
// source, whether or not the event log is enabled (a command process that
// must leave a record, such as /configure run by an installer); failures
// are ignored. Callers ask eventSourceOwner first: no entry under another
// program's source.
void reportWarningEvents(const std::vector<std::string>& messages);

// Registers the service name as an event source of the Application log, with
// `messageFile` (the executable, which holds the message table) as its
// message file. 0 or the system's error code.
[[nodiscard]] unsigned long registerEventSource(const std::string& serviceName,
                                                const std::string& messageFile);

// Whose the event source of a service name is: nobody's (no key), this
// executable's (its EventMessageFile names it, see namesThisExecutable), or
// another program's, whose key /install and /uninstall leave alone.
// `registered` receives the message file as the key holds it (empty when
// it cannot be read, which counts as another program's).
enum class EventSourceOwner { none, thisExecutable, other };
EventSourceOwner eventSourceOwner(const std::string& serviceName, std::u16string& registered);

// Removes the event source's key; a missing key is no error. 0 or the
// system's error code. Callers ask eventSourceOwner first.
unsigned long removeEventSource(const std::string& serviceName);
