// The OpenVPN engine against the real OpenVPN 2.6 of the distribution, each
// case driven like the main window drives the engine. run.sh (next to this
// file) builds the peers in a network namespace of its own: an OpenVPN
// server that accepts exactly one user name and password, and, once the
// engine has asked for it, an OpenVPN client with the management options the
// service gives it. This program runs under Wine in that namespace, one case
// at a time; without run.sh every case is skipped.
//
// What passes between the two: environment variables name the control folder
// and the credentials the server accepts; files in the control folder carry
// the rest (see kStartRequestFile and the others below).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/common/user_messages_win.h"
#include "client/engines/openvpn_win.h"
#include "tests/e2e/real_openvpn/service_double_win.h"
#include "tests/test_text.h"
#include "tests/win_test_support/client_window_win.h"
#include "tests/win_test_support/config_host_win.h"
#include "tests/win_test_support/engine_window_win.h"
#include "tests/win_test_support/files_win.h"
#include "tests/win_test_support/process_win.h"
#include "tests/win_test_support/recorded_messages_win.h"
#include "tests/win_test_support/registry_values_win.h"
#include "client/resources/resource.h"

namespace veltrona {
namespace {

using engines::ENGINE_CONNECTED;
using engines::ENGINE_CONNECTING;
using engines::ENGINE_DISCONNECTED;
using engines::OpenVPN;
using test_support::ByteCount;
using test_support::EngineWindow;
using test_support::ServiceDouble;

// Written by the service double when the engine sets the open event: the
// harness then starts OpenVPN, as the service would.
constexpr wchar_t kStartRequestFile[] = L"start-openvpn";
// Written by a case once the engine shows the tunnel up: the harness then
// ends the server the way that case names.
constexpr wchar_t kConnectedFile[] = L"connected";
// OpenVPN's own statistics, which the client rewrites every second.
constexpr wchar_t kStatusFile[] = L"client-status.txt";

// The data folder the engine reports to the service.
constexpr wchar_t kDataFolder[] = L"C:\\users\\Public\\Veltrona VPN";

// run.sh pings through the tunnel, more bytes up than down; each count grows
// by this much in a few seconds, where OpenVPN's own keepalive traffic would
// take minutes.
constexpr long long kUpTrafficBytes = 20000;
constexpr long long kDownTrafficBytes = 4000;

const ::testing::Environment* const kEarlyDesktop =
    ::testing::AddGlobalTestEnvironment(new test_support::EarlyDesktop);

std::optional<std::wstring> Environment(const wchar_t* name) {
  const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring value(size, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(name, value.data(), size);
  value.resize(length);
  return value;
}

struct HarnessSettings {
  std::wstring folder;  // with a trailing backslash
  std::wstring user;
  std::wstring password;
};

std::optional<HarnessSettings> FromHarness() {
  const auto folder = Environment(L"VELTRONA_REAL_OPENVPN_DIR");
  const auto user = Environment(L"VELTRONA_REAL_OPENVPN_USER");
  const auto password = Environment(L"VELTRONA_REAL_OPENVPN_PASSWORD");
  if (!folder || !user || !password || folder->empty()) return std::nullopt;
  HarnessSettings settings{*folder, *user, *password};
  if (settings.folder.back() != L'\\') settings.folder += L'\\';
  return settings;
}

std::u16string U16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

using test_support::Ascii;

// One complete rewrite of OpenVPN's status file.
struct OpenVpnCounts {
  std::string updated;
  long long read = 0;
  long long written = 0;
};

std::optional<long long> NumberAfter(const std::string& text, const std::string& label) {
  const size_t at = text.find("\n" + label);
  if (at == std::string::npos) return std::nullopt;
  const size_t digits = at + 1 + label.size();
  const size_t end = text.find_first_not_of("0123456789", digits);
  if (end == digits || end == std::string::npos) return std::nullopt;
  return std::stoll(text.substr(digits, end - digits));
}

// None while the file is missing or half rewritten.
std::optional<OpenVpnCounts> ParseStatusFile(const std::string& text) {
  if (text.rfind("OpenVPN STATISTICS", 0) != 0 || text.find("\nEND") == std::string::npos) return std::nullopt;
  const size_t updated = text.find("\nUpdated,");
  const auto read = NumberAfter(text, "TCP/UDP read bytes,");
  const auto written = NumberAfter(text, "TCP/UDP write bytes,");
  if (updated == std::string::npos || !read || !written) return std::nullopt;
  const size_t end = text.find_first_of("\r\n", updated + 1);
  return OpenVpnCounts{text.substr(updated + 9, end - updated - 9), *read, *written};
}

class RealOpenVpn : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto settings = FromHarness();
    if (!settings) GTEST_SKIP() << "needs the peers that tests/e2e/real_openvpn/run.sh sets up";
    harness_ = *settings;
    service_ = std::make_unique<ServiceDouble>([this] {
      (void)test_support::WriteWholeFile(harness_.folder + kStartRequestFile, Ascii(service_->data_folder()) + "\n");
    });
    ASSERT_TRUE(service_->serving());
    engines::OpenVpnOptions options;
    options.endpoints = service_->endpoints();
    options.data_folder = kDataFolder;
    options.on_state_changed = [this](engines::EngineState state) { states_.push_back(state); };
    engine_ = std::make_unique<OpenVPN>(options);
    window_.Drive(engine_.get());
  }

