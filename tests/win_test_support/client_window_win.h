// Drives the real client program from outside, as a user would: finds its
// window by caption, fills the fields, picks a server, clicks, reads what the
// window shows, and answers the message boxes it opens.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"

namespace veltrona::test_support {

inline constexpr wchar_t kClientCaption[] = L"Veltrona VPN Free Trial 3.2";
inline constexpr wchar_t kProblemReportCaption[] = L"Creating support ticket";
inline constexpr DWORD kClientWaitMs = 30000;

// Saves a PNG of `window`'s area of the screen at a Unix path.
bool Screenshot(HWND window, const std::string& unix_png_path);
// The Unix path of `name` in the build's screenshot folder, which it makes.
std::string ScreenshotPath(const std::string& name);

// Polls `done` every 50 ms until it holds or the time is up.
bool WaitFor(const std::function<bool()>& done, DWORD timeout_ms = kClientWaitMs);

struct SeenMessageBox {
  HWND window = nullptr;
  HWND owner = nullptr;
  std::wstring caption;
  std::wstring text;
};

// Top-level message boxes of the processes of this prefix, newest last.
std::vector<SeenMessageBox> MessageBoxes();
// Waits for a message box and returns it.
std::optional<SeenMessageBox> WaitForMessageBox(DWORD timeout_ms = kClientWaitMs);
// Presses the box's button `id` (IDOK, IDRETRY, ...).
void Answer(const SeenMessageBox& box, int id = IDOK);

// VeltronaVpn.exe from the test's own folder, started with `arguments` and
// ended (if it still runs) when the object goes.
class ClientProcess {
 public:
  explicit ClientProcess(const std::wstring& arguments = L"");
  // Another build of the client: `program` is relative to the test's folder.
  ClientProcess(const std::wstring& arguments, const std::wstring& program);
  ~ClientProcess();
  ClientProcess(const ClientProcess&) = delete;
  ClientProcess& operator=(const ClientProcess&) = delete;

  bool Ended(DWORD timeout_ms = 20000) const;
  DWORD ExitCode() const;
  void Kill() const;
  HANDLE handle() const { return process_.Get(); }

 private:
  UniqueProcess process_;
};

class ClientWindow {
 public:
  // The client's main window, waited for.
  static std::optional<ClientWindow> Find(DWORD timeout_ms = kClientWaitMs);

  HWND handle() const { return window_; }
  std::wstring Text(int id) const;
  void SetText(int id, const std::wstring& text) const;
  bool SelectServer(const std::wstring& name) const;
  std::vector<std::wstring> Servers() const;
  void Click(int id) const;
  bool IsEnabled(int id) const;
  bool IsChecked(int id) const;
  bool IsVisible() const;
  bool WaitForText(int id, const std::wstring& text, DWORD timeout_ms = kClientWaitMs) const;
  // What the tray icon's owner receives from the shell.
  void TrayMessage(UINT mouse_message) const;
  // Chooses a tray menu item as the menu would.
  void TrayCommand(int id) const;
  // Clicks the "Report a problem" link in its middle, as the user does, and
  // returns "Creating support ticket" once it shows (null when it does not).
  HWND OpenProblemReport(DWORD timeout_ms) const;
  // Saves a PNG of the window's area of the screen at a Unix path.
  bool Screenshot(const std::string& unix_png_path) const;

 private:
  explicit ClientWindow(HWND window) : window_(window) {}
  HWND window_;
};

}  // namespace veltrona::test_support
