// The engine interface's fixed values and choice, and the message seam the
// engines show everything through.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "base/unique_handle_win.h"
#include "client/common/user_messages_win.h"
#include "client/engines/openvpn_win.h"
#include "client/engines/vpn_interface.h"
#include "base/wide_text.h"
#include "client/resources/resource.h"
#include "tests/win_test_support/process_win.h"
#include "tests/win_test_support/recorded_messages_win.h"

#include <commctrl.h>

namespace veltrona {
namespace {

using engines::VpnInterface;

TEST(EngineChoice, PptpAnywhereInTheCommandLineLowerCaseOnly) {
  EXPECT_TRUE(engines::WantsPptpEngine("VeltronaVpn.exe pptp"));
  EXPECT_TRUE(engines::WantsPptpEngine("\"C:\\Program Files\\VeltronaVpn.exe\" /usepptpnow"));
  EXPECT_FALSE(engines::WantsPptpEngine("VeltronaVpn.exe PPTP"));
  EXPECT_FALSE(engines::WantsPptpEngine("VeltronaVpn.exe /systemstartup"));
  EXPECT_FALSE(engines::WantsPptpEngine("ppt p"));
}

TEST(EngineChoice, OpenVpnIsTheDefaultAndStartsDisconnected) {
  const std::unique_ptr<VpnInterface> engine = engines::CreateEngine(engines::WantsPptpEngine("VeltronaVpn.exe /systemstartup"));
  ASSERT_NE(dynamic_cast<engines::OpenVPN*>(engine.get()), nullptr);
  EXPECT_EQ(engine->GetState(), engines::ENGINE_DISCONNECTED);
}

TEST(EngineChoice, APptpCommandLineGetsThePptpEngineWithItsOwnPhonebook) {
  const std::unique_ptr<VpnInterface> engine = engines::CreateEngine(engines::WantsPptpEngine("VeltronaVpn.exe pptp"));
  const auto* pptp = dynamic_cast<engines::PPTP*>(engine.get());
  ASSERT_NE(pptp, nullptr);
  EXPECT_EQ(engine->GetState(), engines::ENGINE_DISCONNECTED);
  engine->PeriodicCheck();
  EXPECT_EQ(engine->GetState(), engines::ENGINE_DISCONNECTED);
  const std::wstring& path = pptp->phonebook_path();
  EXPECT_EQ(path.substr(path.size() - 46), L"\\Microsoft\\Network\\Connections\\VeltronaVPN.pbk");
  EXPECT_NE(path.find(L':'), std::wstring::npos) << "a path on the current drive";
}

TEST(EngineInterface, MessageIdsAndStateCodesAreTheFixedOnes) {
  EXPECT_EQ(engines::WM_VPN_SOCKET, static_cast<uint32_t>(WM_APP + 2));
  EXPECT_EQ(WM_RASDIALEVENT, 0xCCCD);
  EXPECT_EQ(engines::kRasDialEventMessageName, "RasDialEvent");
  EXPECT_EQ(engines::ENGINE_CONNECTED, 3);
}

TEST(EngineInterface, AnEngineWithoutASocketIgnoresSocketMessages) {
  engines::OpenVPN engine;
  engine.Prepare();
  engine.Configure();
  EXPECT_EQ(engine.OnEvent(1234, FD_READ), 1);
  EXPECT_EQ(engine.OnEvent(1234, FD_CLOSE), 1);
  EXPECT_EQ(engine.GetState(), engines::ENGINE_DISCONNECTED);
  EXPECT_TRUE(engine.LastStateName().empty());
}

class MessageSeam : public ::testing::Test {
 protected:
  void TearDown() override {
    common::SetMessagePresenter({});
    common::SetDialogPresenter({});
    common::SetLauncher({});
  }
};

TEST_F(MessageSeam, AMessageReachesThePresenterWithItsOwnerAndItsAnswerComesBack) {
  std::vector<common::MessageRequest> shown;
  common::SetMessagePresenter([&](const common::MessageRequest& request) {
    shown.push_back(request);
    return IDRETRY;
  });
  const HWND owner = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
  EXPECT_EQ(common::ShowUserMessage(owner, L"text", veltrona::ToWide(common::kMessageCaption), MB_RETRYCANCEL | MB_ICONINFORMATION),
            IDRETRY);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].owner, owner);
  EXPECT_EQ(shown[0].text, L"text");
  EXPECT_EQ(shown[0].caption, L"Veltrona VPN Free Trial");
  EXPECT_EQ(shown[0].style, static_cast<UINT>(0x45));
}

