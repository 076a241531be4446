// What the main window shows for each engine state, and the small decisions
// around the user's commands, without touching a window. The Windows side
// reads the controls, asks here, and applies the answer.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "client/engines/engine_state.h"

namespace veltrona::app {

inline constexpr std::u16string_view kStatusDisconnected = u"disconnected";
inline constexpr std::u16string_view kStatusConnecting = u"connecting";
inline constexpr std::u16string_view kStatusConnected = u"connected";
inline constexpr std::u16string_view kConnectText = u"Connect";
inline constexpr std::u16string_view kDisconnectText = u"Disconnect";
inline constexpr std::u16string_view kTrayTipStart = u"Veltrona VPN Free Trial VPN (Disconnected)";
inline constexpr std::u16string_view kTrayTipDisconnected = u"Veltrona VPN (Disconnected)";
inline constexpr std::u16string_view kTrayTipConnected = u"Veltrona VPN";

inline constexpr std::u16string_view kMissingVpnIdText = u"Please input VPN ID.";
inline constexpr std::u16string_view kMissingActivationCodeText = u"Please input Activation Code.";
inline constexpr std::u16string_view kMissingServerText = u"Please select server.";

struct TrayLook {
  int icon_id = 0;
  std::u16string_view tip;
};

struct ConnectionUiPlan {
  // False for a state the window has no look for: nothing changes.
  bool applies = false;
  std::optional<std::u16string_view> button_text;
  // Control ids with whether each is to be enabled, in the order to apply.
  std::vector<std::pair<int, bool>> enable;
  std::u16string_view status;
  std::optional<TrayLook> tray;
  // Connected: remember the credentials and send the window to the tray.
  bool save_credentials_and_hide = false;
};

// `preserve_ip_checked` is the state of the "Preserve IP address" box.
ConnectionUiPlan PlanConnectionUi(engines::EngineState state, bool preserve_ip_checked);

// The warning for the first empty field of a connect request, in the order
// the user fills them; nullopt when all three are filled.
[[nodiscard]]
std::optional<std::u16string_view> ConnectFieldWarning(std::u16string_view vpn_id, std::u16string_view activation_code,
                                                       std::u16string_view server);

enum class ConnectButtonAction { kNothing, kConnect, kDisconnect };
// What Connect (the button or the tray item) does in `state`, fields filled.
ConnectButtonAction ActionForConnectButton(engines::EngineState state);

struct TrayMenuItem {
  // Unset: the menu resource's own text stays.
  std::optional<std::u16string_view> text;
  bool enabled = true;
};
TrayMenuItem TrayConnectItem(engines::EngineState state);

// A start from the system's start-up list: the whole ANSI command line is
// exactly "/systemstartup", compared with case.
[[nodiscard]] bool IsSystemStartupCommandLine(std::string_view ansi_command_line);

// The product site's Pixelguard page, always over TLS.
std::u16string PixelguardPageAddress(std::u16string_view web_site);

}  // namespace veltrona::app
