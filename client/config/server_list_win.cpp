#include "client/config/server_list_win.h"

#include <cstdlib>
#include <ctime>
#include <new>
#include <optional>
#include <string>

#include "base/wide_text.h"
#include "client/common/user_messages_win.h"
#include "client/config/http_client_win.h"
#include "client/config/settings_store_win.h"
#include "client/xml/xml_encoding.h"

namespace veltrona::config {

using common::ShowWarning;

namespace {

std::optional<std::u16string> ReadCachedServerList() {
  std::wstring cached;
  if (!ReadStringSetting(SettingId::kConfigCache, cached)) return std::nullopt;
  return ToU16(cached);
}

// The box's own search ignores case, and host names that differ only in
// case are different servers, so each item is compared as it stands.
LRESULT FindExactItem(HWND box, const std::wstring& name) {
  const LRESULT count = ::SendMessageW(box, CB_GETCOUNT, 0, 0);
  std::wstring item;
  for (LRESULT index = 0; index < count; ++index) {
    const LRESULT length = ::SendMessageW(box, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR || static_cast<std::size_t>(length) != name.size()) continue;
    item.assign(static_cast<std::size_t>(length) + 1, L'\0');
    ::SendMessageW(box, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(item.data()));
    if (item.compare(0, name.size(), name) == 0) return index;
  }
  return CB_ERR;
}

void FillServerBox(HWND box, const ServerBoxPlan& plan) {
  ::SendMessageW(box, CB_RESETCONTENT, 0, 0);
  for (const std::u16string& item : plan.items) {
    const std::wstring text = ToWide(item);
    ::SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  // The box keeps its own order, so a name is looked up in the box itself.
  switch (plan.selection.kind) {
    case ServerSelection::Kind::kPosition:
      ::SendMessageW(box, CB_SETCURSEL, plan.selection.position, 0);
      break;
    case ServerSelection::Kind::kName: {
      const LRESULT index = FindExactItem(box, ToWide(plan.selection.name));
      if (index != CB_ERR) ::SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
      break;
    }
    case ServerSelection::Kind::kNone:
      break;
  }
}

// The server list's GET. Under a start-up budget its limits come from the
// budget, and once the budget is spent it is not made at all (0, as a
// failed download).
DWORD FetchServerList(const HostAddress& config_host, std::string& body, StartupWaitBudget* budget) {
  HttpTimeouts timeouts;
  if (budget != nullptr) {
    const std::optional<std::uint32_t> limit = budget->NextRequestLimit();
    if (!limit) return 0;
    timeouts = HttpTimeouts{*limit, *limit, *limit};
  }
  const ULONGLONG started = ::GetTickCount64();
  const DWORD read = HttpGet(config_host, ToWide(kServerListPath), body, timeouts);
  if (budget != nullptr) budget->Spend(::GetTickCount64() - started);
  return read;
}

void LoadServerListOrThrow(HWND window, const HostAddress& config_host, ServerMap& servers,
                           StartupWaitBudget* budget) {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  servers.clear();
  std::string body;
  // The result is not looked at: the body decides.
  (void)FetchServerList(config_host, body, budget);

  const HWND box = ::GetDlgItem(window, IDC_SERVER);
  const LRESULT current = ::SendMessageW(box, CB_GETCURSEL, 0, 0);
  const std::optional<std::size_t> previous =
      current == CB_ERR ? std::nullopt : std::optional<std::size_t>(static_cast<std::size_t>(current));
  const bool pixelguard_on = ::IsDlgButtonChecked(window, IDC_PIXELGUARD) == BST_CHECKED;

  const ServerListLoad load = DecideServerListLoad(
      body, ReadCachedServerList, pixelguard_on, previous,
      [] { return static_cast<std::uint32_t>(std::rand()); }, xml::XmlDefaultDecoder());
  if (load.text_to_cache) (void)WriteStringSetting(SettingId::kConfigCache, ToWide(*load.text_to_cache));
  if (load.show_connection_error) ShowWarning(window, ToWide(kConnectionErrorMessage));
  FillServerBox(box, load.box);
  RebuildServerMap(servers, load.box);
}

}  // namespace

void LoadServerList(HWND window, const HostAddress& config_host, ServerMap& servers,
                    StartupWaitBudget* budget) noexcept {
  try {
    LoadServerListOrThrow(window, config_host, servers, budget);
  } catch (const std::bad_alloc&) {
    // Out of memory: the box keeps what it had.
  }
}

bool CheckForUpdate(const HostAddress& config_host, UpdateCheck& check, StartupWaitBudget* budget) noexcept {
  try {
    std::string body;
    const DWORD read = FetchServerList(config_host, body, budget);
    check = EvaluateUpdateResponse(read, body);
    if (check.status == UpdateStatus::kDownloadFailed) ShowWarning(nullptr, ToWide(kUpdateCheckFailedMessage));
    return check.IsNewer();
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool SelectServerExactly(HWND box, std::wstring_view name) noexcept {
  try {
    const LRESULT index = FindExactItem(box, std::wstring(name));
    if (index == CB_ERR) return false;
    return ::SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(index), 0) != CB_ERR;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace veltrona::config
