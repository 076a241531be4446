#include "ipc/management_port.h"

#include "base/ascii.h"
#include "base/wide_text.h"

namespace veltrona::ipc {
namespace {

bool Is(const TcpRow& row, TcpState state) { return row.state == static_cast<uint32_t>(state); }

// Windows takes either slash as a separator.
std::u16string WithBackslashes(std::u16string_view path) {
  std::u16string result(path);
  for (char16_t& c : result) {
    if (c == u'/') c = u'\\';
  }
  return result;
}

}  // namespace

std::optional<TcpRow> FindLoopbackListener(std::span<const TcpRow> rows, uint16_t port) {
  for (const TcpRow& row : rows) {
    if (!Is(row, TcpState::kListen) || row.local.port != port) continue;
    if (row.local.address == kLoopbackAddress || row.local.address == kAnyAddress) return row;
  }
  return std::nullopt;
}

std::optional<TcpRow> FindServerEnd(std::span<const TcpRow> rows, uint16_t port, const TcpEndpoint& client_end) {
  const TcpEndpoint server_end{kLoopbackAddress, port};
  for (const TcpRow& row : rows) {
    if (Is(row, TcpState::kEstablished) && row.local == server_end && row.remote == client_end) return row;
  }
  return std::nullopt;
}

bool TrustManagementPeer(const PortOwner& owner, std::u16string_view installed_openvpn, bool running_under_wine) {
  if (!owner.row_found) return false;
  if (owner.pid == 0) return running_under_wine;
  if (installed_openvpn.empty() || owner.image.empty()) return false;
  return EqualsIgnoringAsciiCase<char16_t>(WithBackslashes(owner.image), WithBackslashes(installed_openvpn));
}

}  // namespace veltrona::ipc
