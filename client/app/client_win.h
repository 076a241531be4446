// What the whole client reaches during its run: the module, the main window,
// the controller, the registered RAS message, and UpdateConnectionUi. All of
// it lives on the one user-interface thread.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "client/app/connection_controller_win.h"
#include "client/app/tray_icon_win.h"
#include "client/config/startup_wait.h"

namespace veltrona::app {

struct Client {
  HINSTANCE instance = nullptr;
  // Set by the main window as the first step of its initialisation.
  HWND main_window = nullptr;
  ConnectionController* controller = nullptr;
  UINT ras_dial_message = 0;
  std::unique_ptr<TrayIcon> tray;
  // Clears the default browser's traces after a user's disconnect; returns
  // false while a browser file is in use. Unset until the cleaner exists.
  std::function<bool()> clean_history;
  // Bounds start-up's waits on the configuration host; null once the main
  // window has its first server list.
  config::StartupWaitBudget* startup_wait = nullptr;
};

Client& TheClient();

// Sets the window's controls, status, tray icon and tip from the engine state.
void UpdateConnectionUi();

}  // namespace veltrona::app
