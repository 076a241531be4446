// The route table guard as the worker runs it: deletes the extra default
// routes while the tunnel's route is present, and puts every deleted route
// back when the tunnel goes down. Deleted rows are kept in a journal file in
// the service's folder so that a service that crashed restores them at its
// next start; only a journal the service can show to be its own is replayed.
#pragma once

#include <string>
#include <vector>

#include "service/route_guard.h"
#include "service/route_table_win.h"
#include "service/service_folder_win.h"
#include "service/service_log.h"

namespace veltrona::service {

class RouteGuard {
 public:
  // Reads the journal in `folder`; without a usable folder the journal is
  // kept in memory only. A journal that is a link, has other names, or that
  // others may have written is logged, removed and not replayed.
  RouteGuard(ServiceLog& log, RouteTableApi& table, const ServiceFolder& folder);

  // One scan of the table and, where the rule says so, the deletions.
  void CheckRoutes();
  // Re-adds every route the guard deleted; a route that cannot be re-added
  // stays in the journal for the next attempt.
  void RestoreRoutes();

  [[nodiscard]] const std::vector<RouteRow>& deleted_routes() const { return deleted_; }

 private:
  void LoadJournal();
  void SaveJournal();

  ServiceLog& log_;
  RouteTableApi& table_;
  const ServiceFolder& folder_;
  std::vector<RouteRow> deleted_;
};

// Field-for-field copies between the platform's row and ours.
RouteRow FromPlatformRow(const MIB_IPFORWARDROW& row);
MIB_IPFORWARDROW ToPlatformRow(const RouteRow& row);

// The journal's name in the service folder.
inline constexpr wchar_t kRouteJournalName[] = L"routes.journal";

}  // namespace veltrona::service