  void TearDown() override {
    window_.Release();
    engine_.reset();
    service_.reset();
  }

  // ConnectTunnel as the controller calls it, and what the service sees of
  // it; PrintTimeTo() later tells how long the rest took.
  void Connect(const std::wstring& password) {
    started_ = ::GetTickCount64();
    ASSERT_EQ(engine_->ConnectTunnel(u"vpn1.example", U16(harness_.user), U16(password)), 0);
    EXPECT_EQ(engine_->GetState(), ENGINE_CONNECTING);
    // The service's part happened during the call.
    EXPECT_EQ(service_->set_path_messages(), 1);
    EXPECT_EQ(service_->data_folder(), kDataFolder);
    // Then the open event, upon which the service starts OpenVPN.
    EXPECT_TRUE(EngineWindow::PumpUntil([&] { return service_->open_requests() == 1; }));
  }

  bool PumpUntilState(int state) {
    return EngineWindow::PumpUntil([&] { return engine_->GetState() == state; });
  }
  bool PumpUntilShown() {
    return EngineWindow::PumpUntil([&] { return recorded_.AnythingShown(); });
  }
  void PrintTimeTo(const char* what) {
    const ULONGLONG elapsed = ::GetTickCount64() - started_;
    std::printf("[ measure  ] ConnectTunnel to %s against the real OpenVPN: %llu ms\n", what, elapsed);
    RecordProperty("connect_ms", std::to_string(elapsed));
  }

  std::optional<OpenVpnCounts> OpenVpnCountsNow() const {
    return ParseStatusFile(test_support::ReadWholeFile(harness_.folder + kStatusFile));
  }
  // The first complete status file whose time stamp differs from `than`'s,
  // that is, one OpenVPN wrote after `than` was read.
  std::optional<OpenVpnCounts> NextOpenVpnCounts(const std::optional<OpenVpnCounts>& than) {
    std::optional<OpenVpnCounts> next;
    EngineWindow::PumpUntil([&] {
      next = OpenVpnCountsNow();
      return next && (!than || next->updated != than->updated);
    });
    return next && (!than || next->updated != than->updated) ? next : std::nullopt;
  }

  struct Shown {
    long long received = -1;
    long long sent = -1;
  };
  Shown ShownCounts() const {
    return {ByteCount(window_.Text(IDC_BYTES_RECEIVED)), ByteCount(window_.Text(IDC_BYTES_SENT))};
  }
  // Pumps until the statistics controls have changed `times` times.
  bool PumpUntilCountsChange(int times) {
    std::wstring received = window_.Text(IDC_BYTES_RECEIVED);
    std::wstring sent = window_.Text(IDC_BYTES_SENT);
    int changes = 0;
    return EngineWindow::PumpUntil([&] {
      const std::wstring now_received = window_.Text(IDC_BYTES_RECEIVED);
      const std::wstring now_sent = window_.Text(IDC_BYTES_SENT);
      if (now_received != received || now_sent != sent) {
        ++changes;
        received = now_received;
        sent = now_sent;
      }
      return changes >= times;
    });
  }

