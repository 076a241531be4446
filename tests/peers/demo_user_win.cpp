// Plays the user for the demo: fills in the running client's window, presses
// Connect, reads the status and byte counts, saves a screenshot, disconnects
// opens the problem report and cancels it, and exits through the tray menu's
// "E&xit".
//   demo_user <vpn id> <activation code> <server> <unix path of the screenshot>
// With "pptp" first it plays the same user against "VeltronaVpn.exe pptp":
// it presses Connect, tells what the window and any message say while RAS
// dials, saves the screenshot, and exits.
//   demo_user pptp <vpn id> <activation code> <server> <unix path of the screenshot>
#include <windows.h>

#include <cstdio>
#include <string>

#include "client/resources/resource.h"
#include "tests/test_text.h"
#include "tests/win_test_support/client_window_win.h"

using veltrona::test_support::Ascii;
using veltrona::test_support::ClientWindow;
using veltrona::test_support::WaitFor;

namespace {

void Say(const char* what, const std::wstring& text = L"") {
  std::printf("  %s%s\n", what, Ascii(text).c_str());
  std::fflush(stdout);
}

int Fail(const char* what) {
  std::printf("demo_user: %s\n", what);
  return 1;
}

// Clicks "Report a problem", waits while the diagnostics are gathered, shows
// how the dialog opened and cancels it.
bool OpenProblemReport(const ClientWindow& window) {
  const HWND dialog = window.OpenProblemReport(90000);
  if (dialog == nullptr) return false;
  wchar_t vpn_id[260] = {};
  ::GetDlgItemTextW(dialog, IDC_REPORT_VPN_ID, vpn_id, 260);
  Say("problem report open with VPN ID: ", vpn_id);
  const LRESULT length = ::SendDlgItemMessageW(dialog, IDC_REPORT_DIAGNOSTICS, WM_GETTEXTLENGTH, 0, 0);
  Say("diagnostics gathered, characters: ", std::to_wstring(length));
  ::PostMessageW(::GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
  return WaitFor([&] { return !::IsWindow(dialog); }, 10000);
}

// Tells and answers the message boxes the client shows within `wait_ms`.
void AnswerMessages(DWORD wait_ms) {
  while (const auto box = veltrona::test_support::WaitForMessageBox(wait_ms)) {
    Say("message: ", box->text);
    veltrona::test_support::Answer(*box);
  }
}

int PlayPptpUser(wchar_t** argv) {
  const auto window = ClientWindow::Find();
  if (!window) return Fail("the client's window did not appear");
  Say("window: ", veltrona::test_support::kClientCaption);
  AnswerMessages(1000);
  if (!WaitFor([&] { return window->SelectServer(argv[3]); }, 15000)) return Fail("the server is not listed");
  window->SetText(IDC_VPN_ID, argv[1]);
  window->SetText(IDC_ACTIVATION_CODE, argv[2]);
  Say("pressing Connect with server ", argv[3]);
  window->Click(IDC_CONNECT);
  // Whatever RAS reports comes within a few seconds.
  for (int second = 0; second < 5; ++second) {
    ::Sleep(1000);
    Say("status: ", window->Text(IDC_STATUS) + L", button: " + window->Text(IDC_CONNECT) +
                        L", received: " + window->Text(IDC_BYTES_RECEIVED));
    if (const auto box = veltrona::test_support::WaitForMessageBox(0)) {
      Say("message: ", box->text);
      if (window->Screenshot(Ascii(std::wstring_view(argv[4])))) Say("screenshot: ", argv[4]);
      veltrona::test_support::Answer(*box);
      AnswerMessages(2000);
      break;
    }
  }
  Say("status: ", window->Text(IDC_STATUS));
  Say("choosing E&xit in the tray menu");
  window->TrayCommand(IDM_EXIT);
  AnswerMessages(2000);
  if (!WaitFor([&] { return !::IsWindow(window->handle()); }, 15000)) return Fail("the client did not end");
  Say("the client has ended");
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 6 && std::wstring(argv[1]) == L"pptp") return PlayPptpUser(argv + 1);
  if (argc != 5) return Fail("usage: demo_user <vpn id> <activation code> <server> <screenshot.png>");
  const auto window = ClientWindow::Find();
  if (!window) return Fail("the client's window did not appear");
  Say("window: ", veltrona::test_support::kClientCaption);
  if (!WaitFor([&] { return window->SelectServer(argv[3]); }, 15000)) return Fail("the server is not listed");
  std::wstring servers;
  for (const std::wstring& server : window->Servers()) servers += server + L" ";
  Say("servers listed: ", servers);
  window->SetText(IDC_VPN_ID, argv[1]);
  window->SetText(IDC_ACTIVATION_CODE, argv[2]);
  Say("pressing Connect with server ", argv[3]);
  window->Click(IDC_CONNECT);
  if (!window->WaitForText(IDC_STATUS, L"connected")) {
    Say("status: ", window->Text(IDC_STATUS));
    return Fail("the connection did not come up");
  }
  Say("status: ", window->Text(IDC_STATUS));
  WaitFor([&] { return !window->IsVisible(); }, 10000);
  Say(window->IsVisible() ? "the window stayed open" : "the window went to the tray");
  ::Sleep(3000);
  Say("packet received: ", window->Text(IDC_BYTES_RECEIVED));
  Say("packet sent: ", window->Text(IDC_BYTES_SENT));

  window->TrayMessage(WM_LBUTTONDBLCLK);
  WaitFor([&] { return window->IsVisible(); }, 10000);
  if (window->Screenshot(Ascii(std::wstring_view(argv[4])))) Say("screenshot: ", argv[4]);

  Say("pressing Disconnect");
  window->Click(IDC_CONNECT);
  if (!window->WaitForText(IDC_STATUS, L"disconnected")) return Fail("the connection did not go down");
  Say("status: ", window->Text(IDC_STATUS));

  Say("clicking Report a problem");
  if (!OpenProblemReport(*window)) return Fail("the problem report did not open and close");

  Say("choosing E&xit in the tray menu");
  window->TrayCommand(IDM_EXIT);
  if (!WaitFor([&] { return !::IsWindow(window->handle()); }, 15000)) return Fail("the client did not end");
  Say("the client has ended");
  return 0;
}
