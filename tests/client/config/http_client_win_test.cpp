#include "client/config/http_client_win.h"

#include "client/config/server_list_win.h"
#include "client/config/settings_store_win.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/win_test_support/config_host_win.h"
#include "tests/win_test_support/files_win.h"
#include "tests/win_test_support/recorded_messages_win.h"
#include "tests/win_test_support/registry_sandbox_win.h"

namespace veltrona::config {
namespace {

using test_support::ConfigHost;
using test_support::TempFolder;

class ConfigHttpGet : public ::testing::Test {
 protected:
  // One port per test, so a socket one test leaves behind never answers another.
  void Start(unsigned short port, const std::wstring& switches = L"") {
    port_ = port;
    host_ = std::make_unique<ConfigHost>(port, served_.Path(), switches, logs_.Path() + L"\\requests.log");
    ASSERT_TRUE(host_->Listening());
  }
  HostAddress Address() const { return HostAddress{u"127.0.0.1", port_}; }
  std::string Requests() const { return logs_.Read(L"requests.log"); }

  TempFolder served_{L"veltrona-served-"};
  TempFolder logs_{L"veltrona-logs-"};
  unsigned short port_ = 0;
  std::unique_ptr<ConfigHost> host_;
};

TEST_F(ConfigHttpGet, BodyArrivesAndTheRequestCarriesTheFixedParts) {
  const std::string document = "<config><servers><host hostname=\"vpn1\"/></servers></config>";
  served_.Write(L"servers.win.xml", document);
  Start(18081);
  std::string body = "kept:";
  const DWORD result = HttpGet(Address(), L"servers.win.xml?v=3.2", body);
  EXPECT_EQ(result, document.size());
  EXPECT_EQ(body, "kept:" + document);
  const std::string requests = Requests();
  EXPECT_NE(requests.find("GET /servers.win.xml?v=3.2 HTTP/1.1\r\n"), std::string::npos) << requests;
  EXPECT_NE(requests.find("User-Agent: VeltronaVPN\r\n"), std::string::npos) << requests;
  EXPECT_NE(requests.find("Accept: */*\r\n"), std::string::npos) << requests;
  EXPECT_NE(requests.find("Content-Type: application/x-www-form-urlencoded\r\n"), std::string::npos) << requests;
}

TEST_F(ConfigHttpGet, NotFoundPageIsReturnedWithItsBody) {
  Start(18082, L"--not-found");
  std::string body;
  const DWORD result = HttpGet(Address(), L"/servers.win.xml?v=3.2", body);
  EXPECT_GT(result, 0u);
  EXPECT_EQ(body.size(), result);
  EXPECT_NE(body.find("404 Not Found"), std::string::npos);
}

TEST_F(ConfigHttpGet, BodyWithoutContentLengthIsReadToItsEnd) {
  std::string large(100000, 'x');
  for (size_t i = 0; i < large.size(); i += 7) large[i] = static_cast<char>('a' + i % 26);
  served_.Write(L"keys.zip", large);
  Start(18083, L"--no-length");
  std::string body;
  EXPECT_EQ(HttpGet(Address(), L"/keys.zip", body), large.size());
  EXPECT_EQ(body, large);
}

TEST_F(ConfigHttpGet, HugeContentLengthIsRefusedWithoutABody) {
  served_.Write(L"template.ovpn", "remote %ADDRESS%\n");
  Start(18084, L"--huge-length");
  std::string body;
  EXPECT_EQ(HttpGet(Address(), L"/template.ovpn", body), 0u);
  EXPECT_TRUE(body.empty());
}

TEST_F(ConfigHttpGet, ShortBodyKeepsTheAnnouncedLengthWithZeros) {
  served_.Write(L"template.ovpn", "client\n");
  Start(18085, L"--short");
  std::string body;
  EXPECT_EQ(HttpGet(Address(), L"/template.ovpn", body), 7u);
  EXPECT_EQ(body, std::string("client\n") + std::string(10, '\0'));
}

TEST_F(ConfigHttpGet, HostThatStopsSendingIsGivenUpOn) {
  served_.Write(L"template.ovpn", "client\n");
  Start(18086, L"--slow");
  HttpTimeouts timeouts;
  timeouts.receive_ms = 1000;
  std::string body;
  EXPECT_EQ(HttpGet(Address(), L"/template.ovpn", body, timeouts), 0u);
  EXPECT_EQ(body, std::string(7, '\0'));
}

TEST_F(ConfigHttpGet, NothingListeningGivesZero) {
  std::string body;
  EXPECT_EQ(HttpGet(HostAddress{u"127.0.0.1", 18087}, L"/servers.win.xml", body), 0u);
  EXPECT_TRUE(body.empty());
}

TEST_F(ConfigHttpGet, PathThatWouldSplitTheRequestIsNotSent) {
  served_.Write(L"servers.win.xml", "<config/>");
  Start(18088);
  std::string body;
  EXPECT_EQ(HttpGet(Address(), L"/servers.win.xml\r\nX-Injected: 1", body), 0u);
  EXPECT_EQ(HttpGet(Address(), L"/servers.win.xml", body), 9u);
  EXPECT_EQ(Requests().find("X-Injected"), std::string::npos);
}

// --- The server list, loaded into a real sorted drop-down box. ---

using test_support::UserHiveSandbox;

// A hidden window holding the server box and the Pixelguard check box with
// the main window's control ids.
class ServerWindow {
 public:
  ServerWindow() {
    window_ = ::CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED, 0, 0, 300, 200, nullptr, nullptr, nullptr, nullptr);
    box_ = ::CreateWindowExW(0, L"COMBOBOX", L"", WS_CHILD | CBS_DROPDOWNLIST | CBS_SORT, 0, 0, 200, 100, window_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_SERVER)), nullptr, nullptr);
    ::CreateWindowExW(0, L"BUTTON", L"Pixelguard", WS_CHILD | BS_AUTOCHECKBOX, 0, 30, 100, 20, window_,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PIXELGUARD)), nullptr, nullptr);
  }
  ~ServerWindow() { ::DestroyWindow(window_); }
  HWND Get() const { return window_; }
  bool Ready() const { return window_ != nullptr && box_ != nullptr; }

  void SetPixelguard(bool on) { ::CheckDlgButton(window_, IDC_PIXELGUARD, on ? BST_CHECKED : BST_UNCHECKED); }
  void Select(int index) { ::SendMessageW(box_, CB_SETCURSEL, static_cast<WPARAM>(index), 0); }
  std::vector<std::wstring> Items() const {
    std::vector<std::wstring> items;
    const LRESULT count = ::SendMessageW(box_, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      wchar_t text[260] = {};
      ::SendMessageW(box_, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
      items.emplace_back(text);
    }
    return items;
  }
  LRESULT Selected() const { return ::SendMessageW(box_, CB_GETCURSEL, 0, 0); }

 private:
  HWND window_ = nullptr;
  HWND box_ = nullptr;
};

