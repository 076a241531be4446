// Plays the user for the demo: fills in the running client's window, presses
// Connect, reads the status and byte counts, saves a screenshot, disconnects
// and exits through the tray menu's "E&xit".
//   demo_user <vpn id> <activation code> <server> <unix path of the screenshot>
#include <windows.h>

#include <cstdio>
#include <string>

#include "client/resources/resource.h"
#include "tests/win_test_support/client_window_win.h"

using veltrona::test_support::ClientWindow;
using veltrona::test_support::WaitFor;

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

void Say(const char* what, const std::wstring& text = L"") {
  std::printf("  %s%s\n", what, Narrow(text).c_str());
  std::fflush(stdout);
}

int Fail(const char* what) {
  std::printf("demo_user: %s\n", what);
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
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
  std::string shot;
  for (const wchar_t* c = argv[4]; *c != L'\0'; ++c) shot.push_back(static_cast<char>(*c));
  if (window->Screenshot(shot)) Say("screenshot: ", argv[4]);

  Say("pressing Disconnect");
  window->Click(IDC_CONNECT);
  if (!window->WaitForText(IDC_STATUS, L"disconnected")) return Fail("the connection did not go down");
  Say("status: ", window->Text(IDC_STATUS));

  Say("choosing E&xit in the tray menu");
  window->TrayCommand(IDM_EXIT);
  if (!WaitFor([&] { return !::IsWindow(window->handle()); }, 15000)) return Fail("the client did not end");
  Say("the client has ended");
  return 0;
}
