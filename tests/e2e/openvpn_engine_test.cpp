// The OpenVPN engine driven like the main window drives it, against the real
// service and the OpenVPN stand-in: what the user sees in the window's
// controls and message boxes, and what the stand-in receives.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "client/common/user_messages_win.h"
#include "client/engines/openvpn_win.h"
#include "base/wide_text.h"
#include "tests/win_test_support/engine_window_win.h"
#include "tests/win_test_support/loopback_listener_win.h"
#include "tests/win_test_support/recorded_messages_win.h"
#include "tests/win_test_support/service_fixture_win.h"
#include "client/resources/resource.h"

namespace veltrona {
namespace {

using engines::ENGINE_CONNECTED;
using engines::ENGINE_DISCONNECTED;
using engines::OpenVPN;
using test_support::ByteCount;
using test_support::ClientConfig;
using test_support::ClientPresence;
using test_support::EngineWindow;
using test_support::InstalledService;

constexpr DWORD kLongWaitMs = test_support::kEngineWaitMs;

const ::testing::Environment* const kEarlyDesktop =
    ::testing::AddGlobalTestEnvironment(new test_support::EarlyDesktop);

ULONGLONG ProcessCpuMs() {
  FILETIME created{}, exited{}, kernel{}, user{};
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto ticks = [](const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  return (ticks(kernel) + ticks(user)) / 10000;
}

class OpenVpnEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.running()) << InstalledService::LogText();
    window_.Drive(&engine_);
  }
  void TearDown() override { window_.Release(); }

  static void Configure(const std::string& standin_lines) {
    InstalledService::WriteClientFile(L"Veltrona.ovpn", ClientConfig(standin_lines));
  }
  bool PumpUntilState(int state, DWORD timeout_ms = kLongWaitMs) {
    return EngineWindow::PumpUntil([&] { return engine_.GetState() == state; }, timeout_ms);
  }
  bool PumpUntilMessage() {
    return EngineWindow::PumpUntil([&] { return recorded_.AnythingShown(); });
  }
  static bool OpenVpnEnded() { return InstalledService::WaitForLog("OpenVPN process terminated"); }

  InstalledService service_;
  ClientPresence client_;
  EngineWindow window_;
  OpenVPN engine_;
  test_support::RecordedMessages recorded_;
  const std::vector<common::MessageRequest>& messages_ = recorded_.All();
  const std::vector<common::DialogRequest>& dialogs_ = recorded_.Dialogs();
};

TEST_F(OpenVpnEngine, ConnectsShowsGrowingByteCountsAndDisconnects) {
  Configure("# standin: bytes 1000 400\r\n# standin: bytes-per-second 2048 512\r\n");
  const ULONGLONG started = ::GetTickCount64();
  const ULONGLONG cpu_before = ProcessCpuMs();
  ASSERT_EQ(engine_.ConnectTunnel(u"vpn1.example", u"user", u"secret"), 0);
  EXPECT_EQ(engine_.GetState(), engines::ENGINE_CONNECTING);
  ASSERT_TRUE(PumpUntilState(ENGINE_CONNECTED)) << InstalledService::OpenVpnOutput();
  const ULONGLONG elapsed = ::GetTickCount64() - started;
  const ULONGLONG cpu = ProcessCpuMs() - cpu_before;
  std::printf("[ measure  ] ConnectTunnel to CONNECTED: %llu ms, client CPU meanwhile: %llu ms\n", elapsed, cpu);
  RecordProperty("connect_ms", std::to_string(elapsed));
  RecordProperty("connect_cpu_ms", std::to_string(cpu));

  // The last progress state OpenVPN reported before CONNECTED.
  EXPECT_EQ(window_.Text(IDC_STATUS), L"assign IP...");
  EXPECT_EQ(engine_.LastStateName(), "CONNECTED");
  ASSERT_TRUE(EngineWindow::PumpUntil([&] { return ByteCount(window_.Text(IDC_BYTES_RECEIVED)) >= 1000; }))
      << window_.Text(IDC_BYTES_RECEIVED);
  const long long received = ByteCount(window_.Text(IDC_BYTES_RECEIVED));
  EXPECT_GE(ByteCount(window_.Text(IDC_BYTES_SENT)), 400);
  // Every second the counts are asked for again, and they grow.
  ASSERT_TRUE(EngineWindow::PumpUntil(
      [&] { return ByteCount(window_.Text(IDC_BYTES_RECEIVED)) > received; }))
      << window_.Text(IDC_BYTES_RECEIVED);
  EXPECT_EQ(engine_.GetState(), ENGINE_CONNECTED);

  engine_.PeriodicCheck();
  EXPECT_TRUE(InstalledService::WaitForLog("Checking route table"));

  engine_.DisconnectTunnel();
  EXPECT_EQ(engine_.GetState(), ENGINE_DISCONNECTED);
  ASSERT_TRUE(OpenVpnEnded()) << InstalledService::LogText();
  EXPECT_NE(InstalledService::OpenVpnOutput().find("exit event Global\\VTOpenVPNExit is set"), std::string::npos)
      << InstalledService::OpenVpnOutput();
  EXPECT_TRUE(messages_.empty());
  engine_.UpdateStatistics();
  EXPECT_EQ(window_.Text(IDC_BYTES_RECEIVED), L"0 bytes");
  EXPECT_EQ(window_.Text(IDC_BYTES_SENT), L"0 bytes");
  // The commands OpenVPN received, in the order the dialogue sends them.
  const std::string output = InstalledService::OpenVpnOutput();
  size_t at = 0;
  for (const char* command : {"CMD 'state on'", "CMD 'mute 40'", "CMD 'hold off'", "CMD 'hold release'",
                              "CMD 'username \"Auth\" \"user\"'", "CMD 'password \"Auth\" \"secret\"'",
                              "CMD 'status'"}) {
    at = output.find(command, at);
    ASSERT_NE(at, std::string::npos) << command << "\n" << output;
  }
}

