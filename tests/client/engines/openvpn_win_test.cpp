// The engine interface's fixed values and choice, and the message seam the
// engines show everything through.
#include <gtest/gtest.h>

#include <vector>

#include "client/app/user_messages_win.h"
#include "client/engines/openvpn_win.h"
#include "client/engines/vpn_interface.h"

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
  const std::unique_ptr<VpnInterface> engine = engines::CreateEngine("VeltronaVpn.exe /systemstartup");
  ASSERT_NE(dynamic_cast<engines::OpenVPN*>(engine.get()), nullptr);
  EXPECT_EQ(engine->GetState(), engines::ENGINE_DISCONNECTED);
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
    app::SetMessagePresenter({});
    app::SetDialogPresenter({});
    app::SetLauncher({});
  }
};

TEST_F(MessageSeam, AMessageReachesThePresenterWithItsOwnerAndItsAnswerComesBack) {
  std::vector<app::MessageRequest> shown;
  app::SetMessagePresenter([&](const app::MessageRequest& request) {
    shown.push_back(request);
    return IDRETRY;
  });
  const HWND owner = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
  EXPECT_EQ(app::ShowUserMessage(owner, L"text", app::kMessageCaption, MB_RETRYCANCEL | MB_ICONINFORMATION),
            IDRETRY);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].owner, owner);
  EXPECT_EQ(shown[0].text, L"text");
  EXPECT_EQ(shown[0].caption, L"Veltrona VPN Free Trial");
  EXPECT_EQ(shown[0].style, static_cast<UINT>(0x45));
}

TEST_F(MessageSeam, ReplacingReturnsThePreviousPresenter) {
  int first_calls = 0;
  app::SetMessagePresenter([&](const app::MessageRequest&) { return ++first_calls; });
  app::MessagePresenter previous = app::SetMessagePresenter([](const app::MessageRequest&) { return IDCANCEL; });
  EXPECT_EQ(app::ShowUserMessage(nullptr, L"a", L"b", 0), IDCANCEL);
  ASSERT_TRUE(previous);
  EXPECT_EQ(previous(app::MessageRequest{}), 1);
}

TEST_F(MessageSeam, AWebPageOpensThroughAHiddenCmdStart) {
  std::vector<app::LaunchRequest> launched;
  app::SetLauncher([&](const app::LaunchRequest& request) {
    launched.push_back(request);
    return true;
  });
  EXPECT_TRUE(app::OpenWebPage(L"https://billing.example/clientarea.php?action=products"));
  ASSERT_EQ(launched.size(), 1u);
  EXPECT_EQ(launched[0].program, L"cmd");
  EXPECT_EQ(launched[0].parameters, L"/c start https://billing.example/clientarea.php?action=products /s");
  EXPECT_EQ(launched[0].show, SW_HIDE);
}

TEST_F(MessageSeam, TheLoginFailedDialogIsDialog146OwnedByTheMainWindow) {
  std::vector<app::DialogRequest> dialogs;
  app::SetDialogPresenter([&](const app::DialogRequest& request) {
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
INT_PTR ClickLinkOfDialog(const app::DialogRequest& request, UINT code) {
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
  header.idFrom = engines::IDC_LOGIN_FAILED_LINK;
  header.code = code;
  ::SendMessageW(dialog, WM_NOTIFY, engines::IDC_LOGIN_FAILED_LINK, reinterpret_cast<LPARAM>(&header));
  ::DestroyWindow(dialog);
  return 1;
}

TEST_F(MessageSeam, TheLoginFailedLinkOpensTheAccountPage) {
  std::vector<app::LaunchRequest> launched;
  app::SetLauncher([&](const app::LaunchRequest& request) {
    launched.push_back(request);
    return true;
  });
  app::SetDialogPresenter([](const app::DialogRequest& request) { return ClickLinkOfDialog(request, NM_CLICK); });
  engines::OpenVPN engine;
  engine.LoginFailedDialog();
  ASSERT_EQ(launched.size(), 1u);
  EXPECT_EQ(launched[0].program, L"cmd");
  EXPECT_EQ(launched[0].parameters, L"/c start https://api.veltrona.example/clientarea.php?action=products /s");
  EXPECT_EQ(launched[0].show, SW_HIDE);
}

TEST_F(MessageSeam, OnlyAClickOnTheLinkOpensThePage) {
  int launches = 0;
  app::SetLauncher([&](const app::LaunchRequest&) { return ++launches > 0; });
  app::SetDialogPresenter([](const app::DialogRequest& request) { return ClickLinkOfDialog(request, NM_RETURN); });
  engines::OpenVPN engine;
  engine.LoginFailedDialog();
  EXPECT_EQ(launches, 0);
}

}  // namespace
}  // namespace veltrona
