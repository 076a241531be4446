// The route table guard's decisions. While the tunnel's default route (via
// 10.235.0.1) is present, every other default route is an extra one to
// delete; each deleted row is remembered so it can be put back when the
// tunnel goes down.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace veltrona::service {

// One row of the IPv4 forwarding table, field for field as the platform
// returns it (addresses in network byte order).
struct RouteRow {
  uint32_t destination = 0;
  uint32_t mask = 0;
  uint32_t policy = 0;
  uint32_t next_hop = 0;
  uint32_t interface_index = 0;
  uint32_t type = 0;
  uint32_t protocol = 0;
  uint32_t age = 0;
  uint32_t next_hop_as = 0;
  uint32_t metric[5] = {};

  friend bool operator==(const RouteRow&, const RouteRow&) = default;
};

// 10.235.0.1 as the platform stores it.
inline constexpr uint32_t kTunnelGateway = 0x0100EB0A;

struct RouteDecision {
  bool tunnel_route_found = false;
  std::vector<RouteRow> extra_routes;  // in table order
};

// Rows with destination 0.0.0.0 count, whatever their mask: through the
// tunnel gateway they are the tunnel's route, otherwise extra routes.
RouteDecision ChooseRoutes(std::span<const RouteRow> table);

// The journal of deleted rows: one line per row, fourteen hexadecimal fields.
std::string EncodeRouteJournal(std::span<const RouteRow> rows);
// Reads what it can; malformed lines are skipped.
std::vector<RouteRow> DecodeRouteJournal(std::string_view text);

// "0.0.0.0 mask 0.0.0.0 via 192.168.1.1 on interface 7", for log lines.
std::string DescribeRoute(const RouteRow& row);

}  // namespace veltrona::service
