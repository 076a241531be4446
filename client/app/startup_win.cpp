#include "client/app/startup_win.h"

#include <commctrl.h>

#include <memory>

#include "base/known_folders_win.h"
#include "base/unique_handle_win.h"
#include "base/wide_text.h"
#include "client/app/client_win.h"
#include "client/app/connection_ui.h"
#include "client/app/goofy_button_win.h"
#include "client/app/main_window_win.h"
#include "client/common/user_messages_win.h"
#include "client/common/window_ids.h"
#include "client/config/http_client_win.h"
#include "client/config/server_list_win.h"
#include "client/config/settings_store_win.h"
#include "client/engines/browser_watch_win.h"
#include "client/engines/vpn_interface.h"
#include "client/privacy/history_cleaner_win.h"
#include "client/resources/resource.h"

namespace veltrona::app {
namespace {

void EnsureDataFolder() {
  const std::optional<std::wstring> folder = ClientDataFolder();
  if (!folder) return;
  // A folder that cannot be made shows up later, where its files are written.
  if (::GetFileAttributesW(folder->c_str()) == INVALID_FILE_ATTRIBUTES) ::CreateDirectoryW(folder->c_str(), nullptr);
}

// True when this is the only client. The mutex stays owned until the
// process ends; the service watches it to learn that the client is gone.
bool TakeSingleInstance() {
  const HANDLE mutex = ::CreateMutexW(nullptr, TRUE, kSingleInstanceMutexName);
  // A client that died leaves the mutex abandoned, which is ours now.
  return ::WaitForSingleObject(mutex, 0) != WAIT_TIMEOUT;
}

void RunMessageLoop() {
  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    const HWND window = TheClient().main_window;
    if (window != nullptr && ::IsDialogMessageW(window, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace

Client& TheClient() {
  static Client client;
  return client;
}

int RunClient(HINSTANCE instance, std::string_view ansi_command_line) {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  const bool use_pptp = engines::WantsPptpEngine(ansi_command_line);
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_LINK_CLASS;
  ::InitCommonControlsEx(&controls);
  EnsureDataFolder();

  if (!TakeSingleInstance()) {
    (void)common::ShowUserMessage(nullptr, kAlreadyRunningText, ToWide(common::kMessageCaption), MB_ICONWARNING);
    return 0;
  }
  Client& client = TheClient();
  client.instance = instance;

  config::UpdateCheck update;
  config::StartupWaitBudget startup_wait;
  client.startup_wait = &startup_wait;
  // A newer version is only announced; nothing here offers the download yet.
  (void)config::CheckForUpdate(config::ReadDeploymentValues().config_host, update, &startup_wait);

  auto controller = std::make_unique<ConnectionController>(use_pptp);
  client.controller = controller.get();
  controller->engine().Prepare();
  controller->SetStateListener([](engines::EngineState state) {
    UpdateConnectionUi();
    const HWND window = TheClient().main_window;
    if (state == engines::ENGINE_CONNECTED && window != nullptr &&
        ::IsDlgButtonChecked(window, IDC_PIXELGUARD) == BST_CHECKED) {
      TheClient().controller->ApplyPixelguardProxy(TheClient().controller->selected_server());
    }
  });

  // Only a user's disconnect cleans; Exit never does.
  auto cleaner = std::make_unique<privacy::HistoryCleaner>();
  client.clean_history = [cleaner = cleaner.get()] { return cleaner->CleanDefaultBrowser() != 0; };
  // The watch runs on COM's threads: it reads the engine's state, which is
  // atomic, through a pointer that stays valid until after it is stopped.
  engines::VpnInterface* engine = &controller->engine();
  engines::BrowserWatch browser_watch(instance, [engine] { return engine->GetState(); });
  const int browser_watch_started = browser_watch.Start();

  client.ras_dial_message = ::RegisterWindowMessageA(std::string(common::kRasDialEventMessageName).c_str());
  // Without the class the browser warning only lacks its close button.
  (void)RegisterGoofyButtonClass(instance);

  // Only a start from the system's list reads the value; missing means hidden.
  const bool hidden = IsSystemStartupCommandLine(ansi_command_line) &&
                      config::StartsHidden(true, config::DwordSetting(config::SettingId::kHideAtStartup));
  const HWND window =
      ::CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainWindowProcedure, 0);
  if (window != nullptr && !hidden) ::ShowWindow(window, SW_SHOW);
  browser_watch.SetMainWindow(window);
  if (window != nullptr) RunMessageLoop();

  client.startup_wait = nullptr;
  UnregisterGoofyButtonClass(instance);
  if (browser_watch_started == 1) browser_watch.Stop();

  if (controller->proxy_saved()) controller->RestoreSystemProxy();
  controller->engine().DisconnectTunnel();
  client.controller = nullptr;
  controller.reset();
  client.clean_history = nullptr;
  return 0;
}

}  // namespace veltrona::app