  void TellHarnessConnected() { ASSERT_TRUE(test_support::WriteWholeFile(harness_.folder + kConnectedFile, "connected\n")); }

  void ExpectConnectionLostShown() {
    ASSERT_TRUE(PumpUntilShown()) << "state " << engine_->GetState();
    EXPECT_TRUE(recorded_.ShowedOnly(L"Connection lost. Try to reconnect later.", L"Veltrona VPN Free Trial",
                                     MB_ICONWARNING, window_.handle()));
    EXPECT_EQ(engine_->GetState(), ENGINE_DISCONNECTED);
    EXPECT_EQ(states_, (std::vector<int>{ENGINE_CONNECTING, ENGINE_CONNECTED, ENGINE_DISCONNECTED}));
  }

  HarnessSettings harness_;
  std::unique_ptr<ServiceDouble> service_;
  EngineWindow window_;
  std::unique_ptr<OpenVPN> engine_;
  std::vector<int> states_;
  test_support::RecordedMessages recorded_;
  const std::vector<common::MessageRequest>& messages_ = recorded_.All();
  const std::vector<common::DialogRequest>& dialogs_ = recorded_.Dialogs();
  ULONGLONG started_ = 0;
};

// The pair the server accepts has a blank in the user name and a blank, a
// double quote and a backslash in the password, so reaching CONNECTED shows
// that they arrive intact at the server's check.
TEST_F(RealOpenVpn, ConnectsAndShowsOpenVpnsOwnGrowingByteCounts) {
  Connect(harness_.password);
  ASSERT_TRUE(PumpUntilState(ENGINE_CONNECTED)) << "status: " << Ascii(window_.Text(IDC_STATUS));
  PrintTimeTo("CONNECTED");
  EXPECT_EQ(window_.Text(IDC_STATUS), L"assign IP...");
  EXPECT_EQ(engine_->LastStateName(), "CONNECTED");
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(dialogs_.empty());

  // The counts the engine shows lie between OpenVPN's own counts read before
  // the engine asked and written after it was answered.
  const std::optional<OpenVpnCounts> before = NextOpenVpnCounts(OpenVpnCountsNow());
  ASSERT_TRUE(before) << "no status file from OpenVPN";
  // The second change comes from a "status" sent after `before` was read.
  ASSERT_TRUE(PumpUntilCountsChange(2)) << Ascii(window_.Text(IDC_BYTES_RECEIVED));
  const Shown shown = ShownCounts();
  const std::optional<OpenVpnCounts> after = NextOpenVpnCounts(OpenVpnCountsNow());
  ASSERT_TRUE(after);
  std::printf("[ measure  ] received: OpenVPN %lld <= shown %lld <= OpenVPN %lld\n", before->read, shown.received,
              after->read);
  std::printf("[ measure  ] sent:     OpenVPN %lld <= shown %lld <= OpenVPN %lld\n", before->written, shown.sent,
              after->written);
  EXPECT_GT(shown.received, 0);
  EXPECT_GT(shown.sent, 0);
  EXPECT_LE(before->read, shown.received);
  EXPECT_LE(shown.received, after->read);
  EXPECT_LE(before->written, shown.sent);
  EXPECT_LE(shown.sent, after->written);

  // The counts grow with the traffic through the tunnel.
  EXPECT_TRUE(EngineWindow::PumpUntil([&] {
    const Shown now = ShownCounts();
    return now.received >= shown.received + kDownTrafficBytes && now.sent >= shown.sent + kUpTrafficBytes;
  })) << "received " << Ascii(window_.Text(IDC_BYTES_RECEIVED)) << ", sent "
      << Ascii(window_.Text(IDC_BYTES_SENT));
  EXPECT_EQ(engine_->GetState(), ENGINE_CONNECTED);

  engine_->DisconnectTunnel();
  EXPECT_EQ(engine_->GetState(), ENGINE_DISCONNECTED);
  engine_->UpdateStatistics();
  EXPECT_EQ(window_.Text(IDC_BYTES_RECEIVED), L"0 bytes");
  EXPECT_EQ(window_.Text(IDC_BYTES_SENT), L"0 bytes");
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(dialogs_.empty());
  EXPECT_EQ(states_, (std::vector<int>{ENGINE_CONNECTING, ENGINE_CONNECTED, ENGINE_DISCONNECTED}));
}

TEST_F(RealOpenVpn, AWrongPasswordShowsTheLoginFailedDialog) {
  // One character more than the password the server accepts.
  Connect(harness_.password + L"x");
  ASSERT_TRUE(PumpUntilShown()) << "state " << engine_->GetState();
  PrintTimeTo("the login-failed dialog");
  ASSERT_EQ(dialogs_.size(), 1u);
  EXPECT_EQ(dialogs_[0].template_id, IDD_LOGIN_FAILED);
  EXPECT_EQ(dialogs_[0].owner, window_.handle());
  EXPECT_EQ(engine_->GetState(), ENGINE_DISCONNECTED);
  EXPECT_EQ(window_.Text(IDC_STATUS), L"authentication...");
  EXPECT_EQ(states_, (std::vector<int>{ENGINE_CONNECTING, ENGINE_DISCONNECTED}));
  // Whatever OpenVPN does next, nothing more is shown.
  EngineWindow::PumpUntil([] { return false; }, 2000);
  EXPECT_TRUE(messages_.empty()) << Ascii(messages_.empty() ? std::wstring() : messages_[0].text);
  EXPECT_EQ(dialogs_.size(), 1u);
}

// The harness stops the server with SIGTERM: it tells its clients to restart.
TEST_F(RealOpenVpn, AServerShuttingDownIsALostConnection) {
  Connect(harness_.password);
  ASSERT_TRUE(PumpUntilState(ENGINE_CONNECTED));
  PrintTimeTo("CONNECTED");
  TellHarnessConnected();
  ExpectConnectionLostShown();
}

// The harness kills the server with SIGKILL: the client hears nothing more
// and gives up when its keepalive runs out.
TEST_F(RealOpenVpn, AServerThatDiesIsALostConnection) {
  Connect(harness_.password);
  ASSERT_TRUE(PumpUntilState(ENGINE_CONNECTED));
  PrintTimeTo("CONNECTED");
  TellHarnessConnected();
  ExpectConnectionLostShown();
}

}  // namespace
// The product itself: the real client, driven through its window, connects
// to the real OpenVPN and shows OpenVPN's own byte counts.
class RealClientWindow : public ::testing::Test {
 protected:
  static constexpr unsigned short kConfigPort = 18993;

