// Who answers a probe: the watchdog's tcpSocket and httpGet checks count only
// when the socket that takes a connection to 127.0.0.1:<port> belongs to this
// process, where the VM and so the application run. While the application
// does not listen (at start, or while it binds again) any user could bind
// the port and pass the startup probe, or answer the liveness probe.
#pragma once

#include <cstdint>
#include <string>

// True when the listener of 127.0.0.1:`port` (by the machine's table of
// listening sockets, IPv4 and IPv6) is this process's. False with `why`
// naming the process that listens instead ("the port is served by process
// 1234 (c:\x\y.exe), not by this service"), or saying that nobody listens
// or the table cannot be read. A listener the system names no owner of
// (process 0, which owns no socket on Windows; Wine names none) cannot be
// checked: true, said once in the log.
bool listenerIsThisProcess(uint16_t port, std::string& why);
