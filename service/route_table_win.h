// The IPv4 forwarding table, behind an interface so that tests never read
// or change the machine's real routes.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

namespace veltrona::service {

class RouteTableApi {
 public:
  virtual ~RouteTableApi() = default;
  [[nodiscard]] virtual DWORD GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL sorted) = 0;
  [[nodiscard]] virtual DWORD DeleteIpForwardEntry(MIB_IPFORWARDROW* row) = 0;
  [[nodiscard]] virtual DWORD CreateIpForwardEntry(MIB_IPFORWARDROW* row) = 0;
};

// The system's table.
RouteTableApi& SystemRouteTable();

// The table the service program uses: the system's unless replaced before
// the service starts.
RouteTableApi& ServiceRouteTable();
void SetServiceRouteTable(RouteTableApi* table);

}  // namespace veltrona::service
