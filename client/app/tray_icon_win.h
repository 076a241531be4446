// The client's notification-area icon. Every call to the shell is retried a
// few times, because the shell may be busy or restarting; the calls go
// through a replaceable function so tests can count them and read what was
// asked for.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string_view>

#include "base/unique_handle_win.h"
#include "client/engines/engine_state.h"

namespace veltrona::app {

// What Shell_NotifyIconW would return.
using NotifyIconFunction = std::function<BOOL(DWORD message, NOTIFYICONDATAW* data)>;

inline constexpr int kTrayAttempts = 5;

class TrayIcon {
 public:
  // An empty function means the real Shell_NotifyIconW.
  explicit TrayIcon(HWND owner, NotifyIconFunction notify = {});

  // Sets icon and tip (cut to the 127 characters the shell holds) for the
  // next add or modify.
  void SetLook(HICON icon, std::wstring_view tip);
  // NIM_ADD, up to five attempts; the first success marks the icon present.
  [[nodiscard]] bool Add();
  // NIM_MODIFY up to five attempts; when the shell has lost the icon, one
  // delete and then up to five adds.
  [[nodiscard]] bool Modify();
  // NIM_DELETE, up to five attempts; a success clears the present flag.
  [[nodiscard]] bool Delete();
  // The shell restarted ("TaskbarCreated"): the icon is gone, add it again.
  [[nodiscard]] bool Readd();

  bool present() const { return present_; }
  const NOTIFYICONDATAW& data() const { return data_; }

 private:
  [[nodiscard]] bool Call(DWORD message, int attempts);

  NotifyIconFunction notify_;
  bool present_ = false;
  NOTIFYICONDATAW data_{};
};

// Menu 109 with its first popup (the tray's) showing "Connect" or
// "Disconnect", enabled or not, for `state`.
UniqueMenu LoadTrayMenu(HINSTANCE instance, engines::EngineState state);

}  // namespace veltrona::app
