#include "client/app/connection_controller_win.h"

#include "base/known_folders_win.h"
#include "base/wide_text.h"
#include "client/config/http_client_win.h"
#include "client/config/key_archive_win.h"
#include "client/engines/openvpn_win.h"

namespace veltrona::app {

ConnectionController::ConnectionController(bool use_pptp)
    : proxy_(proxy_store_),
      config_host_(config::ReadDeploymentValues().config_host),
      data_folder_(ClientDataFolder().value_or(std::wstring())) {
  engines::OpenVpnOptions engine_options;
  engine_options.on_state_changed = [this](engines::EngineState state) {
    if (state_listener_) state_listener_(state);
  };
  engines::PptpOptions pptp_options;
  pptp_options.on_state_changed = engine_options.on_state_changed;
  pptp_options.proxy_saved = [this] { return proxy_.saved(); };
  pptp_options.restore_system_proxy = [this] { RestoreSystemProxy(); };
  engine_ = engines::CreateEngine(use_pptp, std::move(engine_options), std::move(pptp_options));
}

ConnectionController::~ConnectionController() {
  engine_.reset();
  selected_proxy_.clear();
  selected_server_.clear();
  if (proxy_.saved()) RestoreSystemProxy();
}

int ConnectionController::Connect(std::wstring_view server, std::wstring_view vpn_id,
                                  std::wstring_view activation_code) {
  selected_server_ = server;
  selected_proxy_ = LookUpServer(selected_server_);
  if (!config::WriteOpenVpnConfig(config_host_, data_folder_, selected_server_, selected_proxy_, owner_window_)) {
    return 1;
  }
  if (engine_->ConnectTunnel(ToU16(server), ToU16(vpn_id), ToU16(activation_code)) != 0) return 1;
  ApplyPixelguardProxy(selected_server_);
  return 0;
}

void ConnectionController::Disconnect() {
  if (proxy_.saved()) RestoreSystemProxy();
  engine_->DisconnectTunnel();
}

void ConnectionController::OnPixelguardToggled(bool checked) {
  if (engine_->GetState() != engines::ENGINE_CONNECTED) return;
  if (checked) {
    ApplyPixelguardProxy(selected_server_);
  } else if (proxy_.saved()) {
    RestoreSystemProxy();
  }
}

std::wstring ConnectionController::LookUpServer(std::wstring_view host) {
  return ToWide(servers_[ToU16(host)]);
}

void ConnectionController::ApplyPixelguardProxy(std::wstring_view host) {
  if (proxy_.saved()) return;
  proxy_.Apply(ToU16(LookUpServer(host)));
}

void ConnectionController::RestoreSystemProxy() { proxy_.Restore(); }

void ConnectionController::RecoverProxy() { (void)proxy_.RecoverLeftCopy(); }

void ConnectionController::ClearStaleProxy() { proxy_.ClearStale(servers_); }

}  // namespace veltrona::app
