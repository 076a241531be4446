// Stands in for the tray client in the demo, with the client's own code
// behind a hidden window that has the main window's controls:
//   demo_client <vpn id> <activation code>
// loads the server list from the configuration host of this deployment
// ("Config Host" under the machine's VeltronaVPN key), writes the OpenVPN
// configuration and keys for the selected server into the data folder,
// connects through the OpenVPN engine and the service, shows the status and
// byte counts as the window would, and disconnects. Message boxes are
// printed instead of shown.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "base/known_folders_win.h"
#include "base/unique_handle_win.h"
#include "base/wide_text.h"
#include "client/common/user_messages_win.h"
#include "client/config/http_client_win.h"
#include "client/config/key_archive_win.h"
#include "client/config/server_list_win.h"
#include "client/engines/openvpn_win.h"
#include "ipc/protocol.h"
#include "client/resources/resource.h"

namespace {

using namespace veltrona;

constexpr UINT_PTR kTimerStatistics = 34521;
constexpr wchar_t kClassName[] = L"VeltronaDemoClient";

engines::OpenVPN* g_engine = nullptr;

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  if (g_engine != nullptr && message == engines::WM_VPN_SOCKET) {
    g_engine->OnEvent(static_cast<uint32_t>(w_param), static_cast<int32_t>(l_param));
    return TRUE;
  }
  if (g_engine != nullptr && message == WM_TIMER && w_param == kTimerStatistics) {
    g_engine->UpdateStatistics();
    return 0;
  }
  return ::DefWindowProcW(window, message, w_param, l_param);
}

HWND MakeWindow() {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = &Procedure;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = kClassName;
  ::RegisterClassW(&window_class);
  const HWND window = ::CreateWindowExW(0, kClassName, L"Veltrona VPN Free Trial 3.2", WS_OVERLAPPED, 0, 0, 300,
                                        300, nullptr, nullptr, window_class.hInstance, nullptr);
  auto child = [&](const wchar_t* type, DWORD style, int id, const wchar_t* text) {
    ::CreateWindowExW(0, type, text, WS_CHILD | style, 0, 0, 200, 100, window,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), window_class.hInstance, nullptr);
  };
  child(L"COMBOBOX", CBS_DROPDOWNLIST | CBS_SORT, IDC_SERVER, L"");
  child(L"BUTTON", BS_AUTOCHECKBOX, IDC_PIXELGUARD, L"Pixelguard");
  child(L"STATIC", 0, IDC_BYTES_RECEIVED, L"0 bytes");
  child(L"STATIC", 0, IDC_BYTES_SENT, L"0 bytes");
  child(L"STATIC", 0, IDC_STATUS, L"disconnected");
  return window;
}

std::wstring ControlText(HWND window, int id) {
  wchar_t text[260] = {};
  ::GetDlgItemTextW(window, id, text, 260);
  return text;
}

// Runs the window's messages for `milliseconds`, printing each new status.
void Pump(HWND window, DWORD milliseconds, std::wstring& last_status, bool (*done)() = nullptr) {
  const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
  while (::GetTickCount64() < deadline) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    const std::wstring status = ControlText(window, IDC_STATUS);
    if (status != last_status) {
      std::printf("  status: %ls\n", status.c_str());
      last_status = status;
    }
    if (done != nullptr && done()) return;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
}

int Run(const std::wstring& vpn_id, const std::wstring& activation_code) {
  common::SetMessagePresenter([](const common::MessageRequest& request) {
    std::printf("  [message box \"%ls\"] %ls\n", request.caption.c_str(), request.text.c_str());
    return IDOK;
  });
  common::SetDialogPresenter([](const common::DialogRequest& request) {
    std::printf("  [dialog %d]\n", request.template_id);
    return static_cast<INT_PTR>(IDOK);
  });
  const HWND window = MakeWindow();
  const config::DeploymentValues deployment = config::ReadDeploymentValues();
  std::printf("configuration host: %ls:%u\n", ToWide(deployment.config_host.host).c_str(),
              deployment.config_host.port);

  config::UpdateCheck update;
  const bool newer = config::CheckForUpdate(deployment.config_host, update);
  std::printf("update check: version %ls announced, %s\n", ToWide(update.version).c_str(),
              newer ? "newer than this client" : "nothing newer");

  config::ServerMap servers;
  config::LoadServerList(window, deployment.config_host, servers);
  const HWND box = ::GetDlgItem(window, IDC_SERVER);
  const LRESULT count = ::SendMessageW(box, CB_GETCOUNT, 0, 0);
  const LRESULT selected = ::SendMessageW(box, CB_GETCURSEL, 0, 0);
  std::wstring server;
  std::printf("server list:\n");
  for (LRESULT index = 0; index < count; ++index) {
    wchar_t text[260] = {};
    ::SendMessageW(box, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    std::printf("  %ls%s\n", text, index == selected ? "   (selected)" : "");
    if (index == selected) server = text;
  }
  if (server.empty()) return 1;

  const auto folder = ClientDataFolder();
  if (!folder) return 1;
  ::CreateDirectoryW(folder->c_str(), nullptr);
  const bool written = config::WriteOpenVpnConfig(deployment.config_host, *folder, server, L"", window);
  std::printf("OpenVPN configuration for %ls: %s\n", server.c_str(), written ? "written" : "not written");
  if (!written) return 1;

  // A running client holds this for its whole life; the service watches it.
  UniqueMutex client(::CreateMutexW(nullptr, TRUE, ToWide(ipc::kClientMutexName).c_str()));
  engines::OpenVPN engine;
  g_engine = &engine;
  engine.Attach(nullptr, window);
  ::SetTimer(window, kTimerStatistics, 1000, nullptr);
  std::printf("connecting as %ls:\n", vpn_id.c_str());
  std::wstring status = ControlText(window, IDC_STATUS);
  static engines::OpenVPN* watched = nullptr;
  watched = &engine;
  const ULONGLONG started = ::GetTickCount64();
  if (engine.ConnectTunnel(ToU16(server), ToU16(vpn_id), ToU16(activation_code)) != 0) return 1;
  Pump(window, 20000, status, [] { return watched->GetState() != engines::ENGINE_CONNECTING; });
  const bool connected = engine.GetState() == engines::ENGINE_CONNECTED;
  std::printf("engine state %d (%s) after %llu ms\n", engine.GetState(), engine.LastStateName().c_str(),
              ::GetTickCount64() - started);
  if (connected) {
    Pump(window, 2500, status);
    std::printf("  received: %ls, sent: %ls\n", ControlText(window, IDC_BYTES_RECEIVED).c_str(),
                ControlText(window, IDC_BYTES_SENT).c_str());
    engine.PeriodicCheck();
    std::printf("disconnecting\n");
    engine.DisconnectTunnel();
    Pump(window, 1500, status);
  }
  ::KillTimer(window, kTimerStatistics);
  g_engine = nullptr;
  ::ReleaseMutex(client.Get());
  ::DestroyWindow(window);
  return connected ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: demo_client <vpn id> <activation code>\n");
    return 2;
  }
  return Run(argv[1], argv[2]);
}
