// The OpenVPN engine: asks the service to start openvpn.exe, then holds
// OpenVPN's management dialogue over a loopback socket whose events arrive
// as WM_VPN_SOCKET messages of the main window. The dialogue itself is
// ManagementDialogue; this class does the socket, window and service work.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/unique_handle_win.h"
#include "client/engines/management_dialogue.h"
#include "client/engines/pptp_win.h"
#include "client/engines/vpn_interface.h"
#include "client/resources/resource.h"
#include "ipc/management_port_win.h"
#include "ipc/senders_win.h"

namespace veltrona::engines {

// Where the login-failed dialog's link leads: the account page of the
// billing host of this deployment.
std::wstring DefaultAccountPage();


struct OpenVpnOptions {
  // Tests use their own names so that they never meet a running service.
  std::optional<ipc::Endpoints> endpoints;
  std::optional<std::wstring> data_folder;
  uint16_t port = ipc::kManagementPort;
  std::wstring account_page = DefaultAccountPage();
  // Called after each change of state; the main window redraws itself from
  // GetState() here.
  std::function<void(EngineState)> on_state_changed;
  // Who holds the server's end of the management connection whose client
  // end is given. Tests stand in for it: under Wine no socket has an owner.
  std::function<ipc::PortOwner(const ipc::TcpEndpoint& client_end, uint16_t port)> management_peer =
      &ipc::ServerEndOwner;
};

class OpenVPN : public VpnInterface {
 public:
  explicit OpenVPN(OpenVpnOptions options = {});
  ~OpenVPN() override;
  OpenVPN(const OpenVPN&) = delete;
  OpenVPN& operator=(const OpenVPN&) = delete;

  [[nodiscard]] int OnEvent(uint32_t w_param, int32_t l_param) override;
  void UpdateStatistics() override;
  [[nodiscard]] int ConnectTunnel(std::u16string_view server, std::u16string_view vpn_id,
                                  std::u16string_view activation_code) override;
  void DisconnectTunnel() override;
  void Attach(app::ConnectionController* controller, WindowHandle main_window) override;
  EngineState GetState() override;
  void PeriodicCheck() override;

  const std::string& LastStateName() const { return dialogue_.last_state_name(); }

  // Shows dialog 146, owned by the main window.
  void LoginFailedDialog();

 private:
  static void CALLBACK OnRetryTimer(HWND window, UINT message, UINT_PTR id, DWORD time);

  // Makes a socket, puts it into asynchronous mode and starts connecting.
  [[nodiscard]] bool OpenSocket();
  void StartConnect();
  void ScheduleRetry(uint32_t milliseconds);
  void CancelRetry();
  void CloseSocket();
  // FD_CONNECT without an error: the peer is checked before anything is
  // read from it or sent to it.
  void OnConnected();
  [[nodiscard]] bool PeerIsInstalledOpenVpn();
  void OnReadable();
  void OnClosed();
  // Carries out what the dialogue decided, then sends what is pending.
  void Run();
  void SendPending();
  void SetControlText(int id, const std::u16string& text);

  OpenVpnOptions options_;
  // Started before the socket and ended after it.
  ScopedWinsock winsock_;
  sockaddr_in address_{};
  UniqueSocket socket_;
  HWND main_window_ = nullptr;
  app::ConnectionController* controller_ = nullptr;
  bool retry_pending_ = false;
  // The installed OpenVPN holds the other end of the current socket.
  bool peer_trusted_ = false;
  ManagementDialogue dialogue_;
};

// The engine for this run: PPTP for a "pptp" command line, OpenVPN otherwise.
std::unique_ptr<VpnInterface> CreateEngine(bool use_pptp, OpenVpnOptions options = {},
                                           PptpOptions pptp_options = {});

}  // namespace veltrona::engines
