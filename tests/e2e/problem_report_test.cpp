// The problem report through the real client: the "Report a problem" link
// opens "Creating support ticket" with the diagnostics gathered on this
// machine, the link below the agree box shows and hides them, and Submit
// refuses a short description, reports a failed upload and delivers the
// report to the TLS report host.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

#include "base/unique_handle_win.h"
#include "client/resources/resource.h"
#include "tests/win_test_support/client_window_win.h"
#include "tests/win_test_support/config_host_win.h"
#include "tests/win_test_support/files_win.h"
#include "tests/win_test_support/process_win.h"
#include "tests/win_test_support/registry_values_win.h"
#include "tests/win_test_support/service_fixture_win.h"
#include "tests/win_test_support/tls_report_host_win.h"

namespace veltrona {
namespace {

using test_support::Answer;
using test_support::ClientWindow;
using test_support::ForgetConfigHost;
using test_support::kUserKey;
using test_support::PointClientAtConfigHost;
using test_support::WaitFor;
using test_support::WaitForMessageBox;

constexpr unsigned short kConfigPort = 18990;
// Gathering runs ipconfig and route print first.
constexpr DWORD kDialogWaitMs = 90000;

std::wstring ItemText(HWND dialog, int id) {
  const HWND item = ::GetDlgItem(dialog, id);
  DWORD_PTR length = 0;
  ::SendMessageTimeoutW(item, WM_GETTEXTLENGTH, 0, 0, SMTO_BLOCK, 5000, &length);
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  ::SendMessageTimeoutW(item, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_BLOCK, 5000,
                        &copied);
  text.resize(copied);
  return text;
}

std::string Ansi(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

void SetItemText(HWND dialog, int id, const std::wstring& text) {
  ::SendMessageTimeoutW(::GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_BLOCK,
                        5000, nullptr);
}

RECT WindowArea(HWND window) {
  RECT area{};
  ::GetWindowRect(window, &area);
  return area;
}

int Height(HWND window) {
  const RECT area = WindowArea(window);
  return area.bottom - area.top;
}

// A message box shows an icon when its icon control is there and visible
// (id 20 on Windows, stc1 under Wine).
bool ShowsIcon(HWND box) {
  for (const int id : {20, 0x0440}) {
    const HWND icon = ::GetDlgItem(box, id);
    if (icon != nullptr && ::IsWindowVisible(icon) && ::SendMessageW(icon, STM_GETICON, 0, 0) != 0) return true;
  }
  return false;
}

// The user's view of the link: a click on its "here". The link's place in
// the text depends on the font, so the click moves along the line until the
// dialog answers.
bool ClickShowHideLink(HWND dialog) {
  const HWND link = ::GetDlgItem(dialog, IDC_REPORT_SHOW_LINK);
  const int before = Height(dialog);
  RECT area{};
  ::GetClientRect(link, &area);
  for (int x = 2; x < area.right; x += 3) {
    const LPARAM point = MAKELPARAM(x, area.bottom / 2);
    ::PostMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, point);
    ::PostMessageW(link, WM_LBUTTONUP, 0, point);
    if (WaitFor([&] { return Height(dialog) != before; }, 150)) return true;
  }
  return false;
}

// A file replaced for one test and put back afterwards (or removed when it
// was not there).
class SwappedFile {
 public:
  SwappedFile(std::wstring path, std::optional<std::string> content) : path_(std::move(path)) {
    had_ = test_support::FileExists(path_);
    if (had_) earlier_ = test_support::ReadWholeFile(path_);
    ::DeleteFileW(path_.c_str());
    if (content) (void)test_support::WriteWholeFile(path_, *content);
  }
  ~SwappedFile() {
    ::DeleteFileW(path_.c_str());
    if (had_) (void)test_support::WriteWholeFile(path_, earlier_);
  }
  SwappedFile(const SwappedFile&) = delete;
  SwappedFile& operator=(const SwappedFile&) = delete;

 private:
  std::wstring path_;
  bool had_ = false;
  std::string earlier_;
};

// A folder made for one test when it was missing, and removed again (when
// empty) so that later tests find the prefix as the service left it: the
// service makes its own folder and does not trust one made before it.
class MadeFolder {
 public:
  explicit MadeFolder(std::wstring path) : path_(std::move(path)) {
    made_ = ::CreateDirectoryW(path_.c_str(), nullptr) != FALSE;
  }
  ~MadeFolder() {
    if (made_) ::RemoveDirectoryW(path_.c_str());
  }
  MadeFolder(const MadeFolder&) = delete;
  MadeFolder& operator=(const MadeFolder&) = delete;

