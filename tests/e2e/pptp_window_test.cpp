// The client's PPTP engine, driven through the real window of the client
// built with a recording RAS (tests/peers/client_with_recording_ras): what
// RAS receives, and what the user sees as RAS reports its progress.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "client/resources/resource.h"
#include "tests/test_text.h"
#include "tests/win_test_support/client_window_win.h"
#include "tests/win_test_support/config_host_win.h"
#include "tests/win_test_support/files_win.h"
#include "tests/win_test_support/process_win.h"
#include "tests/win_test_support/registry_values_win.h"
#include "tests/win_test_support/service_fixture_win.h"

namespace veltrona {
namespace {

using test_support::Answer;
using test_support::Ascii;
using test_support::ClientWindow;
using test_support::DeleteValue;
using test_support::ForgetConfigHost;
using test_support::kInternetSettings;
using test_support::kMachineKey;
using test_support::PointClientAtConfigHost;
using test_support::ReadDword;
using test_support::ReadString;
using test_support::ScopedUserProxy;
using test_support::ScreenshotPath;
using test_support::SetDword;
using test_support::SetString;
using test_support::WaitFor;
using test_support::WaitForMessageBox;

constexpr unsigned short kConfigPort = 18990;
constexpr wchar_t kProgram[] = L"client_with_recording_ras.exe";
constexpr char kConnectionError[] = "A connection error occurred. Try again later.";

class PptpClient : public test_support::ClientProcess {
 public:
  PptpClient() : ClientProcess(L"pptp", std::wstring(L"peers\\") + kProgram) {}
};

std::wstring RasFolder() { return test_support::KnownFolderPath(CSIDL_COMMON_APPDATA) + L"\\Veltrona Test RAS\\"; }

// The recording RAS reads these files while the client runs; a write that
// meets its read is made again.
void Control(const wchar_t* name, const std::string& text) {
  ASSERT_TRUE(WaitFor([&] { return test_support::WriteWholeFile(RasFolder() + name, text); }, 5000)) << name;
}

std::vector<std::string> Calls(const std::string& prefix = "") {
  std::istringstream lines(test_support::ReadWholeFile(RasFolder() + L"calls.txt"));
  std::vector<std::string> found;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
  }
  return found;
}

bool WaitForCall(const std::string& prefix, size_t count = 1) {
  return WaitFor([&] { return Calls(prefix).size() >= count; }, 20000);
}

std::string Hex(const void* value) {
  std::ostringstream text;
  text << "0x" << std::hex << reinterpret_cast<uintptr_t>(value);
  return text.str();
}

std::string PhonebookPath() {
  const auto folder = ReadString(HKEY_CURRENT_USER,
                                 L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", L"AppData");
  return Ascii(folder.value_or(L"")) + "\\Microsoft\\Network\\Connections\\VeltronaVPN.pbk";
}

class PptpWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::wstring demo = test_support::DemoContent();
    // The first program a fresh wineserver starts sometimes ends before it
    // listens; a second start listens.
    for (int attempt = 0; attempt < 3; ++attempt) {
      delete host_;
      host_ = new test_support::ConfigHost(kConfigPort, demo);
      if (host_->Listening()) break;
    }
  }
  static void TearDownTestSuite() {
    delete host_;
    host_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(host_->Listening());
    test_support::TerminateProcesses(kProgram);
    test_support::TerminateProcesses(L"VeltronaVpn.exe");
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\VeltronaVPN");
    PointClientAtConfigHost(kConfigPort);
    // The browser rules the client reads at start ship beside the programs.
    SetString(HKEY_LOCAL_MACHINE, kMachineKey, L"Install Path", test_support::BinFolder());
    ::CreateDirectoryW(RasFolder().c_str(), nullptr);
    for (const wchar_t* name : {L"calls.txt", L"dial.txt", L"events.txt", L"stats.txt", L"hangup.txt"}) {
      ::DeleteFileW((RasFolder() + name).c_str());
    }
  }
  void TearDown() override {
    test_support::TerminateProcesses(kProgram);
    ForgetConfigHost();
  }

  // The client's window, filled in, with Connect pressed and the dial seen.
  static void Dial(const ClientWindow& window) {
    // The server list is filled last while the window starts: once a server
    // can be chosen, nothing of the start-up overwrites the fields any more.
    ASSERT_TRUE(WaitFor([&] { return window.SelectServer(L"vpn-demo2.example"); }, 10000));
    window.SetText(IDC_VPN_ID, L"demo-id");
    window.SetText(IDC_ACTIVATION_CODE, L"demo-code");
    window.Click(IDC_CONNECT);
    const bool dialled = WaitForCall("Dial ");
    std::string boxes;
    for (const auto& box : test_support::MessageBoxes()) boxes += Ascii(box.text) + "; ";
    ASSERT_TRUE(dialled) << "status " << Ascii(window.Text(IDC_STATUS)) << ", boxes: " << boxes;
  }
  static void Report(const std::string& events) { Control(L"events.txt", events); }

