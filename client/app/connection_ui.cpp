#include "client/app/connection_ui.h"

#include "client/resources/resource.h"

namespace veltrona::app {

using engines::ENGINE_CONNECTED;
using engines::ENGINE_CONNECTING;
using engines::ENGINE_DISCONNECTED;

ConnectionUiPlan PlanConnectionUi(engines::EngineState state, bool preserve_ip_checked) {
  ConnectionUiPlan plan;
  switch (state) {
    case ENGINE_DISCONNECTED:
      plan.applies = true;
      plan.button_text = kConnectText;
      plan.enable = {{IDC_CONNECT, true}, {IDC_VPN_ID, true}, {IDC_ACTIVATION_CODE, true}};
      // A preserved address keeps the server and its Pixelguard filter fixed.
      plan.enable.emplace_back(IDC_SERVER, !preserve_ip_checked);
      plan.enable.emplace_back(IDC_PIXELGUARD, !preserve_ip_checked);
      plan.status = kStatusDisconnected;
      plan.tray = TrayLook{IDI_DISCONNECTED, kTrayTipDisconnected};
      break;
    case ENGINE_CONNECTING:
      plan.applies = true;
      plan.enable = {{IDC_VPN_ID, false}, {IDC_ACTIVATION_CODE, false}, {IDC_SERVER, false}, {IDC_CONNECT, false}};
      plan.status = kStatusConnecting;
      break;
    case ENGINE_CONNECTED:
      plan.applies = true;
      plan.button_text = kDisconnectText;
      plan.enable = {{IDC_VPN_ID, false}, {IDC_ACTIVATION_CODE, false}, {IDC_SERVER, false}, {IDC_CONNECT, true}};
      plan.status = kStatusConnected;
      plan.tray = TrayLook{IDI_VELTRONA, kTrayTipConnected};
      plan.save_credentials_and_hide = true;
      break;
    default:
      break;
  }
  return plan;
}

std::optional<std::u16string_view> ConnectFieldWarning(std::u16string_view vpn_id, std::u16string_view activation_code,
                                                       std::u16string_view server) {
  if (vpn_id.empty()) return kMissingVpnIdText;
  if (activation_code.empty()) return kMissingActivationCodeText;
  if (server.empty()) return kMissingServerText;
  return std::nullopt;
}

ConnectButtonAction ActionForConnectButton(engines::EngineState state) {
  if (state == ENGINE_CONNECTED) return ConnectButtonAction::kDisconnect;
  if (state == ENGINE_DISCONNECTED) return ConnectButtonAction::kConnect;
  return ConnectButtonAction::kNothing;
}

TrayMenuItem TrayConnectItem(engines::EngineState state) {
  switch (state) {
    case ENGINE_DISCONNECTED:
      return {kConnectText, true};
    case ENGINE_CONNECTING:
      return {kConnectText, false};
    case ENGINE_CONNECTED:
      return {kDisconnectText, true};
    default:
      return {std::nullopt, true};
  }
}

bool IsSystemStartupCommandLine(std::string_view ansi_command_line) { return ansi_command_line == "/systemstartup"; }

std::u16string PixelguardPageAddress(std::u16string_view web_site) {
  constexpr std::u16string_view kPlain = u"http://";
  std::u16string address;
  if (web_site.starts_with(kPlain)) {
    address = u"https://";
    address += web_site.substr(kPlain.size());
  } else {
    address = web_site;
  }
  if (!address.ends_with(u'/')) address += u'/';
  address += u"pixelguard.html";
  return address;
}

}  // namespace veltrona::app