TEST_F(OpenVpnEngine, RetriesUntilASlowOpenVpnListens) {
  Configure("# standin: slow-start 2500\r\n");
  const ULONGLONG started = ::GetTickCount64();
  const ULONGLONG cpu_before = ProcessCpuMs();
  ASSERT_EQ(engine_.ConnectTunnel(u"vpn1.example", u"user", u"secret"), 0);
  ASSERT_TRUE(PumpUntilState(ENGINE_CONNECTED)) << InstalledService::OpenVpnOutput();
  const ULONGLONG elapsed = ::GetTickCount64() - started;
  const ULONGLONG cpu = ProcessCpuMs() - cpu_before;
  std::printf("[ measure  ] with 2.5 s until OpenVPN listens: CONNECTED after %llu ms, client CPU %llu ms\n",
              elapsed, cpu);
  RecordProperty("slow_start_connect_ms", std::to_string(elapsed));
  RecordProperty("slow_start_cpu_ms", std::to_string(cpu));
  EXPECT_TRUE(messages_.empty());
  engine_.DisconnectTunnel();
  EXPECT_TRUE(OpenVpnEnded());
}

TEST_F(OpenVpnEngine, AnOpenVpnThatNeverListensEndsInTheServiceMessage) {
  Configure("# standin: slow-start 60000\r\n");
  const ULONGLONG cpu_before = ProcessCpuMs();
  ASSERT_EQ(engine_.ConnectTunnel(u"vpn1.example", u"user", u"secret"), 0);
  ASSERT_TRUE(PumpUntilMessage());
  const ULONGLONG cpu = ProcessCpuMs() - cpu_before;
  std::printf("[ measure  ] client CPU over the whole connection window of refused connects: %llu ms\n", cpu);
  RecordProperty("refused_window_cpu_ms", std::to_string(cpu));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, L"Service VeltronaVPN isn't started! Try to reinstall Veltrona VPN Free Trial");
  EXPECT_EQ(messages_[0].caption, L"Error");
  EXPECT_EQ(messages_[0].style, static_cast<UINT>(MB_ICONERROR));
  EXPECT_EQ(messages_[0].owner, window_.handle());
  EXPECT_EQ(engine_.GetState(), ENGINE_DISCONNECTED);
  // The exit event was set, so the waiting OpenVPN ends too.
  EXPECT_TRUE(OpenVpnEnded()) << InstalledService::LogText();
}

