#include "service/route_guard_win.h"

#include <algorithm>
#include <vector>

#include "base/unique_handle_win.h"
#include "service/security_win.h"

namespace veltrona::service {

namespace {

constexpr DWORD kMaxJournalBytes = 1 << 20;

}  // namespace

RouteRow FromPlatformRow(const MIB_IPFORWARDROW& row) {
  RouteRow r;
  r.destination = row.dwForwardDest;
  r.mask = row.dwForwardMask;
  r.policy = row.dwForwardPolicy;
  r.next_hop = row.dwForwardNextHop;
  r.interface_index = row.dwForwardIfIndex;
  r.type = row.dwForwardType;
  r.protocol = row.dwForwardProto;
  r.age = row.dwForwardAge;
  r.next_hop_as = row.dwForwardNextHopAS;
  r.metric[0] = row.dwForwardMetric1;
  r.metric[1] = row.dwForwardMetric2;
  r.metric[2] = row.dwForwardMetric3;
  r.metric[3] = row.dwForwardMetric4;
  r.metric[4] = row.dwForwardMetric5;
  return r;
}

MIB_IPFORWARDROW ToPlatformRow(const RouteRow& r) {
  MIB_IPFORWARDROW row{};
  row.dwForwardDest = r.destination;
  row.dwForwardMask = r.mask;
  row.dwForwardPolicy = r.policy;
  row.dwForwardNextHop = r.next_hop;
  row.dwForwardIfIndex = r.interface_index;
  row.dwForwardType = r.type;
  row.dwForwardProto = r.protocol;
  row.dwForwardAge = r.age;
  row.dwForwardNextHopAS = r.next_hop_as;
  row.dwForwardMetric1 = r.metric[0];
  row.dwForwardMetric2 = r.metric[1];
  row.dwForwardMetric3 = r.metric[2];
  row.dwForwardMetric4 = r.metric[3];
  row.dwForwardMetric5 = r.metric[4];
  return row;
}

RouteGuard::RouteGuard(ServiceLog& log, RouteTableApi& table, const ServiceFolder& folder)
    : log_(log), table_(table), folder_(folder) {
  LoadJournal();
}

void RouteGuard::LoadJournal() {
  if (!folder_.usable()) return;
  const std::wstring path = folder_.path() + L"\\" + kRouteJournalName;
  DWORD error = 0;
  UniqueFile file = OpenChild(folder_.handle(), kRouteJournalName, GENERIC_READ | READ_CONTROL, FILE_SHARE_READ,
                              FILE_OPEN, FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT,
                              nullptr, &error);
  if (!file) {
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      log_.WriteCode("Route journal ignored: it cannot be opened", error);
    }
    return;
  }
  // Replayed routes are added as SYSTEM: a journal that someone else could
  // have written would let that user route the machine's traffic.
  std::string problem = CheckOpened(file.Get(), path, false);
  LARGE_INTEGER size{};
  if (problem.empty() && (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart > kMaxJournalBytes)) {
    problem = "it is too large";
  }
  std::string text;
  if (problem.empty()) {
    text.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!text.empty() && !::ReadFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr)) {
      problem = "it cannot be read (" + ErrorText(::GetLastError()) + ")";
    }
    text.resize(read);
  }
  file.Reset();
  if (problem.empty()) {
    deleted_ = DecodeRouteJournal(text);
    return;
  }
  log_.Write("Route journal ignored: " + problem);
  std::string why_not;
  if (!RemoveChild(folder_.handle(), folder_.path(), kRouteJournalName, &why_not)) {
    log_.Write("Route journal cannot be removed: " + why_not);
  }
}

void RouteGuard::CheckRoutes() {
  log_.Write("Checking route table");
  ULONG size = 0;
  if (table_.GetIpForwardTable(nullptr, &size, TRUE) != ERROR_INSUFFICIENT_BUFFER) return;
  // Room for the row count and whole rows only: a table that changed size
  // between the two calls is read as far as it fits.
  std::vector<uint8_t> buffer(std::max<size_t>(size, sizeof(MIB_IPFORWARDTABLE)));
  auto* table = reinterpret_cast<MIB_IPFORWARDTABLE*>(buffer.data());
  ULONG capacity = static_cast<ULONG>(buffer.size());
  if (table_.GetIpForwardTable(table, &capacity, TRUE) != NO_ERROR) return;
  const size_t fits = (buffer.size() - offsetof(MIB_IPFORWARDTABLE, table)) / sizeof(MIB_IPFORWARDROW);
  const size_t count = std::min<size_t>(table->dwNumEntries, fits);

  std::vector<RouteRow> rows;
  rows.reserve(count);
  for (size_t i = 0; i < count; ++i) rows.push_back(FromPlatformRow(table->table[i]));
  const RouteDecision decision = ChooseRoutes(rows);
  if (!decision.tunnel_route_found) {
    log_.Write("OpenVPN route not found");
    return;
  }
  if (decision.extra_routes.empty()) return;
  log_.Write("Extra routes detected! Deletion in progress");
  // Journal first: a route must never be gone without a record to put it
  // back from.
  for (const RouteRow& row : decision.extra_routes) {
    if (std::find(deleted_.begin(), deleted_.end(), row) == deleted_.end()) deleted_.push_back(row);
  }
  SaveJournal();
  for (const RouteRow& row : decision.extra_routes) {
    MIB_IPFORWARDROW platform_row = ToPlatformRow(row);
    table_.DeleteIpForwardEntry(&platform_row);
  }
}

void RouteGuard::RestoreRoutes() {
  if (deleted_.empty()) return;
  std::vector<RouteRow> kept;
  for (const RouteRow& row : deleted_) {
    MIB_IPFORWARDROW platform_row = ToPlatformRow(row);
    const DWORD status = table_.CreateIpForwardEntry(&platform_row);
    if (status == NO_ERROR) {
      log_.Write("Route restored: " + DescribeRoute(row));
    } else if (status == ERROR_OBJECT_ALREADY_EXISTS) {
      log_.Write("Route already present: " + DescribeRoute(row));
    } else {
      log_.WriteCode("Failed to restore route " + DescribeRoute(row), status);
      kept.push_back(row);
    }
  }
  deleted_ = std::move(kept);
  SaveJournal();
}

void RouteGuard::SaveJournal() {
  if (!folder_.usable()) return;
  // Removed and written anew, never opened: a link or a file someone put in
  // its place is not written through.
  std::string why_not;
  if (!RemoveChild(folder_.handle(), folder_.path(), kRouteJournalName, &why_not)) {
    log_.Write("Failed to write the route journal: " + why_not);
    return;
  }
  if (deleted_.empty()) return;
  const std::string text = EncodeRouteJournal(deleted_);
  UniqueSecurityDescriptor descriptor = DescriptorFromSddl(kPrivateFileSddl);
  DWORD error = 0;
  UniqueFile file = OpenChild(folder_.handle(), kRouteJournalName, GENERIC_WRITE, 0, FILE_CREATE,
                              FILE_NON_DIRECTORY_FILE | FILE_WRITE_THROUGH | FILE_SYNCHRONOUS_IO_NONALERT,
                              descriptor.Get(), &error);
  DWORD written = 0;
  if (!file) {
    log_.WriteCode("Failed to write the route journal", error);
  } else if (!::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
    log_.WriteCode("Failed to write the route journal", ::GetLastError());
  }
}

}  // namespace veltrona::service
