#include "service/route_guard.h"

#include <charconv>
#include <cstdio>

namespace veltrona::service {

namespace {

constexpr size_t kJournalFields = 14;
// A journal that large is not ours; reading stops there.
constexpr size_t kMaxJournalRows = 4096;

void ToFields(const RouteRow& row, uint32_t (&fields)[kJournalFields]) {
  const uint32_t values[kJournalFields] = {row.destination, row.mask,        row.policy,    row.next_hop,
                                           row.interface_index, row.type,     row.protocol,  row.age,
                                           row.next_hop_as, row.metric[0],    row.metric[1], row.metric[2],
                                           row.metric[3],   row.metric[4]};
  for (size_t i = 0; i < kJournalFields; ++i) fields[i] = values[i];
}

RouteRow FromFields(const uint32_t (&f)[kJournalFields]) {
  RouteRow row;
  row.destination = f[0];
  row.mask = f[1];
  row.policy = f[2];
  row.next_hop = f[3];
  row.interface_index = f[4];
  row.type = f[5];
  row.protocol = f[6];
  row.age = f[7];
  row.next_hop_as = f[8];
  for (size_t i = 0; i < 5; ++i) row.metric[i] = f[9 + i];
  return row;
}

std::string Address(uint32_t network_order) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", network_order & 0xFF, (network_order >> 8) & 0xFF,
                (network_order >> 16) & 0xFF, network_order >> 24);
  return text;
}

}  // namespace

RouteDecision ChooseRoutes(std::span<const RouteRow> table) {
  RouteDecision decision;
  for (const RouteRow& row : table) {
    if (row.destination != 0) continue;
    if (row.next_hop == kTunnelGateway) {
      decision.tunnel_route_found = true;
    } else {
      decision.extra_routes.push_back(row);
    }
  }
  return decision;
}

std::string EncodeRouteJournal(std::span<const RouteRow> rows) {
  std::string text;
  for (const RouteRow& row : rows) {
    uint32_t fields[kJournalFields];
    ToFields(row, fields);
    for (size_t i = 0; i < kJournalFields; ++i) {
      char hex[9];
      std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(fields[i]));
      if (i != 0) text += ' ';
      text += hex;
    }
    text += "\r\n";
  }
  return text;
}

std::vector<RouteRow> DecodeRouteJournal(std::string_view text) {
  std::vector<RouteRow> rows;
  while (!text.empty() && rows.size() < kMaxJournalRows) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    uint32_t fields[kJournalFields];
    size_t count = 0;
    bool valid = true;
    while (valid && !line.empty()) {
      const size_t blank = line.find(' ');
      const std::string_view token = line.substr(0, blank);
      line = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
      uint32_t value = 0;
      const auto [ptr, ec] = std::from_chars(token.data(), token.data() + token.size(), value, 16);
      // Exactly eight digits a field, so a line cut short is never read as
      // a smaller number.
      valid = token.size() == 8 && ec == std::errc() && ptr == token.data() + token.size() &&
              count < kJournalFields;
      if (valid) fields[count++] = value;
    }
    if (valid && count == kJournalFields) rows.push_back(FromFields(fields));
  }
  return rows;
}

std::string DescribeRoute(const RouteRow& row) {
  return Address(row.destination) + " mask " + Address(row.mask) + " via " + Address(row.next_hop) +
         " on interface " + std::to_string(row.interface_index);
}

}  // namespace veltrona::service
