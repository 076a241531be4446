#include "client/engines/openvpn_win.h"

#include <commctrl.h>

#include <utility>
#include <vector>

#include "base/wide_text.h"
#include "client/common/user_messages_win.h"
#include "client/config/deployment.h"
#include "client/config/http_client_win.h"
#include "client/config/settings_store_win.h"
#include "client/engines/management_text.h"

namespace veltrona::engines {
namespace {

constexpr long kSocketEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;  // 0x33
static_assert(kSocketEvents == 0x33);
// The retry timer finds its engine through this property of the main window.
constexpr wchar_t kEngineProperty[] = L"VeltronaOpenVpnEngine";
constexpr DWORD kServiceStartPauseMs = 100;
constexpr int kReceiveChunk = 4096;

uint64_t NowMs() { return ::GetTickCount64(); }

// The ANSI code page's bytes of `text`; the buffer is sized by the
// conversion itself, so double-byte code pages lose nothing.
std::string ToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  const std::wstring wide = ToWide(text);
  const int size = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                         nullptr);
  if (size <= 0) return {};
  std::string result(static_cast<size_t>(size), '\0');
  const int written = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), result.data(),
                                            size, nullptr, nullptr);
  result.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return result;
}

// "<Install Path>openvpn.exe", the program the service starts; empty
// without an installation.
std::wstring InstalledOpenVpnProgram() {
  std::wstring folder;
  if (!config::ReadStringSetting(config::SettingId::kInstallPath, folder) || folder.empty()) return {};
  std::wstring program = folder + L"openvpn.exe";
  return program.size() < MAX_PATH ? program : std::wstring();
}

UINT IconStyle(MessageIcon icon) { return icon == MessageIcon::kError ? MB_ICONERROR : MB_ICONWARNING; }

