// Windows Sockets for the OpenVPN stand-in and its test, taken from ws2_32.dll
// at run time: the peer programs and the end-to-end tests are not linked
// against the sockets library, and this keeps their build untouched.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace veltrona::standin {

struct WinsockFunctions {
  bool loaded = false;
  decltype(&::WSAStartup) WSAStartup = nullptr;
  decltype(&::WSACleanup) WSACleanup = nullptr;
  decltype(&::WSAGetLastError) WSAGetLastError = nullptr;
  decltype(&::WSAEventSelect) WSAEventSelect = nullptr;
  decltype(&::WSAEnumNetworkEvents) WSAEnumNetworkEvents = nullptr;
  decltype(&::socket) socket = nullptr;
  decltype(&::closesocket) closesocket = nullptr;
  decltype(&::bind) bind = nullptr;
  decltype(&::listen) listen = nullptr;
  decltype(&::accept) accept = nullptr;
  decltype(&::connect) connect = nullptr;
  decltype(&::recv) recv = nullptr;
  decltype(&::send) send = nullptr;
  decltype(&::setsockopt) setsockopt = nullptr;
  decltype(&::getsockname) getsockname = nullptr;
  decltype(&::shutdown) shutdown = nullptr;
};

// Loaded once, from the system folder only; the module stays for the
// process's life.
inline const WinsockFunctions& Winsock() {
  static const WinsockFunctions functions = [] {
    WinsockFunctions f;
    const HMODULE module = ::LoadLibraryExW(L"ws2_32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) return f;
    bool all = true;
    auto load = [&](auto& slot, const char* name) {
      slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
          reinterpret_cast<void*>(::GetProcAddress(module, name)));
      all = all && slot != nullptr;
    };
    load(f.WSAStartup, "WSAStartup");
    load(f.WSACleanup, "WSACleanup");
    load(f.WSAGetLastError, "WSAGetLastError");
    load(f.WSAEventSelect, "WSAEventSelect");
    load(f.WSAEnumNetworkEvents, "WSAEnumNetworkEvents");
    load(f.socket, "socket");
    load(f.closesocket, "closesocket");
    load(f.bind, "bind");
    load(f.listen, "listen");
    load(f.accept, "accept");
    load(f.connect, "connect");
    load(f.recv, "recv");
    load(f.send, "send");
    load(f.setsockopt, "setsockopt");
    load(f.getsockname, "getsockname");
    load(f.shutdown, "shutdown");
    f.loaded = all;
    return f;
  }();
  return functions;
}

// Starts Windows Sockets 2.2 for the scope; `started` tells whether it did.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data{};
    started_ = Winsock().loaded && Winsock().WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockSession() {
    if (started_) Winsock().WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  bool started() const { return started_; }

 private:
  bool started_ = false;
};

struct SocketTraits {
  using Handle = SOCKET;
  static Handle Invalid() noexcept { return INVALID_SOCKET; }
  static void Close(Handle socket) noexcept { Winsock().closesocket(socket); }
};

// Port numbers travel in network byte order.
inline uint16_t NetworkOrder(uint16_t port) { return static_cast<uint16_t>((port >> 8) | (port << 8)); }

// Dotted IPv4 text ("127.0.0.1") to an address in network order.
inline std::optional<in_addr> ParseIpv4(std::string_view text) {
  uint32_t parts[4] = {};
  size_t part = 0;
  size_t digits = 0;
  for (const char c : text) {
    if (c == '.') {
      if (digits == 0 || ++part > 3) return std::nullopt;
      digits = 0;
    } else if (c >= '0' && c <= '9' && digits < 3) {
      parts[part] = parts[part] * 10 + static_cast<uint32_t>(c - '0');
      if (parts[part] > 255) return std::nullopt;
      ++digits;
    } else {
      return std::nullopt;
    }
  }
  if (part != 3 || digits == 0) return std::nullopt;
  in_addr address{};
  address.S_un.S_un_b = {static_cast<UCHAR>(parts[0]), static_cast<UCHAR>(parts[1]), static_cast<UCHAR>(parts[2]),
                         static_cast<UCHAR>(parts[3])};
  return address;
}

inline std::string Ipv4Text(const in_addr& address) {
  const auto& b = address.S_un.S_un_b;
  return std::to_string(b.s_b1) + "." + std::to_string(b.s_b2) + "." + std::to_string(b.s_b3) + "." +
         std::to_string(b.s_b4);
}

}  // namespace veltrona::standin
