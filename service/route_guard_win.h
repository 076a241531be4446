// The route table guard as the worker runs it: deletes the extra default
// routes while the tunnel's route is present, and puts every deleted route
// back when the tunnel goes down. Deleted rows are kept in a journal file so
// that a service that crashed restores them at its next start.
#pragma once

#include <string>
#include <vector>

#include "service/route_guard.h"
#include "service/route_table_win.h"
#include "service/service_log.h"

namespace veltrona::service {

class RouteGuard {
 public:
  // An empty journal path keeps the journal in memory only.
  RouteGuard(ServiceLog& log, RouteTableApi& table, std::wstring journal_path);

  // One scan of the table and, where the rule says so, the deletions.
  void CheckRoutes();
  // Re-adds every route the guard deleted; a route that cannot be re-added
  // stays in the journal for the next attempt.
  void RestoreRoutes();

  [[nodiscard]] const std::vector<RouteRow>& deleted_routes() const { return deleted_; }

 private:
  void SaveJournal();

  ServiceLog& log_;
  RouteTableApi& table_;
  std::wstring journal_path_;
  std::vector<RouteRow> deleted_;
};

// Field-for-field copies between the platform's row and ours.
RouteRow FromPlatformRow(const MIB_IPFORWARDROW& row);
MIB_IPFORWARDROW ToPlatformRow(const RouteRow& row);

// "<service folder>\routes.journal".
std::wstring RouteJournalPath(const std::wstring& service_folder);

}  // namespace veltrona::service
