#include "client/app/connection_ui.h"

#include <gtest/gtest.h>

#include "client/resources/resource.h"

namespace veltrona::app {
namespace {

using engines::ENGINE_CONNECTED;
using engines::ENGINE_CONNECTING;
using engines::ENGINE_DISCONNECTED;

bool Enabled(const ConnectionUiPlan& plan, int id) {
  for (const auto& [control, enabled] : plan.enable) {
    if (control == id) return enabled;
  }
  ADD_FAILURE() << "control " << id << " is not set";
  return false;
}

bool Touched(const ConnectionUiPlan& plan, int id) {
  for (const auto& [control, enabled] : plan.enable) {
    if (control == id) return true;
  }
  return false;
}

TEST(ConnectionUi, DisconnectedOpensTheFieldsAndPreserveIpKeepsTheServerFixed) {
  const ConnectionUiPlan open = PlanConnectionUi(ENGINE_DISCONNECTED, false);
  ASSERT_TRUE(open.applies);
  EXPECT_EQ(open.button_text, u"Connect");
  for (const int id : {IDC_CONNECT, IDC_VPN_ID, IDC_ACTIVATION_CODE, IDC_SERVER, IDC_PIXELGUARD}) {
    EXPECT_TRUE(Enabled(open, id)) << id;
  }
  EXPECT_EQ(open.status, u"disconnected");
  ASSERT_TRUE(open.tray);
  EXPECT_EQ(open.tray->icon_id, IDI_DISCONNECTED);
  EXPECT_EQ(open.tray->tip, u"Veltrona VPN (Disconnected)");
  EXPECT_FALSE(open.save_credentials_and_hide);

  const ConnectionUiPlan preserved = PlanConnectionUi(ENGINE_DISCONNECTED, true);
  EXPECT_TRUE(Enabled(preserved, IDC_CONNECT));
  EXPECT_FALSE(Enabled(preserved, IDC_SERVER));
  EXPECT_FALSE(Enabled(preserved, IDC_PIXELGUARD));
}

TEST(ConnectionUi, ConnectingLocksEverythingAndLeavesTheTrayAlone) {
  for (const bool preserve : {false, true}) {
    const ConnectionUiPlan plan = PlanConnectionUi(ENGINE_CONNECTING, preserve);
    ASSERT_TRUE(plan.applies);
    EXPECT_FALSE(plan.button_text);
    for (const int id : {IDC_CONNECT, IDC_VPN_ID, IDC_ACTIVATION_CODE, IDC_SERVER}) EXPECT_FALSE(Enabled(plan, id));
    EXPECT_FALSE(Touched(plan, IDC_PIXELGUARD));
    EXPECT_EQ(plan.status, u"connecting");
    EXPECT_FALSE(plan.tray);
    EXPECT_FALSE(plan.save_credentials_and_hide);
  }
}

TEST(ConnectionUi, ConnectedOffersDisconnectSavesAndHides) {
  const ConnectionUiPlan plan = PlanConnectionUi(ENGINE_CONNECTED, false);
  ASSERT_TRUE(plan.applies);
  EXPECT_EQ(plan.button_text, u"Disconnect");
  EXPECT_TRUE(Enabled(plan, IDC_CONNECT));
  for (const int id : {IDC_VPN_ID, IDC_ACTIVATION_CODE, IDC_SERVER}) EXPECT_FALSE(Enabled(plan, id));
  EXPECT_EQ(plan.status, u"connected");
  ASSERT_TRUE(plan.tray);
  EXPECT_EQ(plan.tray->icon_id, IDI_VELTRONA);
  EXPECT_EQ(plan.tray->tip, u"Veltrona VPN");
  EXPECT_TRUE(plan.save_credentials_and_hide);
}

TEST(ConnectionUi, AnUnknownStateChangesNothing) {
  for (const engines::EngineState state : {2, 4, -1}) {
    const ConnectionUiPlan plan = PlanConnectionUi(state, false);
    EXPECT_FALSE(plan.applies);
    EXPECT_TRUE(plan.enable.empty());
    EXPECT_FALSE(plan.tray);
  }
}

TEST(ConnectionUi, TheFirstEmptyFieldIsNamedInTheOrderTheUserFillsThem) {
  EXPECT_EQ(ConnectFieldWarning(u"", u"", u""), u"Please input VPN ID.");
  EXPECT_EQ(ConnectFieldWarning(u"", u"code", u"server"), u"Please input VPN ID.");
  EXPECT_EQ(ConnectFieldWarning(u"id", u"", u""), u"Please input Activation Code.");
  EXPECT_EQ(ConnectFieldWarning(u"id", u"code", u""), u"Please select server.");
  EXPECT_EQ(ConnectFieldWarning(u"id", u"code", u"server"), std::nullopt);
}

TEST(ConnectionUi, ConnectButtonAndTrayItemFollowTheState) {
  EXPECT_EQ(ActionForConnectButton(ENGINE_DISCONNECTED), ConnectButtonAction::kConnect);
  EXPECT_EQ(ActionForConnectButton(ENGINE_CONNECTING), ConnectButtonAction::kNothing);
  EXPECT_EQ(ActionForConnectButton(ENGINE_CONNECTED), ConnectButtonAction::kDisconnect);
  EXPECT_EQ(ActionForConnectButton(2), ConnectButtonAction::kNothing);

  EXPECT_EQ(TrayConnectItem(ENGINE_DISCONNECTED).text, u"Connect");
  EXPECT_TRUE(TrayConnectItem(ENGINE_DISCONNECTED).enabled);
  EXPECT_EQ(TrayConnectItem(ENGINE_CONNECTING).text, u"Connect");
  EXPECT_FALSE(TrayConnectItem(ENGINE_CONNECTING).enabled);
  EXPECT_EQ(TrayConnectItem(ENGINE_CONNECTED).text, u"Disconnect");
  EXPECT_TRUE(TrayConnectItem(ENGINE_CONNECTED).enabled);
  EXPECT_FALSE(TrayConnectItem(2).text);
}

TEST(ConnectionUi, OnlyTheWholeLineCountsAsAStartFromTheSystem) {
  EXPECT_TRUE(IsSystemStartupCommandLine("/systemstartup"));
  EXPECT_FALSE(IsSystemStartupCommandLine("/systemstartup pptp"));
  EXPECT_FALSE(IsSystemStartupCommandLine(" /systemstartup"));
  EXPECT_FALSE(IsSystemStartupCommandLine("/SystemStartup"));
  EXPECT_FALSE(IsSystemStartupCommandLine(""));
}

TEST(ConnectionUi, ThePixelguardPageIsAlwaysOverTls) {
  EXPECT_EQ(PixelguardPageAddress(u"https://www.veltrona.example/"), u"https://www.veltrona.example/pixelguard.html");
  EXPECT_EQ(PixelguardPageAddress(u"http://www.veltrona.example"), u"https://www.veltrona.example/pixelguard.html");
}

}  // namespace
}  // namespace veltrona::app