  static test_support::ConfigHost* host_;
};

test_support::ConfigHost* PptpWindowTest::host_ = nullptr;

TEST_F(PptpWindowTest, TheEntryIsRewrittenAtStartAndADialFollowsRasIntoTheWindow) {
  Control(L"stats.txt", "1234 567");
  PptpClient client;
  const auto window = ClientWindow::Find();
  ASSERT_TRUE(window);
  ASSERT_TRUE(WaitForCall("SetEntryProperties "));
  const std::string pbk = PhonebookPath();
  const std::vector<std::string> written = Calls("SetEntryProperties ");
  ASSERT_EQ(written.size(), 1u);
  // Deleted first, then written; Wine reports Windows 10 to the client's
  // manifest, which takes the newest structures.
  const std::vector<std::string> all = Calls();
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(all[0], "DeleteEntry phonebook=" + pbk + " entry=Veltrona VPN Connection");
  EXPECT_EQ(all[1], "SetEntryProperties phonebook=" + pbk +
                        " entry=Veltrona VPN Connection size=5680 dwSize=5680 options=0x10 protocols=0xc device=vpn "
                        "type=2 encryption=1 strategy=1 deviceinfo=null/0 others=zero");
  EXPECT_TRUE(test_support::MessageBoxes().empty());

  ASSERT_NO_FATAL_FAILURE(Dial(*window));
  EXPECT_EQ(Calls("Dial ")[0], "Dial extensions=null phonebook=" + pbk +
                                   " dwSize=2112 entry=Veltrona VPN Connection phone=vpn-demo2.example user=demo-id "
                                   "password=demo-code domain= notifiertype=0xffffffff notifier=" +
                                   Hex(window->handle()) + " others=zero");
  // Accepted: connected at once, so the statistics timer asks RAS, before
  // any report has changed what the window shows.
  EXPECT_TRUE(window->WaitForText(IDC_BYTES_RECEIVED, L"1234 bytes", 10000)) << Ascii(window->Text(IDC_BYTES_RECEIVED));
  EXPECT_EQ(window->Text(IDC_BYTES_SENT), L"567 bytes");
  EXPECT_EQ(window->Text(IDC_STATUS), L"disconnected");
  ASSERT_FALSE(Calls("Statistics ").empty());
  EXPECT_EQ(Calls("Statistics ")[0], "Statistics handle=0x5eed dwSize=60");

  Report("2 0\n");
  EXPECT_TRUE(window->WaitForText(IDC_STATUS, L"connecting")) << Ascii(window->Text(IDC_STATUS));
  EXPECT_FALSE(window->IsEnabled(IDC_CONNECT));
  EXPECT_TRUE(window->WaitForText(IDC_BYTES_RECEIVED, L"0 bytes", 10000));

  // Other progress changes nothing; Connected hides the window.
  Report("2 0\n5 0\n");
  ASSERT_TRUE(WaitForCall("Posted state=5"));
  ::Sleep(300);
  EXPECT_EQ(window->Text(IDC_STATUS), L"connecting");
  Report("2 0\n5 0\n0x2000 0\n");
  EXPECT_TRUE(window->WaitForText(IDC_STATUS, L"connected"));
  EXPECT_TRUE(WaitFor([&] { return !window->IsVisible(); }, 10000));
  EXPECT_EQ(window->Text(IDC_CONNECT), L"Disconnect");
  EXPECT_TRUE(window->WaitForText(IDC_BYTES_RECEIVED, L"1234 bytes", 10000));
  // Every second: new counts reach the window.
  Control(L"stats.txt", "4000000000 99");
  EXPECT_TRUE(window->WaitForText(IDC_BYTES_RECEIVED, L"4000000000 bytes", 10000))
      << Ascii(window->Text(IDC_BYTES_RECEIVED));
  EXPECT_EQ(window->Text(IDC_BYTES_SENT), L"99 bytes");
  window->TrayMessage(WM_LBUTTONDBLCLK);
  EXPECT_TRUE(WaitFor([&] { return window->IsVisible(); }, 10000));
  EXPECT_TRUE(window->Screenshot(ScreenshotPath("pptp-connected.png")));

  // Disconnect hangs up, once, and the handle is let go.
  window->Click(IDC_CONNECT);
  EXPECT_TRUE(window->WaitForText(IDC_STATUS, L"disconnected"));
  EXPECT_EQ(Calls("HangUp "), std::vector<std::string>{"HangUp handle=0x5eed ok"});
  EXPECT_TRUE(window->IsEnabled(IDC_CONNECT));
  EXPECT_TRUE(window->WaitForText(IDC_BYTES_RECEIVED, L"0 bytes", 10000));
  window->TrayCommand(IDM_EXIT);
  EXPECT_TRUE(client.Ended());
  EXPECT_EQ(Calls("HangUp ").size(), 1u);
}

