// Rows of an IPv4 route table for the route guard's tests: addresses as the
// platform stores them, and a row of the kind a network adapter adds
// (indirect, set by management, metric 25). The Windows form is written out
// field for field, so the service's own conversion is never what a test
// compares against.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>

#include "service/route_guard.h"

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#endif

namespace veltrona::test_support {

inline constexpr uint32_t kIndirectRoute = 4;  // MIB_IPROUTE_TYPE_INDIRECT
inline constexpr uint32_t kManagedRoute = 3;   // MIB_IPPROTO_NETMGMT
inline constexpr uint32_t kAdapterMetric = 25;

// a.b.c.d in network byte order.
constexpr uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return static_cast<uint32_t>(a) | static_cast<uint32_t>(b) << 8 | static_cast<uint32_t>(c) << 16 |
         static_cast<uint32_t>(d) << 24;
}

inline service::RouteRow Route(uint32_t destination, uint32_t mask, uint32_t next_hop, uint32_t interface_index = 1) {
  service::RouteRow row;
  row.destination = destination;
  row.mask = mask;
  row.next_hop = next_hop;
  row.interface_index = interface_index;
  row.type = kIndirectRoute;
  row.protocol = kManagedRoute;
  row.metric[0] = kAdapterMetric;
  return row;
}

#ifdef _WIN32

inline MIB_IPFORWARDROW PlatformRoute(DWORD destination, DWORD mask, DWORD next_hop, DWORD interface_index) {
  MIB_IPFORWARDROW row{};
  row.dwForwardDest = destination;
  row.dwForwardMask = mask;
  row.dwForwardNextHop = next_hop;
  row.dwForwardIfIndex = interface_index;
  row.dwForwardType = kIndirectRoute;
  row.dwForwardProto = kManagedRoute;
  row.dwForwardMetric1 = kAdapterMetric;
  return row;
}

inline bool SameRow(const MIB_IPFORWARDROW& a, const MIB_IPFORWARDROW& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// GetIpForwardTable's answer for `rows`: no data for none, the size needed
// when `table` is missing or too small, else the rows copied in.
inline DWORD CopyForwardTable(std::span<const MIB_IPFORWARDROW> rows, MIB_IPFORWARDTABLE* table, ULONG* size) {
  if (rows.empty()) return ERROR_NO_DATA;
  const ULONG needed = static_cast<ULONG>(offsetof(MIB_IPFORWARDTABLE, table) + rows.size() * sizeof(MIB_IPFORWARDROW));
  if (table == nullptr || *size < needed) {
    *size = needed;
    return ERROR_INSUFFICIENT_BUFFER;
  }
  table->dwNumEntries = static_cast<DWORD>(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) table->table[i] = rows[i];
  return NO_ERROR;
}

#endif

}  // namespace veltrona::test_support
