#include "service/listener_owner_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <iphlpapi.h>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <vector>

#include "common/handles_win.h"
#include "common/system_library_win.h"
#include "config/log_win.h"
#include "service/watchdog_rules.h"

namespace {

// Process 0 (the idle process) owns no socket on Windows; it is what a
// system that cannot tell a socket's owner reports (Wine, for every one).
constexpr uint32_t kUnknownOwner = 0;

// A listener table beyond this is not read (a machine has far fewer).
constexpr DWORD kMaxTableBytes = 16u << 20;

uint16_t portOf(DWORD networkOrder) {
  return static_cast<uint16_t>(((networkOrder & 0xFF) << 8) | ((networkOrder >> 8) & 0xFF));
}

// The table of one address family, read into `buffer`; false with the
// system's error in `error`.
bool readTable(ULONG family, std::vector<LONGLONG>& buffer, DWORD& error) {
  DWORD size = 0;
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(LONGLONG));
    size = bytes;
    error = ondemand::GetExtendedTcpTable(buffer.empty() ? nullptr : buffer.data(), &size, FALSE, family,
                                          TCP_TABLE_OWNER_PID_LISTENER, 0);
    if (error == NO_ERROR) return size >= sizeof(DWORD);
    if (error != ERROR_INSUFFICIENT_BUFFER || size > kMaxTableBytes) return false;
    buffer.assign(size / sizeof(LONGLONG) + 64, 0);  // room for a few more that open meanwhile
  }
  return false;
}

// The rows of a table, as many as the buffer holds whatever the count says.
template <typename Table, typename Row>
const Row* rowsOf(const std::vector<LONGLONG>& buffer, size_t& count) {
  const auto* table = reinterpret_cast<const Table*>(buffer.data());
  size_t room = (buffer.size() * sizeof(LONGLONG) - offsetof(Table, table)) / sizeof(Row);
  count = std::min<size_t>(table->dwNumEntries, room);
  return table->table;
}

bool listeners(std::vector<TcpListener>& out, DWORD& error) {
  std::vector<LONGLONG> buffer;
  if (!readTable(AF_INET, buffer, error)) return false;
  size_t count = 0;
  const auto* v4 = rowsOf<MIB_TCPTABLE_OWNER_PID, MIB_TCPROW_OWNER_PID>(buffer, count);
  for (size_t i = 0; i < count; ++i) {
    const DWORD loopback = 0x0100007F;  // 127.0.0.1 in network order
    ListenAddress where = v4[i].dwLocalAddr == loopback ? ListenAddress::loopback4
                          : v4[i].dwLocalAddr == 0      ? ListenAddress::any4
                                                        : ListenAddress::other;
    out.push_back({where, portOf(v4[i].dwLocalPort), v4[i].dwOwningPid});
  }
  // Without IPv6 (or its table) the IPv4 one decides.
  buffer.clear();
  DWORD ignored = 0;
  if (!readTable(AF_INET6, buffer, ignored)) return true;
  const auto* v6 = rowsOf<MIB_TCP6TABLE_OWNER_PID, MIB_TCP6ROW_OWNER_PID>(buffer, count);
  for (size_t i = 0; i < count; ++i) {
    bool any = std::all_of(v6[i].ucLocalAddr, v6[i].ucLocalAddr + 16, [](UCHAR b) { return b == 0; });
    out.push_back({any ? ListenAddress::any6 : ListenAddress::other, portOf(v6[i].dwLocalPort), v6[i].dwOwningPid});
  }
  return true;
}

// "process <id>", with its program when the system tells it.
std::string processName(uint32_t id) {
  std::string out = "process " + std::to_string(id);
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
  char path[MAX_PATH * 2];
  DWORD size = sizeof path;
  if (process && QueryFullProcessImageNameA(process.get(), 0, path, &size)) out += " (" + std::string(path, size) + ")";
  return out;
}

}  // namespace

bool listenerIsThisProcess(uint16_t port, std::string& why) {
  std::vector<TcpListener> all;
  DWORD error = 0;
  if (!listeners(all, error)) {
    why = "cannot read the system's table of listening ports (error " + std::to_string(error) + ")";
    return false;
  }
  std::optional<uint32_t> owner = loopbackListenerProcess(all, port);
  if (!owner) {
    why = "nothing listens on the port";
    return false;
  }
  if (*owner == GetCurrentProcessId()) return true;
  if (*owner == kUnknownOwner) {
    static LONG said = 0;
    if (InterlockedExchange(&said, 1) == 0)
      logInfo("the system names no owner of the socket on port %u (process 0): the probes cannot tell who answers",
              static_cast<unsigned>(port));
    return true;
  }
  why = "the port is served by " + processName(*owner) + ", not by this service";
  return false;
}