INT_PTR CALLBACK LoginFailedProcedure(HWND dialog, UINT message, WPARAM w_param, LPARAM l_param) {
  switch (message) {
    case WM_INITDIALOG:
      ::SetWindowLongPtrW(dialog, DWLP_USER, l_param);
      return TRUE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(l_param);
      if (header == nullptr || header->idFrom != IDC_LOGIN_FAILED_LINK || header->code != NM_CLICK) return FALSE;
      if (const auto* page = reinterpret_cast<const std::wstring*>(::GetWindowLongPtrW(dialog, DWLP_USER))) {
        // A page that does not open leaves nothing to undo; the dialog closes either way.
        (void)common::OpenWebPage(*page);
      }
      ::EndDialog(dialog, 1);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(w_param) == IDOK || LOWORD(w_param) == IDCANCEL) {
        ::EndDialog(dialog, LOWORD(w_param));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

std::wstring DefaultAccountPage() {
  return ToWide(config::AccountPageAddress(config::ReadDeploymentValues().billing_host));
}

OpenVPN::OpenVPN(OpenVpnOptions options) : options_(std::move(options)) {
  address_.sin_family = AF_INET;
  address_.sin_port = ::htons(options_.port);
  address_.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
}

OpenVPN::~OpenVPN() {
  CloseSocket();
  dialogue_.Disconnect();
  dialogue_.TakeActions();  // nobody is left to show them to
  options_.endpoints ? ipc::SignalOpenVpnExit(*options_.endpoints) : ipc::SignalOpenVpnExit();
  if (main_window_ != nullptr) ::RemovePropW(main_window_, kEngineProperty);
}

void OpenVPN::Attach(app::ConnectionController* controller, WindowHandle main_window) {
  if (main_window_ != nullptr) ::RemovePropW(main_window_, kEngineProperty);
  controller_ = controller;
  main_window_ = static_cast<HWND>(main_window);
  if (main_window_ != nullptr) ::SetPropW(main_window_, kEngineProperty, this);
}

EngineState OpenVPN::GetState() { return dialogue_.state(); }

int OpenVPN::ConnectTunnel(std::u16string_view /*server*/, std::u16string_view vpn_id,
                           std::u16string_view activation_code) {
  // The server is already in the configuration file OpenVPN reads.
  CloseSocket();
  if (!OpenSocket()) return 1;
  dialogue_.Start(ToAnsi(vpn_id), ToAnsi(activation_code));
  Run();

  const ipc::StartRequest request =
      options_.endpoints ? ipc::RequestServiceStart(*options_.endpoints,
                                                    options_.data_folder.value_or(std::wstring()))
                         : ipc::RequestServiceStart();
  if (request != ipc::StartRequest::kRequested) {
    // Without the open event the service never starts OpenVPN, so nothing
    // will ever listen: say so now rather than after the connection window.
    dialogue_.OnServiceUnavailable();
    Run();
    return 0;
  }
  ::Sleep(kServiceStartPauseMs);
  StartConnect();
  return 0;
}

void OpenVPN::DisconnectTunnel() {
  CloseSocket();
  dialogue_.Disconnect();
  options_.endpoints ? ipc::SignalOpenVpnExit(*options_.endpoints) : ipc::SignalOpenVpnExit();
  Run();
}

int OpenVPN::OnEvent(uint32_t w_param, int32_t l_param) {
  // Messages of a socket closed meanwhile may still be queued.
  if (!socket_ || static_cast<SOCKET>(w_param) != socket_.Get()) return 1;
  const WORD event = WSAGETSELECTEVENT(static_cast<LPARAM>(l_param));
  const WORD error = WSAGETSELECTERROR(static_cast<LPARAM>(l_param));
  switch (event) {
    case FD_READ:
      if (peer_trusted_) OnReadable();
      break;
    case FD_WRITE:
      SendPending();
      break;
    case FD_CONNECT:
      if (error == 0) {
        OnConnected();
      } else {
        dialogue_.OnConnectResult(error, NowMs());
        Run();
      }
      break;
    case FD_CLOSE:
      OnClosed();
      break;
    default:
      break;
  }
  return 1;
}

void OpenVPN::UpdateStatistics() {
  dialogue_.OnStatisticsTimer();
  Run();
}

void OpenVPN::PeriodicCheck() {
  // A request the service did not take is made again at the next check.
  if (options_.endpoints) {
    (void)ipc::RequestRouteCheck(*options_.endpoints);
  } else {
    (void)ipc::RequestRouteCheck();
  }
}

void OpenVPN::LoginFailedDialog() {
  common::DialogRequest request;
  request.instance = ::GetModuleHandleW(nullptr);
  request.template_id = IDD_LOGIN_FAILED;
  request.owner = main_window_;
  request.procedure = LoginFailedProcedure;
  request.parameter = reinterpret_cast<LPARAM>(&options_.account_page);
  common::ShowModalDialog(request);
}

bool OpenVPN::OpenSocket() {
  socket_.Reset(::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0));
  if (!socket_) return false;
  if (::WSAAsyncSelect(socket_.Get(), main_window_, WM_VPN_SOCKET, kSocketEvents) != 0) {
    CloseSocket();
    return false;
  }
  return true;
}

void OpenVPN::StartConnect() {
  if (!socket_) return;
  dialogue_.OnConnectAttempt(NowMs());
  if (::connect(socket_.Get(), reinterpret_cast<const sockaddr*>(&address_), sizeof address_) == 0) return;
  const int error = ::WSAGetLastError();
  // The outcome comes as FD_CONNECT; anything else failed already.
  if (error == WSAEWOULDBLOCK) return;
  dialogue_.OnConnectResult(error, NowMs());
  Run();
}

void OpenVPN::ScheduleRetry(uint32_t milliseconds) {
  if (main_window_ != nullptr && milliseconds != 0 &&
      ::SetTimer(main_window_, common::kTimerConnectRetry, milliseconds, &OpenVPN::OnRetryTimer) != 0) {
    retry_pending_ = true;
    return;
  }
  if (milliseconds != 0) ::Sleep(milliseconds);
  // A failed socket may not be connected again everywhere; a fresh one may.
  CloseSocket();
  if (!OpenSocket()) {
    dialogue_.OnConnectResult(WSAENOTSOCK, NowMs());
    return Run();
  }
  StartConnect();
}

void CALLBACK OpenVPN::OnRetryTimer(HWND window, UINT /*message*/, UINT_PTR id, DWORD /*time*/) {
  ::KillTimer(window, id);
  auto* engine = static_cast<OpenVPN*>(::GetPropW(window, kEngineProperty));
  if (engine == nullptr || !engine->retry_pending_) return;
  engine->retry_pending_ = false;
  engine->ScheduleRetry(0);
}

void OpenVPN::CancelRetry() {
  if (!retry_pending_) return;
  retry_pending_ = false;
  if (main_window_ != nullptr) ::KillTimer(main_window_, common::kTimerConnectRetry);
}

void OpenVPN::CloseSocket() {
  CancelRetry();
  peer_trusted_ = false;
  socket_.Reset();
}

void OpenVPN::OnConnected() {
  // The port is fixed and has no password: a program that listened on it
  // before OpenVPN would be handed the VPN ID and activation code.
  if (!PeerIsInstalledOpenVpn()) {
    dialogue_.OnForeignListener();
    return Run();
  }
  peer_trusted_ = true;
  // Winsock posts no further FD_READ until recv() is called, so take what an
  // FD_READ before the check announced.
  OnReadable();
  SendPending();
}

bool OpenVPN::PeerIsInstalledOpenVpn() {
  sockaddr_in local{};
  int size = sizeof local;
  if (!options_.management_peer ||
      ::getsockname(socket_.Get(), reinterpret_cast<sockaddr*>(&local), &size) != 0 || local.sin_family != AF_INET) {
    return false;
  }
  const ipc::TcpEndpoint client_end{::ntohl(local.sin_addr.s_addr), ::ntohs(local.sin_port)};
  return ipc::TrustManagementPeer(options_.management_peer(client_end, options_.port),
                                  ToU16(InstalledOpenVpnProgram()), ipc::RunningUnderWine());
}

void OpenVPN::OnReadable() {
  char buffer[kReceiveChunk];
  const int received = ::recv(socket_.Get(), buffer, sizeof buffer, 0);
  // Winsock posts FD_READ again while more is waiting.
  if (received <= 0) return;
  dialogue_.OnReceived(std::string_view(buffer, static_cast<size_t>(received)));
  Run();
}

void OpenVPN::OnClosed() {
  // What OpenVPN said last (a rejected login, EXITING) decides what the
  // user is told, so take it before the close.
  char buffer[kReceiveChunk];
  // Nothing of a peer that was never trusted is read.
  for (;;) {
    if (!socket_) return;
    if (!peer_trusted_) break;
    const int received = ::recv(socket_.Get(), buffer, sizeof buffer, 0);
    if (received <= 0) break;
    dialogue_.OnReceived(std::string_view(buffer, static_cast<size_t>(received)));
    Run();
  }
  if (!socket_) return;
  dialogue_.OnClosed();
  Run();
}

void OpenVPN::Run() {
  // Take them all first: a message box below runs a message loop that may
  // bring more work for the dialogue.
  const std::vector<Action> actions = dialogue_.TakeActions();
  for (const Action& action : actions) {
    switch (action.kind) {
      case ActionKind::kReportState:
        if (options_.on_state_changed) options_.on_state_changed(action.state);
        break;
      case ActionKind::kShowStatus:
        SetControlText(IDC_STATUS, action.text);
        break;
      case ActionKind::kShowStatistics:
        SetControlText(IDC_BYTES_SENT, ByteCountText(action.sent));
        SetControlText(IDC_BYTES_RECEIVED, ByteCountText(action.received));
        break;
      case ActionKind::kCloseConnection:
        CloseSocket();
        options_.endpoints ? ipc::SignalOpenVpnExit(*options_.endpoints) : ipc::SignalOpenVpnExit();
        break;
      case ActionKind::kShowMessage:
        common::ShowUserMessage(main_window_, ToWide(action.text), ToWide(action.caption), IconStyle(action.icon));
        break;
      case ActionKind::kShowLoginFailedDialog:
        LoginFailedDialog();
        break;
      case ActionKind::kPause:
        ::Sleep(action.milliseconds);
        break;
      case ActionKind::kRetryConnect:
        ScheduleRetry(action.milliseconds);
        break;
    }
  }
  SendPending();
}

void OpenVPN::SendPending() {
  for (;;) {
    if (!socket_ || !peer_trusted_) return;
    const std::string_view pending = dialogue_.PendingOutput();
    if (pending.empty()) return;
    const int sent = ::send(socket_.Get(), pending.data(), static_cast<int>(pending.size()), 0);
    // Would block or failed: FD_WRITE brings the next try.
    if (sent <= 0) return;
    dialogue_.OnSent(static_cast<size_t>(sent));
  }
}

void OpenVPN::SetControlText(int id, const std::u16string& text) {
  if (main_window_ == nullptr) return;
  ::SetDlgItemTextW(main_window_, id, ToWide(text).c_str());
}

std::unique_ptr<VpnInterface> CreateEngine(bool use_pptp, OpenVpnOptions options, PptpOptions pptp_options) {
  if (use_pptp) return std::make_unique<PPTP>(std::move(pptp_options));
  return std::make_unique<OpenVPN>(std::move(options));
}

}  // namespace veltrona::engines
