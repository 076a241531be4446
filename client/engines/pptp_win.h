// The PPTP engine: keeps a RAS phonebook of its own with one VPN entry that
// requires PPTP with encryption, dials it with the chosen server as the
// number, and follows RAS's progress reports, which the main window forwards
// to OnEvent. What it decides is in pptp_rules.h; this class does the RAS,
// window and message work.
#pragma once

#include <windows.h>
#include <ras.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "client/engines/ras_api_win.h"
#include "client/engines/vpn_interface.h"

namespace veltrona::engines {

struct PptpOptions {
  // Called after each change of state that the window must show.
  std::function<void(EngineState)> on_state_changed;
  // The controller's saved-proxy flag and restore, for a failed dial.
  std::function<bool()> proxy_saved;
  std::function<void()> restore_system_proxy;
  // Tests give the version the system reports; otherwise it is asked.
  std::optional<std::pair<uint32_t, uint32_t>> version;
};

class PPTP : public VpnInterface {
 public:
  explicit PPTP(PptpOptions options = {});
  PPTP(const PPTP&) = delete;
  PPTP& operator=(const PPTP&) = delete;

  void Prepare() override;
  void Configure() override;
  [[nodiscard]] int OnEvent(uint32_t w_param, int32_t l_param) override;
  void UpdateStatistics() override;
  [[nodiscard]] int ConnectTunnel(std::u16string_view server, std::u16string_view vpn_id,
                                  std::u16string_view activation_code) override;
  void DisconnectTunnel() override;
  void Attach(app::ConnectionController* controller, WindowHandle main_window) override;
  EngineState GetState() override;
  void PeriodicCheck() override;

  // None before XP.
  std::optional<int32_t> os_class() const { return os_class_; }
  const std::wstring& phonebook_path() const { return phonebook_path_; }

 private:
  void ReportState();
  // Waits until RAS has let the connection go, as RAS asks of a hang-up.
  void WaitUntilReleased(HRASCONN connection);

  PptpOptions options_;
  std::optional<int32_t> os_class_;
  HWND main_window_ = nullptr;
  HRASCONN connection_ = nullptr;
  // Empty when the path does not fit.
  std::wstring phonebook_path_;
  // Written on the window thread; the browser watch reads it from COM's.
  std::atomic<EngineState> state_{ENGINE_DISCONNECTED};
  app::ConnectionController* controller_ = nullptr;
};

}  // namespace veltrona::engines