std::string ServerDocument(const std::string& hosts) {
  return "<?xml version=\"1.0\"?><config><servers>" + hosts +
         "</servers><application version=\"3.2\" url=\"https://www.veltrona.example/\"/></config>";
}

class ConfigServerList : public ConfigHttpGet {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sandbox_.Ready());
    ASSERT_TRUE(window_.Ready());
  }
  void Load() { LoadServerList(window_.Get(), Address(), servers_); }
  std::wstring Cached() const {
    std::wstring text;
    return ReadStringSetting(SettingId::kConfigCache, text) ? text : L"(none)";
  }

  UserHiveSandbox sandbox_{L"servers"};
  ServerWindow window_;
  ServerMap servers_;
  test_support::RecordedMessages messages_;
};

const char kBThenA[] = "<host hostname=\"b\" default=\"True\"/><host hostname=\"a\"/>";

TEST_F(ConfigServerList, SortedBoxSelectsTheDefaultAndTheDocumentIsCached) {
  const std::string document = ServerDocument(kBThenA);
  served_.Write(L"servers.win.xml", document);
  Start(18070);
  Load();
  EXPECT_EQ(window_.Items(), (std::vector<std::wstring>{L"a", L"b"}));
  EXPECT_EQ(window_.Selected(), 1);
  EXPECT_EQ(servers_, (ServerMap{{u"a", u""}, {u"b", u""}}));
  EXPECT_EQ(Cached(), std::wstring(document.begin(), document.end()));
  EXPECT_TRUE(messages_.Texts().empty());
  EXPECT_NE(Requests().find("GET /servers.win.xml?v=3.2 HTTP/1.1"), std::string::npos);
}

// A list the box shows is also kept for the next start: 30,000 servers make a
// document of over 2 MB, twice that as the cached UTF-16 text.
TEST_F(ConfigServerList, AThirtyThousandServerListIsListedAndCached) {
  std::string hosts;
  for (int i = 0; i < 30000; ++i) {
    hosts += "<host hostname=\"vpn" + std::to_string(100000 + i) + ".veltrona-servers.example\" default=\"" +
             (i == 29999 ? "True" : "False") + "\" pixelguard_enabled=\"False\"/>";
  }
  const std::string document = ServerDocument(hosts);
  ASSERT_GT(document.size(), 2u * 1024 * 1024);
  served_.Write(L"servers.win.xml", document);
  Start(18079);
  Load();
  EXPECT_EQ(window_.Items().size(), 30000u);
  EXPECT_EQ(servers_.size(), 30000u);
  EXPECT_EQ(Cached(), std::wstring(document.begin(), document.end()));
  EXPECT_TRUE(messages_.Texts().empty());
}

