#include "common/loopback_win.h"

#include <winsock2.h>

#include <windows.h>

#include <vector>

namespace {

struct Winsock {
  decltype(&::WSAStartup) startup = nullptr;
  decltype(&::socket) socket = nullptr;
  decltype(&::connect) connect = nullptr;
  decltype(&::select) select = nullptr;
  decltype(&::send) send = nullptr;
  decltype(&::recv) recv = nullptr;
  decltype(&::closesocket) close = nullptr;
  decltype(&::ioctlsocket) ioctl = nullptr;
  decltype(&::getsockopt) getOption = nullptr;
  decltype(&::WSAGetLastError) lastError = nullptr;
  bool ready = false;
};

template <typename Function>
void lookUp(HMODULE module, const char* name, Function& out) {
  out = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

Winsock loadWinsock() {
  Winsock w;
  char directory[MAX_PATH + 1];
  UINT n = GetSystemDirectoryA(directory, sizeof directory);
  if (n == 0 || n >= sizeof directory) return w;
  std::string path(directory, n);
  path += "\\ws2_32.dll";
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) return w;
  lookUp(module, "WSAStartup", w.startup);
  lookUp(module, "socket", w.socket);
  lookUp(module, "connect", w.connect);
  lookUp(module, "select", w.select);
  lookUp(module, "send", w.send);
  lookUp(module, "recv", w.recv);
  lookUp(module, "closesocket", w.close);
  lookUp(module, "ioctlsocket", w.ioctl);
  lookUp(module, "getsockopt", w.getOption);
  lookUp(module, "WSAGetLastError", w.lastError);
  if (!w.startup || !w.socket || !w.connect || !w.select || !w.send || !w.recv || !w.close || !w.ioctl ||
      !w.getOption || !w.lastError)
    return w;
  WSADATA data;
  w.ready = w.startup(MAKEWORD(2, 2), &data) == 0;
  return w;
}

const Winsock& winsock() {
  static const Winsock w = loadWinsock();  // a thread-safe static, once
  return w;
}

// Waits until the socket can be written (`write`) or read, within the time
// left; false on time-out or error.
bool waitFor(const Winsock& w, SOCKET s, bool write, ULONGLONG deadline) {
  ULONGLONG now = GetTickCount64();
  if (now >= deadline) return false;
  ULONGLONG left = deadline - now;
  timeval limit{static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
  fd_set set, failed;
  FD_ZERO(&set);
  FD_ZERO(&failed);
  FD_SET(s, &set);
  FD_SET(s, &failed);
  int n = w.select(0, write ? nullptr : &set, write ? &set : nullptr, &failed, &limit);
  // select leaves only the ready sockets in a set (FD_ISSET would import
  // ws2_32's __WSAFDIsSet).
  return n > 0 && set.fd_count == 1 && failed.fd_count == 0;
}

std::string errorText(const char* step, int code) {
  return std::string(step) + " failed (error " + std::to_string(code) + ")";
}

}  // namespace

bool loopbackExchange(uint16_t port, std::string_view request, size_t maxReply, uint32_t timeoutMs,
                      std::string& reply, std::string& why) {
  const Winsock& w = winsock();
  if (!w.ready) {
    why = "Winsock (ws2_32.dll) could not be loaded";
    return false;
  }
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  SOCKET s = w.socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    why = errorText("socket", w.lastError());
    return false;
  }
  bool ok = false;
  do {
    u_long nonBlocking = 1;
    if (w.ioctl(s, FIONBIO, &nonBlocking) != 0) {
      why = errorText("ioctlsocket", w.lastError());
      break;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = static_cast<u_short>((port >> 8) | ((port & 0xFF) << 8));
    address.sin_addr.s_addr = static_cast<u_long>(0x0100007F);  // 127.0.0.1, network order
    if (w.connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      int code = w.lastError();
      if (code != WSAEWOULDBLOCK) {
        why = errorText("connect", code);
        break;
      }
      if (!waitFor(w, s, true, deadline)) {
        int soError = 0;
        int size = sizeof soError;
        w.getOption(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &size);
        why = soError != 0 ? errorText("connect", soError) : "connect: no answer within the time-out";
        break;
      }
    }
    int soError = 0;
    int size = sizeof soError;
    if (w.getOption(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &size) == 0 && soError != 0) {
      why = errorText("connect", soError);
      break;
    }
    size_t sent = 0;
    while (sent < request.size()) {
      if (!waitFor(w, s, true, deadline)) {
        why = "send: no progress within the time-out";
        break;
      }
      int n = w.send(s, request.data() + sent, static_cast<int>(request.size() - sent), 0);
      if (n <= 0) {
        why = errorText("send", w.lastError());
        break;
      }
      sent += static_cast<size_t>(n);
    }
    if (sent < request.size()) break;
    ok = true;
    if (request.empty()) break;
    std::vector<char> buffer(maxReply > 0 ? maxReply : 1);
    reply.clear();
    while (reply.size() < maxReply && reply.find('\n') == std::string::npos) {
      if (!waitFor(w, s, false, deadline)) {
        if (reply.empty()) {
          why = "recv: no answer within the time-out";
          ok = false;
        }
        break;
      }
      int n = w.recv(s, buffer.data(), static_cast<int>(maxReply - reply.size()), 0);
      if (n == 0) break;  // the peer closed
      if (n < 0) {
        if (reply.empty()) {
          why = errorText("recv", w.lastError());
          ok = false;
        }
        break;
      }
      reply.append(buffer.data(), static_cast<size_t>(n));
    }
  } while (false);
  w.close(s);
  return ok;
}
