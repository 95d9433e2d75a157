// The launcher's entries in the Windows Application event log, as pure text
// rules: where /install registers the event source, what the information
// entries of a clean start and stop say, and how a message becomes the one
// insertion string of an entry (the message table's only message is "%1").
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The message of src/service/event_messages.mc that every entry uses.
inline constexpr unsigned kEventTextMessageId = 1;

// The event log takes at most 31839 characters per insertion string; texts
// are cut to this many bytes of the ANSI code page (never more characters).
inline constexpr std::size_t kMaxEventTextBytes = 31000;

// The event source's key below HKEY_LOCAL_MACHINE, or none for a name that
// cannot be one key (empty, or holding a backslash or slash).
std::optional<std::string> eventSourceKeyPath(std::string_view serviceName);

// The information entries of a clean start and a clean stop: the Java
// runtime (its java executable) and the VM library the service used.
std::string serviceStartedText(std::string_view serviceName, std::string_view javaExe,
                               std::string_view vmLibrary);
std::string serviceStoppedText(std::string_view serviceName, std::string_view javaExe,
                               std::string_view vmLibrary);

// The entries of an application that ended without a stop request: it ended
// the process itself with `status` (System.exit; 0: "by itself"), it
// finished (main returned, no application thread left), or its main threw
// `thrown` ("class: message") and no application thread is left.
std::string applicationExitText(std::string_view serviceName, int status);
std::string applicationFinishedText(std::string_view serviceName);
std::string applicationThrewText(std::string_view serviceName, std::string_view thrown);

// A message as an entry shows it: every lone line feed becomes CR LF (Event
// Viewer needs both), cut to kMaxEventTextBytes.
std::string eventText(std::string_view message);