TEST_F(ConfigServerList, DefaultIsSelectedByItsExactName) {
  // Names that differ only in case are different servers; whichever of the
  // two the box sorts first, the default is the one selected.
  for (const std::string upper_default : {"True", "False"}) {
    const std::string lower_default = upper_default == "True" ? "False" : "True";
    served_.Write(L"servers.win.xml",
                  ServerDocument("<host hostname=\"VPN.example\" default=\"" + upper_default +
                                 "\"/><host hostname=\"vpn.example\" default=\"" + lower_default + "\"/>"));
    if (!host_) Start(18078);
    ServerWindow fresh;
    ASSERT_TRUE(fresh.Ready());
    LoadServerList(fresh.Get(), Address(), servers_);
    ASSERT_EQ(fresh.Items().size(), 2u);
    ASSERT_NE(fresh.Selected(), CB_ERR);
    EXPECT_EQ(fresh.Items()[static_cast<size_t>(fresh.Selected())],
              upper_default == "True" ? L"VPN.example" : L"vpn.example");
  }
}

TEST_F(ConfigServerList, PixelguardListsOnlyExactlyTrueServers) {
  served_.Write(L"servers.win.xml",
                ServerDocument("<host hostname=\"plain\"/><host hostname=\"guarded\" pixelguard_enabled=\"True\"/>"
                               "<host hostname=\"lower\" pixelguard_enabled=\"true\"/>"));
  Start(18071);
  window_.SetPixelguard(true);
  Load();
  EXPECT_EQ(window_.Items(), (std::vector<std::wstring>{L"guarded"}));
  window_.SetPixelguard(false);
  Load();
  EXPECT_EQ(window_.Items(), (std::vector<std::wstring>{L"lower", L"plain"}));
}

TEST_F(ConfigServerList, ReloadKeepsAnEarlierPosition) {
  served_.Write(L"servers.win.xml",
                ServerDocument("<host hostname=\"c\"/><host hostname=\"a\" default=\"True\"/><host hostname=\"b\"/>"));
  Start(18072);
  Load();
  EXPECT_EQ(window_.Selected(), 0);
  window_.Select(2);
  Load();
  EXPECT_EQ(window_.Selected(), 2);
}

TEST_F(ConfigServerList, OfflineStartListsTheCachedServersAfterTheMessage) {
  const std::string cached = ServerDocument(kBThenA);
  ASSERT_TRUE(WriteStringSetting(SettingId::kConfigCache, std::wstring(cached.begin(), cached.end())));
  port_ = 18073;  // nothing listens here
  Load();
  EXPECT_EQ(messages_.Texts(), (std::vector<std::wstring>{L"A connection error occurred. Try again later."}));
  EXPECT_EQ(messages_.All()[0].caption, L"Veltrona VPN Free Trial");
  EXPECT_EQ(messages_.All()[0].style, static_cast<UINT>(MB_ICONWARNING));
  EXPECT_EQ(messages_.All()[0].owner, window_.Get());
  EXPECT_EQ(window_.Items(), (std::vector<std::wstring>{L"a", L"b"}));
  EXPECT_EQ(window_.Selected(), 1);
}

TEST_F(ConfigServerList, NotFoundPageNeitherReplacesTheCacheNorFillsTheBox) {
  Start(18074, L"--not-found");
  Load();
  EXPECT_EQ(messages_.Texts().size(), 1u);
  EXPECT_TRUE(window_.Items().empty());
  EXPECT_EQ(Cached(), L"(none)");
}

TEST_F(ConfigServerList, UpdateCheckReadsTheAnnouncedVersion) {
  served_.Write(L"servers.win.xml",
                "<config><application version=\"3.10\" url=\"https://www.veltrona.example/new\"/></config>");
  Start(18075);
  UpdateCheck check;
  EXPECT_TRUE(CheckForUpdate(Address(), check));
  EXPECT_EQ(check.version, u"3.10");
  EXPECT_EQ(check.url, u"https://www.veltrona.example/new");
  EXPECT_TRUE(messages_.Texts().empty());
}

TEST_F(ConfigServerList, UpdateCheckWithTheSameVersionIsNotNewer) {
  served_.Write(L"servers.win.xml", ServerDocument(kBThenA));
  Start(18076);
  UpdateCheck check;
  EXPECT_FALSE(CheckForUpdate(Address(), check));
  EXPECT_EQ(check.version, u"3.2");
}

TEST_F(ConfigServerList, FailedUpdateDownloadIsReported) {
  port_ = 18077;
  UpdateCheck check;
  EXPECT_FALSE(CheckForUpdate(Address(), check));
  EXPECT_EQ(messages_.Texts(),
            (std::vector<std::wstring>{L"Unable to check if newer version is available.\nPlease contact support"}));
  EXPECT_EQ(messages_.All()[0].caption, L"Veltrona VPN Free Trial");
  EXPECT_EQ(messages_.All()[0].style, static_cast<UINT>(MB_ICONWARNING));
  EXPECT_EQ(messages_.All()[0].owner, nullptr);
}

}  // namespace
}  // namespace veltrona::config
