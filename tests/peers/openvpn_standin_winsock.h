// Addresses and ports for the OpenVPN stand-in and its test, as Windows
// Sockets holds them.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veltrona::standin {

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