TEST_F(MessageSeam, ReplacingReturnsThePreviousPresenter) {
  int first_calls = 0;
  common::SetMessagePresenter([&](const common::MessageRequest&) { return ++first_calls; });
  common::MessagePresenter previous = common::SetMessagePresenter([](const common::MessageRequest&) { return IDCANCEL; });
  EXPECT_EQ(common::ShowUserMessage(nullptr, L"a", L"b", 0), IDCANCEL);
  ASSERT_TRUE(previous);
  EXPECT_EQ(previous(common::MessageRequest{}), 1);
}

TEST_F(MessageSeam, AWebPageOpensThroughAHiddenCmdStart) {
  std::vector<common::LaunchRequest> launched;
  common::SetLauncher([&](const common::LaunchRequest& request) {
    launched.push_back(request);
    return true;
  });
  EXPECT_TRUE(common::OpenWebPage(L"https://billing.example/clientarea.php?action=products"));
  ASSERT_EQ(launched.size(), 1u);
  EXPECT_EQ(launched[0].program, L"cmd");
  EXPECT_EQ(launched[0].parameters, L"/c start https://billing.example/clientarea.php?action=products /s");
  EXPECT_EQ(launched[0].show, SW_HIDE);
}

TEST_F(MessageSeam, TheLoginFailedDialogIsDialog146OwnedByTheMainWindow) {
  std::vector<common::DialogRequest> dialogs;
  common::SetDialogPresenter([&](const common::DialogRequest& request) {
    dialogs.push_back(request);
    return IDOK;
  });
  engines::OpenVPN engine;
  const HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  engine.Attach(nullptr, window);
  engine.LoginFailedDialog();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].template_id, 146);
  EXPECT_EQ(dialogs[0].owner, window);
  EXPECT_NE(dialogs[0].procedure, nullptr);
  engine.Attach(nullptr, nullptr);
  ::DestroyWindow(window);
}

// Runs the dialog's own procedure on a real, empty dialog and clicks the link.
INT_PTR ClickLinkOfDialog(const common::DialogRequest& request, UINT code) {
  alignas(4) WORD layout[16] = {};
  auto* dialog_template = reinterpret_cast<DLGTEMPLATE*>(layout);
  dialog_template->style = WS_POPUP;
  dialog_template->cx = 100;
  dialog_template->cy = 50;
  const HWND dialog =
      ::CreateDialogIndirectParamW(request.instance, dialog_template, request.owner, request.procedure,
                                   request.parameter);
  if (dialog == nullptr) return -1;
  NMHDR header{};
  header.idFrom = IDC_LOGIN_FAILED_LINK;
  header.code = code;
  ::SendMessageW(dialog, WM_NOTIFY, IDC_LOGIN_FAILED_LINK, reinterpret_cast<LPARAM>(&header));
  ::DestroyWindow(dialog);
  return 1;
}