  void SetUp() override {
    const auto settings = FromHarness();
    if (!settings) GTEST_SKIP() << "needs the peers that tests/e2e/real_openvpn/run.sh sets up";
    harness_ = *settings;
    // The service's own names: the client knows no others.
    service_ = std::make_unique<ServiceDouble>(
        [this] {
          (void)test_support::WriteWholeFile(harness_.folder + kStartRequestFile,
                                             Ascii(service_->data_folder()) + "\n");
        },
        ipc::Endpoints::Default());
    ASSERT_TRUE(service_->serving());
    // A server list without an OpenVPN template: the configuration is the
    // harness's own.
    served_.Write(L"servers.win.xml",
                  "<?xml version=\"1.0\"?><config><servers><host hostname=\"vpn1.example\" default=\"True\"/>"
                  "</servers><application version=\"3.2\" url=\"https://www.veltrona.example/\"/></config>");
    host_ = std::make_unique<test_support::ConfigHost>(kConfigPort, served_.Path());
    ASSERT_TRUE(host_->Listening());
    ASSERT_TRUE(test_support::PointClientAtConfigHost(kConfigPort));
    // The installation folder is the programs' own, with the cleaner's rules.
    ASSERT_TRUE(test_support::SetString(HKEY_LOCAL_MACHINE, test_support::kMachineKey, L"Install Path",
                                        test_support::BinFolder()));
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\VeltronaVPN");
  }

