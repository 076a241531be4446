#include "service/route_table_win.h"

namespace veltrona::service {

namespace {

class SystemTable final : public RouteTableApi {
 public:
  DWORD GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL sorted) override {
    return ::GetIpForwardTable(table, size, sorted);
  }
  DWORD DeleteIpForwardEntry(MIB_IPFORWARDROW* row) override { return ::DeleteIpForwardEntry(row); }
  DWORD CreateIpForwardEntry(MIB_IPFORWARDROW* row) override { return ::CreateIpForwardEntry(row); }
};

RouteTableApi* g_service_table = nullptr;

}  // namespace

RouteTableApi& SystemRouteTable() {
  static SystemTable table;
  return table;
}

RouteTableApi& ServiceRouteTable() { return g_service_table ? *g_service_table : SystemRouteTable(); }

void SetServiceRouteTable(RouteTableApi* table) { g_service_table = table; }

}  // namespace veltrona::service
