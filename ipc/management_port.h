// Who may stand on OpenVPN's management port. The port is a fixed loopback
// port without a password, so any local program that listens there first
// would be handed the user's VPN ID and activation code. The service looks
// for such a listener before it starts OpenVPN, and the client looks at the
// process on the other end of its connection before it sends anything.
//
// This file decides from the TCP table's rows and the owner's program; the
// _win file reads the table and the processes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace veltrona::ipc {

// The TCP table's states, as the IP Helper numbers them.
enum class TcpState : uint32_t {
  kClosed = 1,
  kListen = 2,
  kEstablished = 5,
  kTimeWait = 11,
};

// An IPv4 address and port, both in host byte order.
struct TcpEndpoint {
  uint32_t address = 0;
  uint16_t port = 0;
  bool operator==(const TcpEndpoint&) const = default;
};

inline constexpr uint32_t kLoopbackAddress = 0x7F000001;  // 127.0.0.1
inline constexpr uint32_t kAnyAddress = 0;                // 0.0.0.0

// One row of the IPv4 TCP table with its owner.
struct TcpRow {
  uint32_t state = 0;  // a TcpState value, or any other the table reports
  TcpEndpoint local;
  TcpEndpoint remote;
  uint32_t pid = 0;
};

// A listener that takes connections to 127.0.0.1:`port`: one bound to the
// loopback address or to every address. Connections and closing ones
// (TIME_WAIT and the like) do not count.
[[nodiscard]] std::optional<TcpRow> FindLoopbackListener(std::span<const TcpRow> rows, uint16_t port);

// The server's end of the connection whose client end is `client_end`, to
// 127.0.0.1:`port`, while it is established.
[[nodiscard]]
std::optional<TcpRow> FindServerEnd(std::span<const TcpRow> rows, uint16_t port, const TcpEndpoint& client_end);

// What could be learnt about the process behind the server's end.
struct PortOwner {
  bool row_found = false;
  uint32_t pid = 0;
  std::u16string image;  // its program's full path; empty when it could not be read
};

// Whether the credentials may go to `owner`: only when it is
// `installed_openvpn` ("<Install Path>openvpn.exe"), compared without regard
// to the case of ASCII letters or the kind of slash. An owner that cannot be
// told (no row, no program, no installed path) is refused, and so is a path
// that differs only in the case of other letters: refusing is the safe
// mistake.
//
// Owner 0 is never a program on Windows, but Wine reports 0 as the owner of
// every socket: there the owner cannot be told at all, and refusing would
// refuse OpenVPN too, so under Wine it is accepted.
[[nodiscard]]
bool TrustManagementPeer(const PortOwner& owner, std::u16string_view installed_openvpn, bool running_under_wine);

}  // namespace veltrona::ipc