  std::optional<OpenVpnCounts> NextOpenVpnCounts(const std::optional<OpenVpnCounts>& than) {
    std::optional<OpenVpnCounts> next;
    test_support::WaitFor([&] {
      next = ParseStatusFile(test_support::ReadWholeFile(harness_.folder + kStatusFile));
      return next && (!than || next->updated != than->updated);
    });
    return next && (!than || next->updated != than->updated) ? next : std::nullopt;
  }

  HarnessSettings harness_;
  std::unique_ptr<ServiceDouble> service_;
  test_support::TempFolder served_{L"veltrona-served-"};
  std::unique_ptr<test_support::ConfigHost> host_;
};

TEST_F(RealClientWindow, ConnectsShowsOpenVpnsByteCountsAndDisconnects) {
  test_support::ClientProcess client;
  const auto window = test_support::ClientWindow::Find();
  ASSERT_TRUE(window);
  ASSERT_TRUE(test_support::WaitFor([&] { return window->SelectServer(L"vpn1.example"); }, 10000));
  window->SetText(IDC_VPN_ID, harness_.user);
  window->SetText(IDC_ACTIVATION_CODE, harness_.password);
  const ULONGLONG started = ::GetTickCount64();
  window->Click(IDC_CONNECT);
  ASSERT_TRUE(window->WaitForText(IDC_STATUS, L"connected")) << "status: " << Ascii(window->Text(IDC_STATUS));
  std::printf("[ measure  ] Connect to \"connected\" in the real client against the real OpenVPN: %llu ms\n",
              ::GetTickCount64() - started);
  EXPECT_TRUE(test_support::WaitFor([&] { return !window->IsVisible(); }, 10000));
  EXPECT_EQ(service_->set_path_messages(), 1);

  // What the window shows lies between OpenVPN's own counts from before and
  // after it.
  const auto before = NextOpenVpnCounts(std::nullopt);
  ASSERT_TRUE(before) << "no status file from OpenVPN";
  const auto shown_after = [&](const OpenVpnCounts& counts) {
    return ByteCount(window->Text(IDC_BYTES_RECEIVED)) >= counts.read &&
           ByteCount(window->Text(IDC_BYTES_SENT)) >= counts.written;
  };
  ASSERT_TRUE(test_support::WaitFor([&] { return shown_after(*before); }))
      << Ascii(window->Text(IDC_BYTES_RECEIVED)) << " / " << Ascii(window->Text(IDC_BYTES_SENT));
  const long long received = ByteCount(window->Text(IDC_BYTES_RECEIVED));
  const long long sent = ByteCount(window->Text(IDC_BYTES_SENT));
  // OpenVPN's next count written after the window was read, not merely
  // after `before`: the file may have been rewritten while the test waited.
  const auto after = NextOpenVpnCounts(NextOpenVpnCounts(std::nullopt));
  ASSERT_TRUE(after);
  std::printf("[ measure  ] the client window shows %lld received, %lld sent; OpenVPN counted %lld..%lld, %lld..%lld\n",
              received, sent, before->read, after->read, before->written, after->written);
  EXPECT_GT(received, 0);
  EXPECT_GT(sent, 0);
  EXPECT_LE(received, after->read);
  EXPECT_LE(sent, after->written);
  // The counts grow with the harness's pings through the tunnel.
  EXPECT_TRUE(test_support::WaitFor([&] {
    return ByteCount(window->Text(IDC_BYTES_RECEIVED)) >= received + kDownTrafficBytes &&
           ByteCount(window->Text(IDC_BYTES_SENT)) >= sent + kUpTrafficBytes;
  }));

  window->TrayMessage(WM_LBUTTONDBLCLK);
  ASSERT_TRUE(test_support::WaitFor([&] { return window->IsVisible(); }, 10000));
  window->Click(IDC_CONNECT);
  ASSERT_TRUE(window->WaitForText(IDC_STATUS, L"disconnected"));
  EXPECT_EQ(window->Text(IDC_CONNECT), L"Connect");
  EXPECT_TRUE(test_support::MessageBoxes().empty());
  window->TrayCommand(IDM_EXIT);
  EXPECT_TRUE(client.Ended());
}

}  // namespace veltrona
