// The one object between the main window and the VPN engine: it owns the
// engine and the server map, remembers the server of the current connection,
// and holds the user's proxy settings while Pixelguard replaces them.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "client/app/proxy_switch.h"
#include "client/app/system_proxy_win.h"
#include "client/config/deployment.h"
#include "client/config/server_list.h"
#include "client/engines/vpn_interface.h"

namespace veltrona::app {

class ConnectionController {
 public:
  explicit ConnectionController(bool use_pptp);
  ~ConnectionController();
  ConnectionController(const ConnectionController&) = delete;
  ConnectionController& operator=(const ConnectionController&) = delete;

  // 0: the engine has started to connect; 1: it could not be started (the
  // configuration could not be written or the engine refused).
  [[nodiscard]] int Connect(std::wstring_view server, std::wstring_view vpn_id, std::wstring_view activation_code);
  void Disconnect();
  void OnPixelguardToggled(bool checked);

  // The server's Pixelguard proxy address; a host not in the map is added
  // with an empty one.
  std::wstring LookUpServer(std::wstring_view host);
  void ApplyPixelguardProxy(std::wstring_view host);
  void RestoreSystemProxy();
  // At start-up: puts back settings a run that died left replaced, then
  // switches off a proxy that still points at a listed server.
  void RecoverProxy();
  void ClearStaleProxy();
  bool proxy_saved() const { return proxy_.saved(); }

  config::ServerMap& servers() { return servers_; }
  const std::wstring& selected_server() const { return selected_server_; }
  const std::wstring& selected_proxy() const { return selected_proxy_; }
  const config::HostAddress& config_host() const { return config_host_; }
  void SetOwnerWindow(HWND window) { owner_window_ = window; }
  engines::VpnInterface& engine() { return *engine_; }

  // Called by the engine after each change of its state.
  void SetStateListener(std::function<void(engines::EngineState)> listener) { state_listener_ = std::move(listener); }

 private:
  RegistrySystemProxyStore proxy_store_;
  ProxySwitch proxy_;
  config::ServerMap servers_;
  std::wstring selected_server_;
  std::wstring selected_proxy_;
  HWND owner_window_ = nullptr;
  config::HostAddress config_host_;
  std::wstring data_folder_;
  std::function<void(engines::EngineState)> state_listener_;
  std::unique_ptr<engines::VpnInterface> engine_;
};

}  // namespace veltrona::app