TEST_F(MessageSeam, TheLoginFailedLinkOpensTheAccountPage) {
  std::vector<common::LaunchRequest> launched;
  common::SetLauncher([&](const common::LaunchRequest& request) {
    launched.push_back(request);
    return true;
  });
  common::SetDialogPresenter([](const common::DialogRequest& request) { return ClickLinkOfDialog(request, NM_CLICK); });
  engines::OpenVPN engine;
  engine.LoginFailedDialog();
  ASSERT_EQ(launched.size(), 1u);
  EXPECT_EQ(launched[0].program, L"cmd");
  EXPECT_EQ(launched[0].parameters, L"/c start https://api.veltrona.example/clientarea.php?action=products /s");
  EXPECT_EQ(launched[0].show, SW_HIDE);
}

TEST_F(MessageSeam, OnlyAClickOnTheLinkOpensThePage) {
  int launches = 0;
  common::SetLauncher([&](const common::LaunchRequest&) { return ++launches > 0; });
  common::SetDialogPresenter([](const common::DialogRequest& request) { return ClickLinkOfDialog(request, NM_RETURN); });
  engines::OpenVPN engine;
  engine.LoginFailedDialog();
  EXPECT_EQ(launches, 0);
}

// What the real dialog 146 showed, read while its modal loop ran.
struct ShownDialog {
  std::wstring caption;
  std::wstring link_class;
  std::wstring link_text;
  std::wstring button_text;
  bool has_icon = false;
};

struct DialogDriver {
  ShownDialog shown;
  bool click_link = false;
  bool acted = false;
};
DialogDriver* g_driver = nullptr;

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  if (std::wstring(name) != L"#32770" || !::IsWindowVisible(window)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

std::wstring WindowText(HWND window) {
  wchar_t text[260] = {};
  ::GetWindowTextW(window, text, 260);
  return text;
}

// Runs inside the dialog's modal loop: reads the dialog, then clicks its link
// or presses OK.
void CALLBACK DriveDialog(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = nullptr;
  ::EnumThreadWindows(::GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
  if (dialog == nullptr || g_driver == nullptr || g_driver->acted) return;
  ::KillTimer(nullptr, timer);
  g_driver->acted = true;
  ShownDialog& shown = g_driver->shown;
  shown.caption = WindowText(dialog);
  const HWND link = ::GetDlgItem(dialog, IDC_LOGIN_FAILED_LINK);
  wchar_t name[64] = {};
  ::GetClassNameW(link, name, 64);
  shown.link_class = name;
  shown.link_text = WindowText(link);
  shown.button_text = WindowText(::GetDlgItem(dialog, IDOK));
  ::EnumChildWindows(
      dialog,
      [](HWND child, LPARAM has_icon) {
        if ((::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            ::SendMessageW(child, STM_GETICON, 0, 0) != 0) {
          *reinterpret_cast<bool*>(has_icon) = true;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&shown.has_icon));
  if (g_driver->click_link) {
    NMLINK click{};
    click.hdr.hwndFrom = link;
    click.hdr.idFrom = IDC_LOGIN_FAILED_LINK;
    click.hdr.code = NM_CLICK;
    ::SendMessageW(dialog, WM_NOTIFY, IDC_LOGIN_FAILED_LINK, reinterpret_cast<LPARAM>(&click));
  } else {
    ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
  }
}

class LoginFailedDialog : public MessageSeam {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LINK_CLASS};
    ASSERT_TRUE(::InitCommonControlsEx(&controls));
    common::SetLauncher([this](const common::LaunchRequest& request) {
      launched_.push_back(request);
      return true;
    });
    // The real dialog from the program's resources, driven by a timer.
    common::SetDialogPresenter([this](const common::DialogRequest& request) {
      g_driver = &driver_;
      const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, DriveDialog);
      result_ = ::DialogBoxParamW(request.instance, MAKEINTRESOURCEW(request.template_id), request.owner,
                                  request.procedure, request.parameter);
      ::KillTimer(nullptr, timer);
      g_driver = nullptr;
      return result_;
    });
  }

  DialogDriver driver_;
  INT_PTR result_ = -2;
  std::vector<common::LaunchRequest> launched_;
};

TEST_F(LoginFailedDialog, ShowsTheTextAndItsLinkOpensTheAccountPage) {
  driver_.click_link = true;
  engines::OpenVpnOptions options;
  options.account_page = L"https://127.0.0.1:8443/clientarea.php?action=products";
  engines::OpenVPN engine(options);
  engine.LoginFailedDialog();
  ASSERT_TRUE(driver_.acted);
  EXPECT_EQ(result_, 1);
  EXPECT_EQ(driver_.shown.caption, L"Error");
  EXPECT_EQ(driver_.shown.link_class, L"SysLink");
  EXPECT_NE(driver_.shown.link_text.find(L"Wrong VPN ID/Activation code or VPN ID is already in use. Click "),
            std::wstring::npos)
      << driver_.shown.link_text;
  EXPECT_NE(driver_.shown.link_text.find(L" to check."), std::wstring::npos) << driver_.shown.link_text;
  EXPECT_EQ(driver_.shown.button_text, L"OK");
  EXPECT_TRUE(driver_.shown.has_icon);
  ASSERT_EQ(launched_.size(), 1u);
  EXPECT_EQ(launched_[0].parameters, L"/c start https://127.0.0.1:8443/clientarea.php?action=products /s");
}

TEST_F(LoginFailedDialog, OkClosesItWithoutOpeningAnything) {
  engines::OpenVPN engine;
  engine.LoginFailedDialog();
  ASSERT_TRUE(driver_.acted);
  EXPECT_EQ(result_, IDOK);
  EXPECT_TRUE(launched_.empty());
}

}  // namespace
}  // namespace veltrona

