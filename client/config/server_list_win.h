// The server list on the Windows side: download, cache, the main window's
// server box and the controller's ServerMap, and the start-up update check.
// The decisions are server_list.h's and version_check.h's.
#pragma once

#include <windows.h>

#include <string_view>

#include "client/config/deployment.h"
#include "client/config/server_list.h"
#include "client/config/startup_wait.h"
#include "client/config/version_check.h"
#include "client/resources/resource.h"

namespace veltrona::config {

// Fetches the server list from `config_host` and fills the server box of
// `window` and `servers`. A download that cannot be used shows the
// connection error (owned by `window`) and falls back to the cached copy; a usable one replaces
// the cache. During start-up `budget` bounds the wait (and once it is spent
// no request is made: the cached copy and the message come at once).
void LoadServerList(HWND window, const HostAddress& config_host, ServerMap& servers,
                    StartupWaitBudget* budget = nullptr) noexcept;

// True when the server list announces a newer client; `check` keeps the
// announced version and address. A failed download shows its message,
// owned by no window: the check runs before the main window exists.
[[nodiscard]] bool CheckForUpdate(const HostAddress& config_host, UpdateCheck& check,
                                  StartupWaitBudget* budget = nullptr) noexcept;

// Selects the entry of the server box whose text is exactly `name`, case
// included; false, and the selection as it was, when there is none.
[[nodiscard]] bool SelectServerExactly(HWND box, std::wstring_view name) noexcept;

}  // namespace veltrona::config