TEST_F(OpenVpnEngine, AClosedManagementConnectionIsALostConnection) {
  Configure("# standin: drop-after-connected\r\n");
  ASSERT_EQ(engine_.ConnectTunnel(u"vpn1.example", u"user", u"secret"), 0);
  ASSERT_TRUE(PumpUntilMessage()) << InstalledService::OpenVpnOutput();
  EXPECT_TRUE(recorded_.ShowedOnly(L"Connection lost. Try to reconnect later.", L"Veltrona VPN Free Trial",
                                   MB_ICONWARNING, window_.handle()));
  EXPECT_EQ(engine_.GetState(), ENGINE_DISCONNECTED);
  EXPECT_TRUE(OpenVpnEnded()) << InstalledService::LogText();
}

TEST_F(OpenVpnEngine, ARejectedLoginShowsTheLoginFailedDialog) {
  Configure("# standin: reject-password\r\n");
  ASSERT_EQ(engine_.ConnectTunnel(u"vpn1.example", u"user", u"wrong"), 0);
  ASSERT_TRUE(PumpUntilMessage()) << InstalledService::OpenVpnOutput();
  EXPECT_TRUE(messages_.empty()) << (messages_.empty() ? "" : std::string(messages_[0].text.begin(),
                                                                          messages_[0].text.end()));
  ASSERT_EQ(dialogs_.size(), 1u);
  EXPECT_EQ(dialogs_[0].template_id, 146);
  EXPECT_EQ(dialogs_[0].owner, window_.handle());
  EXPECT_EQ(engine_.GetState(), ENGINE_DISCONNECTED);
  EXPECT_EQ(engine_.LastStateName(), "AUTH");
  EXPECT_TRUE(OpenVpnEnded());
}

TEST_F(OpenVpnEngine, CredentialsWithBlanksQuotesAndBackslashesArriveIntact) {
  Configure("# standin: expect-credentials \"vpn user\" \"p a\\\"s\\\\s\"\r\n");
  ASSERT_EQ(engine_.ConnectTunnel(u"vpn1.example", u"vpn user", u"p a\"s\\s"), 0);
  ASSERT_TRUE(PumpUntilState(ENGINE_CONNECTED))
      << InstalledService::OpenVpnOutput()
      << (messages_.empty() ? "" : std::string(messages_[0].text.begin(), messages_[0].text.end()));
  const std::string output = InstalledService::OpenVpnOutput();
  EXPECT_NE(output.find("username for 'Auth' is [vpn user]"), std::string::npos) << output;
  EXPECT_NE(output.find("password for 'Auth' is [p a\"s\\s]"), std::string::npos) << output;
  EXPECT_TRUE(messages_.empty());
  engine_.DisconnectTunnel();
  EXPECT_TRUE(OpenVpnEnded());
}

// A program that listened on the management port before OpenVPN could: the
// service starts no OpenVPN, and the engine sends nothing to a listener that
// is not the installed openvpn.exe. The owner comes through the engine's
// seam, because Wine reports no owner for any socket.
class ListenerBeforeOpenVpn : public ::testing::Test {
 protected:
  static constexpr char kGreeting[] =
      ">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info\r\n"
      ">HOLD:Waiting for hold release:0\r\n";

  void SetUp() override {
    ASSERT_TRUE(service_.running()) << InstalledService::LogText();
    ASSERT_TRUE(listener_.listening());
  }
  void TearDown() override { window_.Release(); }

  // Connects with the seam saying that `owner_image` holds the server end.
  void Connect(std::u16string owner_image) {
    engines::OpenVpnOptions options;
    options.on_state_changed = [this](engines::EngineState state) { states_.push_back(state); };
    options.management_peer = [this, owner_image](const ipc::TcpEndpoint& client_end, uint16_t port) {
      looked_up_ = client_end;
      looked_up_port_ = port;
      return ipc::PortOwner{true, 4242, owner_image};
    };
    engine_.emplace(options);
    window_.Drive(&*engine_);
    ASSERT_EQ(engine_->ConnectTunnel(u"vpn1.example", u"1001", u"activation"), 0);
  }

  InstalledService service_;
  ClientPresence client_;
  test_support::LoopbackListener listener_{ipc::kManagementPort, kGreeting};
  EngineWindow window_;
  test_support::RecordedMessages recorded_;
  std::vector<int> states_;
  ipc::TcpEndpoint looked_up_;
  uint16_t looked_up_port_ = 0;
  std::optional<OpenVPN> engine_;
};