namespace veltrona {
namespace {

// A service that reads MSG_SET_PATH and then never says the paths are stored.
TEST(EngineAndService, AServiceThatNeverAcknowledgesIsReportedBeforeConnectTunnelReturns) {
  const std::wstring suffix = test_support::UniqueSuffix();
  ipc::Endpoints endpoints{L"\\\\.\\pipe\\VeltronaTestSilent" + suffix, L"VeltronaTestSync" + suffix,
                           L"VeltronaTestOpen" + suffix, L"VeltronaTestExit" + suffix, ipc::kSyncWaitTimeoutMs};
  const UniqueEvent sync(::CreateEventW(nullptr, TRUE, FALSE, endpoints.sync_event.c_str()));
  const UniqueEvent open(::CreateEventW(nullptr, TRUE, FALSE, endpoints.open_event.c_str()));
  const UniquePipe pipe(::CreateNamedPipeW(endpoints.pipe.c_str(), PIPE_ACCESS_INBOUND,
                                           PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 0, 4096, 0,
                                           nullptr));
  ASSERT_TRUE(sync && open && pipe);
  DWORD message_bytes = 0;
  std::thread silent_service([&] {
    ::ConnectNamedPipe(pipe.Get(), nullptr);
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(pipe.Get(), buffer, sizeof buffer, &read, nullptr) || ::GetLastError() == ERROR_MORE_DATA) {
      message_bytes += read;
    }
  });

  test_support::RecordedMessages recorded;
  engines::OpenVpnOptions options;
  options.endpoints = endpoints;
  options.data_folder = L"C:\\users\\test\\AppData\\Local\\Veltrona VPN";
  engines::OpenVPN engine(options);
  EXPECT_EQ(engine.ConnectTunnel(u"vpn.example", u"id", u"code"), 0);
  silent_service.join();

  // Told at once: no connection window is waited out on the window thread.
  EXPECT_GT(message_bytes, 0u);
  EXPECT_EQ(recorded.Texts(), std::vector<std::wstring>{
                                  L"Service VeltronaVPN isn't started! Try to reinstall Veltrona VPN Free Trial"});
  EXPECT_EQ(engine.GetState(), engines::ENGINE_DISCONNECTED);
  EXPECT_EQ(::WaitForSingleObject(open.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

}  // namespace
}  // namespace veltrona