TEST_F(PptpWindowTest, AnErrorReportRestoresTheProxyHangsUpAndTellsTheUser) {
  const ScopedUserProxy proxy(L"proxy.example:8080");
  PptpClient client;
  const auto window = ClientWindow::Find();
  ASSERT_TRUE(window);
  ASSERT_NO_FATAL_FAILURE(Dial(*window));
  EXPECT_TRUE(WaitFor([] { return ReadDword(HKEY_CURRENT_USER, kInternetSettings, L"ProxyEnable") == 0; }, 10000));
  // RAS's fixed message, with an error on a state that would otherwise count.
  Report("2 0\n0x2000 691 fixed\n");
  const auto box = WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(Ascii(box->text), kConnectionError);
  EXPECT_EQ(box->caption, L"Veltrona VPN Free Trial");
  EXPECT_EQ(box->owner, window->handle());
  // While the message is up: disconnected, hung up, the user's proxy back.
  EXPECT_EQ(window->Text(IDC_STATUS), L"disconnected");
  EXPECT_TRUE(window->IsEnabled(IDC_CONNECT));
  EXPECT_EQ(Calls("HangUp "), std::vector<std::string>{"HangUp handle=0x5eed ok"});
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, kInternetSettings, L"ProxyEnable"), 1u);
  Answer(*box);
  EXPECT_TRUE(window->WaitForText(IDC_BYTES_RECEIVED, L"0 bytes", 10000));
}

TEST_F(PptpWindowTest, ADialRefusedAtOnceIsHungUpAndEndsInTheControllersMessage) {
  Control(L"dial.txt", "623");
  PptpClient client;
  const auto window = ClientWindow::Find();
  ASSERT_TRUE(window);
  ASSERT_NO_FATAL_FAILURE(Dial(*window));
  const auto box = WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(Ascii(box->text), kConnectionError);
  EXPECT_EQ(box->owner, window->handle());
  EXPECT_EQ(Calls("HangUp "), std::vector<std::string>{"HangUp handle=0x5eed ok"});
  Answer(*box);
  EXPECT_EQ(window->Text(IDC_STATUS), L"disconnected");
  EXPECT_TRUE(window->IsEnabled(IDC_CONNECT));
  EXPECT_TRUE(test_support::MessageBoxes().empty());
}

TEST_F(PptpWindowTest, TooLongAVpnIdIsRefusedBeforeAnyDial) {
  PptpClient client;
  const auto window = ClientWindow::Find();
  ASSERT_TRUE(window);
  ASSERT_TRUE(WaitFor([&] { return window->SelectServer(L"vpn-demo2.example"); }, 10000));
  window->SetText(IDC_VPN_ID, std::wstring(257, L'u'));
  window->SetText(IDC_ACTIVATION_CODE, L"demo-code");
  window->Click(IDC_CONNECT);
  const auto box = WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, L"The VPN ID is too long: at most 256 characters.");
  EXPECT_EQ(box->owner, window->handle());
  Answer(*box);
  const auto controller = WaitForMessageBox();
  ASSERT_TRUE(controller);
  EXPECT_EQ(Ascii(controller->text), kConnectionError);
  Answer(*controller);
  EXPECT_TRUE(Calls("Dial ").empty());
  EXPECT_EQ(window->Text(IDC_STATUS), L"disconnected");
}

TEST_F(PptpWindowTest, ConfigureOpensTheEntrysPropertiesAndExitWhileConnectedHangsUp) {
  PptpClient client;
  const auto window = ClientWindow::Find();
  ASSERT_TRUE(window);
  // The button is hidden; its command still reaches the engine.
  window->TrayCommand(IDC_CONFIGURE);
  ASSERT_TRUE(WaitForCall("Launch "));
  EXPECT_EQ(Calls("Launch ")[0], "Launch program=rasphone.exe parameters=-f \"" + PhonebookPath() +
                                     "\" -e \"Veltrona VPN Connection\" verb=open show=1 owner=" +
                                     Hex(window->handle()));
  ASSERT_NO_FATAL_FAILURE(Dial(*window));
  Report("2 0\n0x2000 0\n");
  EXPECT_TRUE(window->WaitForText(IDC_STATUS, L"connected"));
  window->TrayCommand(IDM_EXIT);
  EXPECT_TRUE(client.Ended());
  EXPECT_EQ(Calls("HangUp "), std::vector<std::string>{"HangUp handle=0x5eed ok"});
}

