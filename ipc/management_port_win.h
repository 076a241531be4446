// The TCP table and the processes behind its rows, for the decisions of
// management_port.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ipc/management_port.h"
#include "ipc/protocol.h"

namespace veltrona::ipc {

enum class TcpRows {
  kListeners,               // listening sockets, without owners
  kAll,                     // every row, without owners
  kConnectionsWithOwners,   // connections, with their owners where the system can tell
};

// Rows of the IPv4 TCP table; none when it cannot be read.
std::optional<std::vector<TcpRow>> ReadTcpTable(TcpRows which);

// Wine's ntdll exports wine_get_version; Windows' never does.
[[nodiscard]] bool RunningUnderWine() noexcept;

// Something already listens where OpenVPN's management interface would:
// 127.0.0.1:`port`, or `port` on every address. False when the table cannot
// be read; the client's own check of its peer still stands then.
[[nodiscard]] bool ManagementPortTaken(uint16_t port = kManagementPort);

// Who holds the server's end of the established connection from
// `client_end` to 127.0.0.1:`port`.
PortOwner ServerEndOwner(const TcpEndpoint& client_end, uint16_t port = kManagementPort);

}  // namespace veltrona::ipc
