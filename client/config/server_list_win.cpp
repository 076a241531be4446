#include "client/config/server_list_win.h"

#include <cstdlib>
#include <ctime>
#include <new>
#include <optional>
#include <string>

#include "base/wide_text.h"
#include "client/config/http_client_win.h"
#include "client/config/settings_store_win.h"
#include "client/xml/xml_encoding.h"

namespace veltrona::config {

namespace {

std::optional<std::u16string> ReadCachedServerList() {
  std::wstring cached;
  if (!ReadStringSetting(SettingId::kConfigCache, cached)) return std::nullopt;
  return ToU16(cached);
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
      const std::wstring name = ToWide(plan.selection.name);
      const LRESULT index = ::SendMessageW(box, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                           reinterpret_cast<LPARAM>(name.c_str()));
      if (index != CB_ERR) ::SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
      break;
    }
    case ServerSelection::Kind::kNone:
      break;
  }
}

void LoadServerListOrThrow(HWND window, const HostAddress& config_host, ServerMap& servers,
                           const MessageSink& messages) {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  servers.clear();
  std::string body;
  // The result is not looked at: the body decides.
  (void)HttpGet(config_host, ToWide(kServerListPath), body);

  const HWND box = ::GetDlgItem(window, kServerBoxId);
  const LRESULT current = ::SendMessageW(box, CB_GETCURSEL, 0, 0);
  const std::optional<std::size_t> previous =
      current == CB_ERR ? std::nullopt : std::optional<std::size_t>(static_cast<std::size_t>(current));
  const bool pixelguard_on = ::IsDlgButtonChecked(window, kPixelguardCheckId) == BST_CHECKED;

  const ServerListLoad load = DecideServerListLoad(
      body, ReadCachedServerList, pixelguard_on, previous,
      [] { return static_cast<std::uint32_t>(std::rand()); }, XmlDefaultDecoder());
  if (load.text_to_cache) (void)WriteStringSetting(SettingId::kConfigCache, ToWide(*load.text_to_cache));
  if (load.show_connection_error) messages.Show(ToWide(kConnectionErrorMessage));
  FillServerBox(box, load.box);
  RebuildServerMap(servers, load.box);
}

}  // namespace

void LoadServerList(HWND window, const HostAddress& config_host, ServerMap& servers,
                    const MessageSink& messages) noexcept {
  try {
    LoadServerListOrThrow(window, config_host, servers, messages);
  } catch (const std::bad_alloc&) {
    // Out of memory: the box keeps what it had.
  }
}

bool CheckForUpdate(const HostAddress& config_host, UpdateCheck& check, const MessageSink& messages) noexcept {
  try {
    std::string body;
    const DWORD read = HttpGet(config_host, ToWide(kServerListPath), body);
    check = EvaluateUpdateResponse(read, body);
    if (check.status == UpdateStatus::kDownloadFailed) messages.Show(ToWide(kUpdateCheckFailedMessage));
    return check.IsNewer();
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace veltrona::config
