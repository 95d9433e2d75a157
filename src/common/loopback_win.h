// A short exchange with a local listener (127.0.0.1) for the watchdog's
// tcpSocket and httpGet checks, done natively so that no Java thread is
// involved. Winsock (ws2_32) is loaded from the system directory on first
// use, as user32 and shell32 are (common/system_library_win): importing it
// would load it in every start of every service.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Connects to 127.0.0.1:`port`; with a `request`, sends it and reads the
// answer until `maxReply` bytes, a line end, or the peer closes. Every step
// is bounded by `timeoutMs` in all. False with `why` (the step and the
// system's error) when any step fails.
bool loopbackExchange(uint16_t port, std::string_view request, size_t maxReply, uint32_t timeoutMs,
                      std::string& reply, std::string& why);
