#include "client/engines/pptp_win.h"

#include <raserror.h>
#include <shlobj.h>

#include <algorithm>
#include <cstddef>

#include "base/known_folders_win.h"
#include "base/settings.h"
#include "base/wide_text.h"
#include "client/common/user_messages_win.h"
#include "client/config/server_list.h"
#include "client/engines/pptp_rules.h"
#include "client/resources/resource.h"

// The SDK's <ras.h> has it since Vista; mingw-w64's does not.
#ifndef RASNP_Ipv6
#define RASNP_Ipv6 0x00000008
#endif

namespace veltrona::engines {
namespace {

// RAS's notifier type for "the notifier is a window".
constexpr DWORD kWindowNotifier = 0xFFFFFFFF;
constexpr DWORD kHangUpRetryPauseMs = 100;
constexpr DWORD kReleasePollMs = 50;
constexpr int kReleasePolls = 60;  // three seconds, then the handle is let go anyway

// The newest entry structure this engine fills: RASENTRYW as the SDK
// declares it for XP, followed by the fields Vista and 7 added, all of
// which stay zero.
struct RasEntryBuffer {
  RASENTRYW entry;
  BYTE later_fields[5680 - sizeof(RASENTRYW)];
};
static_assert(sizeof(RASENTRYW) == 5616);
static_assert(sizeof(RasEntryBuffer) == 5680);
// RASDIALPARAMSW as 7 declares it is the largest of the three.
static_assert(sizeof(RASDIALPARAMSW) == (sizeof(void*) == 8 ? 2112 : 2108));
static_assert(sizeof(RAS_STATS) == 60);

std::pair<uint32_t, uint32_t> ReportedVersion() {
#ifdef _MSC_VER
#pragma warning(suppress : 4996)
#endif
  const DWORD version = ::GetVersion();
  return {LOBYTE(LOWORD(version)), HIBYTE(LOWORD(version))};
}

// The roaming application-data folder: the shell's "AppData" value, or,
// without it, the known folder, so the phonebook never lands in the
// current directory. Empty when neither is there or the value is too long.
std::wstring ApplicationDataFolder() {
  wchar_t folder[MAX_PATH] = {};
  DWORD size = sizeof folder;  // 520 bytes
  const config::SettingDefinition& app_data = config::Setting(config::SettingId::kShellFoldersAppData);
  const LSTATUS read = ::RegGetValueW(HKEY_CURRENT_USER, ToWide(app_data.key).c_str(), ToWide(app_data.value).c_str(),
                                      RRF_RT_REG_SZ, nullptr, folder, &size);
  if (read == ERROR_SUCCESS) return folder;
  if (read == ERROR_MORE_DATA) return {};
  return KnownFolder(CSIDL_APPDATA).value_or(std::wstring());
}

template <size_t N>
void CopyField(WCHAR (&field)[N], std::u16string_view text) {
  // The caller has checked that the text fits; the structure is zeroed, so
  // the terminator is there.
  const size_t count = std::min(text.size(), N - 1);
  std::copy_n(text.begin(), count, field);
}

int ShowEngineWarning(HWND owner, std::u16string_view text) { return common::ShowWarning(owner, ToWide(text)); }

}  // namespace

PPTP::PPTP(PptpOptions options) : options_(std::move(options)) {
  const auto [major, minor] = options_.version ? *options_.version : ReportedVersion();
  os_class_ = OsClassOf(major, minor);
  const std::wstring folder = ApplicationDataFolder();
  if (!folder.empty()) {
    if (const auto path = PhonebookPathIn(ToU16(folder))) phonebook_path_ = ToWide(*path);
  }
}

void PPTP::Prepare() {
  // Before the main window exists: the messages have no owner.
  if (!os_class_) {
    ShowEngineWarning(nullptr, kOldWindowsMessage);
    return;
  }
  if (phonebook_path_.empty()) {
    ShowEngineWarning(nullptr, kLongPhonebookPathMessage);
    return;
  }
  // A fresh profile may not have the phonebook's folder yet.
  const size_t sub_path = phonebook_path_.size() - kPhonebookSubPath.size() - kPhonebookFileName.size();
  for (size_t at = phonebook_path_.find(L'\\', sub_path + 1); at != std::wstring::npos;
       at = phonebook_path_.find(L'\\', at + 1)) {
    ::CreateDirectoryW(phonebook_path_.substr(0, at).c_str(), nullptr);
  }

  RasEntryBuffer buffer{};
  RASENTRYW& entry = buffer.entry;
  const DWORD size = RasSizesFor(*os_class_, sizeof(void*)).entry;
  entry.dwSize = size;
  // All traffic goes through the tunnel.
  entry.dwfOptions = RASEO_RemoteDefaultGateway;
  entry.dwfNetProtocols = RASNP_Ip | RASNP_Ipv6;
  CopyField(entry.szDeviceType, u"vpn");
  entry.dwType = RASET_Vpn;
  entry.dwEncryptionType = ET_Require;
  entry.dwVpnStrategy = VS_PptpOnly;

  const std::wstring name = ToWide(kPptpEntryName);
  RasApi& ras = EngineRas();
  (void)ras.DeleteEntry(phonebook_path_.c_str(), name.c_str());
  if (ras.SetEntryProperties(phonebook_path_.c_str(), name.c_str(), &entry, size, nullptr, 0) != 0) {
    ShowEngineWarning(nullptr, config::kConnectionErrorMessage);
  }
}

void PPTP::Configure() {
  const std::optional<std::u16string> parameters =
      phonebook_path_.empty() ? std::nullopt : PropertiesParameters(ToU16(phonebook_path_), kPptpEntryName);
  if (!parameters) {
    ShowEngineWarning(main_window_, kLongPropertiesMessage);
    return;
  }
  common::LaunchRequest request;
  request.program = L"rasphone.exe";
  request.parameters = ToWide(*parameters);
  request.show = SW_SHOWNORMAL;
  request.verb = L"open";
  request.owner = main_window_;
  // Nothing is reported back: rasphone shows its own errors.
  (void)common::LaunchProgram(request);
}

void PPTP::Attach(app::ConnectionController* controller, WindowHandle main_window) {
  controller_ = controller;
  main_window_ = static_cast<HWND>(main_window);
}

EngineState PPTP::GetState() { return state_.load(); }

int PPTP::ConnectTunnel(std::u16string_view server, std::u16string_view vpn_id,
                        std::u16string_view activation_code) {
  if (!os_class_) {
    ShowEngineWarning(main_window_, kOldWindowsMessage);
    return ERROR_NOT_SUPPORTED;
  }
  if (phonebook_path_.empty()) {
    ShowEngineWarning(main_window_, kLongPhonebookPathMessage);
    return ERROR_CANNOT_OPEN_PHONEBOOK;
  }
  // RAS would dial a cut name; say what does not fit instead.
  if (const auto problem = DialTextProblem(server, vpn_id, activation_code)) {
    ShowEngineWarning(main_window_, *problem);
    return ERROR_INVALID_PARAMETER;
  }
  // A connection that RAS reported as ended still holds its handle.
  DisconnectTunnel();

  RASDIALPARAMSW parameters{};
  parameters.dwSize = RasSizesFor(*os_class_, sizeof(void*)).dial_params;
  CopyField(parameters.szEntryName, kPptpEntryName);
  CopyField(parameters.szPhoneNumber, server);
  CopyField(parameters.szUserName, vpn_id);
  CopyField(parameters.szPassword, activation_code);
  HRASCONN connection = nullptr;
  const DWORD result =
      EngineRas().Dial(nullptr, phonebook_path_.c_str(), &parameters, kWindowNotifier, main_window_, &connection);
  ::SecureZeroMemory(parameters.szPassword, sizeof parameters.szPassword);
  connection_ = connection;
  if (result == 0) {
    // Connected until RAS's first report says otherwise.
    state_ = ENGINE_CONNECTED;
    return 0;
  }
  DisconnectTunnel();
  return static_cast<int>(result);
}

int PPTP::OnEvent(uint32_t w_param, int32_t l_param) {
  const RasEventOutcome outcome = OutcomeOfRasEvent(w_param, l_param);
  if (outcome.failed) {
    // What the controller's Disconnect does, then the message.
    if (options_.proxy_saved && options_.proxy_saved() && options_.restore_system_proxy) {
      options_.restore_system_proxy();
    }
    DisconnectTunnel();
    ReportState();
    ShowEngineWarning(main_window_, config::kConnectionErrorMessage);
    return outcome.result;
  }
  if (outcome.state) {
    state_ = *outcome.state;
    ReportState();
  }
  return outcome.result;
}

void PPTP::UpdateStatistics() {
  RAS_STATS statistics{};
  statistics.dwSize = sizeof statistics;
  const bool queried =
      state_ == ENGINE_CONNECTED && EngineRas().GetConnectionStatistics(connection_, &statistics) == 0;
  const StatisticsTexts texts =
      PptpStatisticsTexts(state_.load(), queried, statistics.dwBytesRcved, statistics.dwBytesXmited);
  if (main_window_ == nullptr) return;
  ::SetDlgItemTextW(main_window_, IDC_BYTES_RECEIVED, ToWide(texts.received).c_str());
  ::SetDlgItemTextW(main_window_, IDC_BYTES_SENT, ToWide(texts.sent).c_str());
}

void PPTP::DisconnectTunnel() {
  state_ = ENGINE_DISCONNECTED;
  // Nothing was dialled, or it is released already.
  if (connection_ == nullptr) return;
  const HRASCONN connection = connection_;
  RasApi& ras = EngineRas();
  DWORD result = ras.HangUp(connection);
  if (result != 0 && result != ERROR_INVALID_HANDLE) {
    ::Sleep(kHangUpRetryPauseMs);
    result = ras.HangUp(connection);
  }
  if (result != ERROR_INVALID_HANDLE) WaitUntilReleased(connection);
  connection_ = nullptr;
}

void PPTP::WaitUntilReleased(HRASCONN connection) {
  // RAS ends the connection in the background; the handle is gone once its
  // status can no longer be read. Bounded, so a RAS that never lets go
  // cannot hold the window thread.
  for (int poll = 0; poll < kReleasePolls; ++poll) {
    RASCONNSTATUSW status{};
    status.dwSize = sizeof status;
    if (EngineRas().GetConnectStatus(connection, &status) == ERROR_INVALID_HANDLE) return;
    ::Sleep(kReleasePollMs);
  }
}

void PPTP::PeriodicCheck() {}

void PPTP::ReportState() {
  if (options_.on_state_changed) options_.on_state_changed(state_.load());
}

}  // namespace veltrona::engines