TEST_F(ListenerBeforeOpenVpn, AnotherProgramGetsNoByteAndTheUserIsTold) {
  Connect(u"C:\\Users\\Public\\listener.exe");
  ASSERT_TRUE(InstalledService::WaitForLog(
      "The management port 13247 is in use by another program; OpenVPN is not started"))
      << InstalledService::LogText();
  ASSERT_TRUE(EngineWindow::PumpUntil([&] { return recorded_.AnythingShown(); }));
  const std::vector<common::MessageRequest>& messages = recorded_.All();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text,
            L"Another program is using the port of the VPN connection (127.0.0.1:13247), so Veltrona VPN did not "
            L"send your VPN ID and activation code to it. Close that program and connect again.");
  EXPECT_EQ(messages[0].caption, L"Veltrona VPN Free Trial");
  EXPECT_EQ(messages[0].style, static_cast<UINT>(MB_ICONWARNING));
  EXPECT_EQ(messages[0].owner, window_.handle());
  EXPECT_EQ(engine_->GetState(), ENGINE_DISCONNECTED);
  EXPECT_EQ(states_, (std::vector<int>{1, 0}));

  // The connection ended without a byte, greeting and hold unanswered, and
  // no second attempt came.
  ASSERT_TRUE(EngineWindow::PumpUntil([&] { return listener_.PeerClosed(); }, 5000));
  EngineWindow::PumpUntil([] { return false; }, 1000);
  EXPECT_EQ(listener_.Received(), "");
  EXPECT_EQ(listener_.Accepted(), 1u);
  const std::string log = InstalledService::LogText();
  EXPECT_EQ(log.find("OpenVPN is fired"), std::string::npos) << log;
  EXPECT_EQ(test_support::CountProcesses(L"openvpn.exe"), 0u);
  EXPECT_TRUE(recorded_.Dialogs().empty());
}

TEST_F(ListenerBeforeOpenVpn, TheInstalledOpenVpnIsAnsweredAsUsual) {
  Connect(ToU16(InstalledService::InstallFolder() + L"openvpn.exe"));
  // Greeting and hold have come before the check; they are answered after it.
  ASSERT_TRUE(EngineWindow::PumpUntil([&] { return listener_.Received() == "state on\n"; }))
      << listener_.Received();
  EXPECT_TRUE(recorded_.All().empty());
  EXPECT_EQ(engine_->GetState(), engines::ENGINE_CONNECTING);
  // The seam was asked about the engine's own connection.
  EXPECT_EQ(looked_up_, (ipc::TcpEndpoint{ipc::kLoopbackAddress, listener_.PeerPort()}));
  EXPECT_EQ(looked_up_port_, ipc::kManagementPort);
  engine_->DisconnectTunnel();
  EXPECT_TRUE(EngineWindow::PumpUntil([&] { return listener_.PeerClosed(); }, 5000));
}

// Without the real service: names nobody serves.
TEST(OpenVpnEngineWithoutService, AMissingServiceIsReportedAtOnce) {
  test_support::RecordedMessages recorded;
  const std::vector<common::MessageRequest>& messages = recorded.All();
  EngineWindow window;
  engines::OpenVpnOptions options;
  const std::wstring unique = std::to_wstring(::GetCurrentProcessId());
  options.endpoints = ipc::Endpoints{L"\\\\.\\pipe\\VeltronaEngineTest" + unique, L"VeltronaEngineTestSync" + unique,
                                     L"VeltronaEngineTestOpen" + unique, L"VeltronaEngineTestExit" + unique, 1000};
  options.data_folder = L"C:\\nowhere";
  std::vector<int> states;
  options.on_state_changed = [&](engines::EngineState state) { states.push_back(state); };
  {
    OpenVPN engine(options);
    window.Drive(&engine);
    ASSERT_EQ(engine.ConnectTunnel(u"vpn1.example", u"user", u"secret"), 0);
    EXPECT_EQ(engine.GetState(), ENGINE_DISCONNECTED);
    window.Release();
  }
  EXPECT_EQ(states, (std::vector<int>{1, 0}));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, L"Service VeltronaVPN isn't started! Try to reinstall Veltrona VPN Free Trial");
  EXPECT_EQ(messages[0].caption, L"Error");
  EXPECT_EQ(messages[0].style, static_cast<UINT>(MB_ICONERROR));
}

}  // namespace
}  // namespace veltrona
