#include "client/app/connection_controller_win.h"

#include "base/known_folders_win.h"
#include "base/wide_text.h"
#include "client/app/system_proxy_win.h"
#include "client/config/http_client_win.h"
#include "client/config/key_archive_win.h"

namespace veltrona::app {
namespace {

config::HostAddress DeploymentConfigHost() {
  // The deployment's values, overrides included.
  return config::ReadDeploymentValues().config_host;
}

}  // namespace

ConnectionController::ConnectionController(bool use_pptp, ControllerOptions options)
    : proxy_store_(options.proxy_store ? std::move(options.proxy_store)
                                       : std::make_unique<RegistrySystemProxyStore>()),
      proxy_(*proxy_store_),
      config_host_(options.config_host ? *options.config_host : DeploymentConfigHost()),
      data_folder_(options.data_folder ? *options.data_folder : ClientDataFolder().value_or(std::wstring())) {
  engines::OpenVpnOptions engine_options = std::move(options.engine);
  if (!engine_options.data_folder && options.data_folder) engine_options.data_folder = options.data_folder;
  std::function<void(engines::EngineState)> chained = std::move(engine_options.on_state_changed);
  engine_options.on_state_changed = [this, chained](engines::EngineState state) {
    if (chained) chained(state);
    if (state_listener_) state_listener_(state);
  };
  engine_ = engines::CreateEngine(use_pptp, std::move(engine_options));
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