 private:
  std::wstring path_;
  bool made_ = false;
};

class ProblemReportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::wstring demo = test_support::DemoContent();
    host_ = new test_support::ConfigHost(kConfigPort, demo);
  }
  static void TearDownTestSuite() {
    delete host_;
    host_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(host_->Listening());
    test_support::TerminateProcesses(L"VeltronaVpn.exe");
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kUserKey);
    PointClientAtConfigHost(kConfigPort);
  }
  void TearDown() override {
    test_support::TerminateProcesses(L"VeltronaVpn.exe");
    ForgetConfigHost();
  }

  // Starts the client, types the VPN ID, clicks "Report a problem" and
  // returns the dialog once it shows.
  HWND OpenReport(const std::wstring& vpn_id) {
    if (!client_) client_.emplace();
    window_ = ClientWindow::Find();
    if (!window_) return nullptr;
    if (!WaitFor([&] { return window_->IsVisible(); }, 10000)) return nullptr;
    window_->SetText(IDC_VPN_ID, vpn_id);
    return window_->OpenProblemReport(kDialogWaitMs);
  }

  static test_support::ConfigHost* host_;
  std::optional<test_support::ClientProcess> client_;
  std::optional<ClientWindow> window_;
};

test_support::ConfigHost* ProblemReportTest::host_ = nullptr;

std::wstring LogPath() { return test_support::InstalledService::DataFolder() + L"\\log.txt"; }
std::wstring ServiceLogPath() { return test_support::InstalledService::ServiceFolder() + L"\\service.log"; }