TEST_F(PptpWindowTest, ARasThatNeverLetsGoHoldsTheWindowForAFewSecondsOnly) {
  Control(L"hangup.txt", "stuck");
  PptpClient client;
  const auto window = ClientWindow::Find();
  ASSERT_TRUE(window);
  ASSERT_NO_FATAL_FAILURE(Dial(*window));
  Report("2 0\n0x2000 0\n");
  EXPECT_TRUE(window->WaitForText(IDC_STATUS, L"connected"));
  window->TrayMessage(WM_LBUTTONDBLCLK);
  EXPECT_TRUE(WaitFor([&] { return window->IsVisible(); }, 10000));

  window->Click(IDC_CONNECT);
  EXPECT_TRUE(window->WaitForText(IDC_STATUS, L"disconnected", 15000)) << Ascii(window->Text(IDC_STATUS));
  // One hang-up that RAS took, then the connection's status asked about
  // until the client gives up on it: three seconds of polls, not for ever.
  EXPECT_EQ(Calls("HangUp "), std::vector<std::string>{"HangUp handle=0x5eed stuck"});
  const std::vector<std::string> polls = Calls("ConnectStatus ");
  EXPECT_EQ(polls.size(), 60u);
  for (const std::string& poll : polls) EXPECT_EQ(poll, "ConnectStatus handle=0x5eed live");
  // The handle is let go: the window dials anew, and Exit hangs up only
  // the new connection.
  EXPECT_TRUE(window->IsEnabled(IDC_CONNECT));
  window->Click(IDC_CONNECT);
  ASSERT_TRUE(WaitForCall("Dial ", 2));
  Control(L"hangup.txt", "");
  window->TrayCommand(IDM_EXIT);
  EXPECT_TRUE(client.Ended());
  EXPECT_EQ(Calls("HangUp ").size(), 2u);
}

// Wine reports the version its per-program setting names.
class WineVersion {
 public:
  explicit WineVersion(const std::wstring& version) {
    SetString(HKEY_CURRENT_USER, key_.c_str(), L"Version", version);
  }
  ~WineVersion() { ::RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }

 private:
  std::wstring key_ = std::wstring(L"Software\\Wine\\AppDefaults\\") + kProgram;
};

TEST_F(PptpWindowTest, XpGetsItsOwnStructureSizesAndWindows2000IsToldAndNeverDials) {
  {
    const WineVersion xp(L"winxp");
    PptpClient client;
    const auto window = ClientWindow::Find();
    ASSERT_TRUE(window);
    ASSERT_TRUE(WaitForCall("SetEntryProperties "));
    EXPECT_NE(Calls("SetEntryProperties ")[0].find(" size=5616 dwSize=5616 "), std::string::npos)
        << Calls("SetEntryProperties ")[0];
    ASSERT_NO_FATAL_FAILURE(Dial(*window));
    EXPECT_NE(Calls("Dial ")[0].find(" dwSize=2108 "), std::string::npos) << Calls("Dial ")[0];
  }
  test_support::TerminateProcesses(kProgram);
  ::DeleteFileW((RasFolder() + L"calls.txt").c_str());
  const WineVersion old_windows(L"win2k");
  PptpClient client;
  const auto box = WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, L"Veltrona VPN needs Windows XP or later for a PPTP connection.");
  EXPECT_EQ(box->owner, nullptr);
  Answer(*box);
  const auto window = ClientWindow::Find();
  ASSERT_TRUE(window);
  ASSERT_TRUE(WaitFor([&] { return window->SelectServer(L"vpn-demo2.example"); }, 10000));
  window->SetText(IDC_VPN_ID, L"demo-id");
  window->SetText(IDC_ACTIVATION_CODE, L"demo-code");
  window->Click(IDC_CONNECT);
  const auto again = WaitForMessageBox();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->text, L"Veltrona VPN needs Windows XP or later for a PPTP connection.");
  EXPECT_EQ(again->owner, window->handle());
  Answer(*again);
  const auto controller = WaitForMessageBox();
  ASSERT_TRUE(controller);
  EXPECT_EQ(Ascii(controller->text), kConnectionError);
  Answer(*controller);
  EXPECT_TRUE(Calls("SetEntryProperties ").empty());
  EXPECT_TRUE(Calls("Dial ").empty());
}

}  // namespace
}  // namespace veltrona