TEST_F(ProblemReportTest, TheDialogShowsTheVpnIdAndTheDiagnosticsAndTheLinkGrowsAndShrinksIt) {
  MadeFolder service_folder(test_support::InstalledService::ServiceFolder());
  MadeFolder data_folder(test_support::InstalledService::DataFolder());
  SwappedFile openvpn_log(LogPath(), "OpenVPN 2.6 started\r\nInitialization Sequence Completed\r\n");
  SwappedFile service_log(ServiceLogPath(), std::string("Service started\r\nWaiting for the client\r\n\0junk", 47));
  const HWND dialog = OpenReport(L"demo-id");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(::GetWindow(dialog, GW_OWNER), window_->handle());
  EXPECT_EQ(ItemText(dialog, IDC_REPORT_VPN_ID), L"demo-id");
  EXPECT_EQ(ItemText(dialog, IDC_REPORT_EMAIL), L"");
  EXPECT_EQ(::SendMessageW(::GetDlgItem(dialog, IDC_REPORT_AGREE), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(dialog, IDC_REPORT_DIAGNOSTICS)));
  EXPECT_EQ(ItemText(dialog, IDC_REPORT_SHOW_LINK), L"Click <a>here</a> to see its contents");

  const std::string text = Ansi(ItemText(dialog, IDC_REPORT_DIAGNOSTICS));
  const size_t first_line = text.find("\r\n");
  ASSERT_NE(first_line, std::string::npos) << text;
  EXPECT_GT(first_line, 0u) << "the time comes first";
  const std::string second_lines = "\r\nVeltrona VPN Free Trial client ver 3.2rc1\r\nWindows version ";
  EXPECT_EQ(text.substr(first_line, second_lines.size()), second_lines);
  EXPECT_NE(text.find(" build "), std::string::npos);
  const size_t ipconfig = text.find("\r\n\r\nIPCONFIG:\r\n");
  const size_t route = text.find("\r\n\r\nROUTE PRINT:\r\n");
  ASSERT_NE(ipconfig, std::string::npos) << text;
  ASSERT_NE(route, std::string::npos) << text;
  const std::string ipconfig_part = text.substr(ipconfig + 15, route - ipconfig - 15);
  // The command's own dotted lines, or the block that says why there are none.
  EXPECT_TRUE(ipconfig_part.find(". . . :") != std::string::npos ||
              ipconfig_part.starts_with("Failed to execute ipconfig\r\nError code : 0x"))
      << ipconfig_part;
  const size_t openvpn = text.find("\r\nOPENVPN LOG:\r\n\r\n");
  ASSERT_NE(openvpn, std::string::npos) << text;
  const std::string route_part = text.substr(route + 18, openvpn - route - 18);
  EXPECT_FALSE(route_part.empty());
  EXPECT_FALSE(route_part.starts_with("Failed to delete")) << route_part;
  EXPECT_TRUE(text.ends_with("\r\nOPENVPN LOG:\r\n\r\nOpenVPN 2.6 started\r\nInitialization Sequence Completed\r\n"
                             "\r\nSERVICE LOG:\r\n\r\nService started\r\nWaiting for the client\r\n"))
      << text.substr(openvpn);
  EXPECT_FALSE(test_support::FileExists(test_support::InstalledService::DataFolder() + L"\\out.tmp"));

  const RECT first = WindowArea(dialog);
  const RECT submit_first = WindowArea(::GetDlgItem(dialog, IDOK));
  const RECT cancel_first = WindowArea(::GetDlgItem(dialog, IDCANCEL));
  ASSERT_TRUE(ClickShowHideLink(dialog));
  const RECT grown = WindowArea(dialog);
  EXPECT_EQ(grown.bottom - grown.top, first.bottom - first.top + 200);
  EXPECT_EQ(grown.left, first.left);
  EXPECT_EQ(grown.top, first.top);
  EXPECT_EQ(WindowArea(::GetDlgItem(dialog, IDOK)).top, submit_first.top + 200);
  EXPECT_EQ(WindowArea(::GetDlgItem(dialog, IDCANCEL)).top, cancel_first.top + 200);
  const HWND box = ::GetDlgItem(dialog, IDC_REPORT_DIAGNOSTICS);
  EXPECT_TRUE(::IsWindowVisible(box));
  EXPECT_EQ(Height(box), 200);
  EXPECT_EQ(ItemText(dialog, IDC_REPORT_SHOW_LINK), L"Click <a>here</a> to hide its contents");
  ::Sleep(1000);
  EXPECT_TRUE(test_support::Screenshot(dialog, test_support::ScreenshotPath("problem-report-diagnostics.png")));

  ASSERT_TRUE(ClickShowHideLink(dialog));
  const RECT back = WindowArea(dialog);
  EXPECT_EQ(back.bottom - back.top, first.bottom - first.top);
  EXPECT_EQ(WindowArea(::GetDlgItem(dialog, IDOK)).top, submit_first.top);
  EXPECT_FALSE(::IsWindowVisible(box));
  EXPECT_EQ(ItemText(dialog, IDC_REPORT_SHOW_LINK), L"Click <a>here</a> to see its contents");

  ::PostMessageW(::GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
  EXPECT_TRUE(WaitFor([&] { return !::IsWindow(dialog); }, 10000));
  EXPECT_FALSE(client_->Ended(0));
}

TEST_F(ProblemReportTest, AnEmptyVpnIdAndNoServiceLogShowAsSuch) {
  SwappedFile service_log(ServiceLogPath(), std::nullopt);
  const HWND dialog = OpenReport(L"");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(ItemText(dialog, IDC_REPORT_VPN_ID), L"");
  const std::string text = Ansi(ItemText(dialog, IDC_REPORT_DIAGNOSTICS));
  const size_t at = text.find("\r\nSERVICE LOG:\r\n\r\nCannot open service log\r\nError code : 0x");
  ASSERT_NE(at, std::string::npos) << text;
  const std::string block = text.substr(at + 18);
  EXPECT_TRUE(block.starts_with("Cannot open service log\r\nError code : 0x2\r\n") ||
              block.starts_with("Cannot open service log\r\nError code : 0x3\r\n"))
      << block;
  // The system's own text follows, then the block's line end.
  EXPECT_GT(block.size(), std::string("Cannot open service log\r\nError code : 0x2\r\n\r\n").size()) << block;
  EXPECT_TRUE(block.ends_with("\r\n\r\n")) << block;
}

TEST_F(ProblemReportTest, FourCharactersAreRefusedAndAFailedUploadKeepsTheDialogAndItsFields) {
  test_support::BillingHostOverride billing(L"127.0.0.1:1");
  ASSERT_TRUE(billing.Set());
  const HWND dialog = OpenReport(L"demo-id");
  ASSERT_NE(dialog, nullptr);
  const std::wstring diagnostics = ItemText(dialog, IDC_REPORT_DIAGNOSTICS);
  SetItemText(dialog, IDC_REPORT_EMAIL, L"user@example.net");
  SetItemText(dialog, IDC_REPORT_DESCRIPTION, L"abcd");
  ::PostMessageW(::GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  auto box = WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, L"Please describe your problem");
  EXPECT_EQ(box->caption, L"Veltrona VPN Free Trial");
  EXPECT_EQ(box->owner, dialog);
  EXPECT_TRUE(ShowsIcon(box->window));
  Answer(*box);

  SetItemText(dialog, IDC_REPORT_DESCRIPTION, L"abcde");
  ::PostMessageW(::GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  box = WaitForMessageBox(60000);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, L"There were problems while uploading your report\nPlease try again later");
  EXPECT_EQ(box->caption, L"Veltrona VPN Free Trial");
  EXPECT_EQ(box->owner, dialog);
  EXPECT_FALSE(ShowsIcon(box->window));
  Answer(*box);
  EXPECT_TRUE(::IsWindow(dialog));
  EXPECT_EQ(ItemText(dialog, IDC_REPORT_VPN_ID), L"demo-id");
  EXPECT_EQ(ItemText(dialog, IDC_REPORT_EMAIL), L"user@example.net");
  EXPECT_EQ(ItemText(dialog, IDC_REPORT_DESCRIPTION), L"abcde");
  // Not gathered again.
  EXPECT_EQ(ItemText(dialog, IDC_REPORT_DIAGNOSTICS), diagnostics);
}

// Submits with the agree box as given and returns the request's body.
std::optional<std::string> Submit(const test_support::TlsReportHost& host, int number, HWND dialog, bool agree) {
  if (!agree) ::SendMessageW(::GetDlgItem(dialog, IDC_REPORT_AGREE), BM_CLICK, 0, 0);
  SetItemText(dialog, IDC_REPORT_EMAIL, L"user@example.net");
  SetItemText(dialog, IDC_REPORT_DESCRIPTION, L"It drops\r\nevery hour");
  ::PostMessageW(::GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  const auto box = WaitForMessageBox(60000);
  EXPECT_TRUE(box);
  if (!box) return std::nullopt;
  EXPECT_EQ(box->text, L"Your report has been successfully delivered") << host.HandshakeLog();
  EXPECT_EQ(box->caption, L"Veltrona VPN Free Trial");
  EXPECT_EQ(box->owner, dialog);
  EXPECT_TRUE(ShowsIcon(box->window));
  Answer(*box);
  EXPECT_TRUE(WaitFor([&] { return !::IsWindow(dialog); }, 10000));
  const std::optional<std::string> request = host.Request(number);
  EXPECT_TRUE(request) << host.HandshakeLog();
  if (!request) return std::nullopt;
  EXPECT_EQ(request->rfind("POST /toolreport.php HTTP/1.1\r\n", 0), 0u);
  return request->substr(request->find("\r\n\r\n") + 4);
}

std::string ExpectedBody(const std::string& vpn_id, const std::string& log) {
  const std::string delimiter = "-----------------------------7d434218508bc";
  auto field = [&](const std::string& name, const std::string& value) {
    return "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n" + delimiter;
  };
  return delimiter + field("vpnid", vpn_id) + field("email", "user@example.net") +
         field("problem", "It drops\r\nevery hour") + field("log", log) + "--\r\n";
}

TEST_F(ProblemReportTest, TheReportHostReceivesTheFourFieldsWithOrWithoutTheLog) {
  // Host and authority first: a process's chain engine under Wine keeps the
  // roots it saw when it first looked.
  test_support::TlsReportHost host(18446);
  ASSERT_TRUE(host.Listening());
  test_support::TrustedRoot trusted(host.Authority());
  ASSERT_TRUE(trusted.Added());
  // By name: Wine matches the certificate's DNS names only.
  test_support::BillingHostOverride billing(L"localhost:18446");
  ASSERT_TRUE(billing.Set());

  HWND dialog = OpenReport(L"demo-id");
  ASSERT_NE(dialog, nullptr);
  std::optional<std::string> body = Submit(host, 1, dialog, false);
  ASSERT_TRUE(body);
  EXPECT_EQ(*body, ExpectedBody("demo-id", "No log attached"));
  EXPECT_FALSE(client_->Ended(0));

  dialog = OpenReport(L"second-id");
  ASSERT_NE(dialog, nullptr);
  const std::string diagnostics = Ansi(ItemText(dialog, IDC_REPORT_DIAGNOSTICS));
  ASSERT_FALSE(diagnostics.empty());
  body = Submit(host, 2, dialog, true);
  ASSERT_TRUE(body);
  EXPECT_EQ(*body, ExpectedBody("second-id", diagnostics));
}

}  // namespace
}  // namespace veltrona
