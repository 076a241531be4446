#include "client/privacy/history_cleaner_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "tests/test_text.h"
#include "tests/win_test_support/files_win.h"
#include "tests/win_test_support/links_win.h"
#include "tests/win_test_support/process_win.h"
#include "tests/win_test_support/recorded_messages_win.h"
#include "tests/win_test_support/registry_sandbox_win.h"
#include "tests/win_test_support/registry_values_win.h"

namespace veltrona::privacy {
namespace {

namespace fs = std::filesystem;
using test_support::Ascii;
using test_support::FileExists;

constexpr wchar_t kChrome[] = L"Local\\Google\\Chrome\\User Data\\Default\\";
constexpr wchar_t kOpera[] = L"Roaming\\Opera Software\\Opera Stable\\";
constexpr wchar_t kSafari[] = L"Roaming\\Apple Computer\\Safari\\";
constexpr wchar_t kFirefox[] = L"Roaming\\Mozilla\\Firefox\\Profiles\\x1y2z3.default-release\\";

// What the shipped rules delete in the fake profile, and what they must leave.
const std::vector<std::wstring> kChromeTraces = {
    L"Network\\Cookies", L"Network\\Cookies-journal", L"History", L"Visited Links", L"Top Sites",
    L"DownloadMetadata", L"Cache\\Cache_Data\\index", L"Cache\\Cache_Data\\f_000001", L"Code Cache\\js\\index",
    L"GPUCache\\data_0", L"Sessions\\Session_13340000000000000", L"Sessions\\Tabs_13340000000000000",
    L"Session Storage\\000003.log"};
const std::vector<std::wstring> kChromeKept = {L"Bookmarks", L"Login Data", L"Preferences", L"Web Data",
                                               L"Extensions\\abcdefghijklmnop\\1.0_0\\manifest.json"};

class HistoryCleanerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sandbox_.Ready()); }
  void TearDown() override {
    for (const std::wstring& link : links_) test_support::RemoveFolderLink(link);
  }

  std::wstring Path(const std::wstring& relative) const { return profile_.Path() + L"\\" + relative; }
  void Put(const std::wstring& relative) {
    fs::create_directories(fs::path(Path(relative)).parent_path());
    ASSERT_TRUE(test_support::WriteWholeFile(Path(relative), "trace")) << Ascii(relative);
  }
  void PutAll(const std::wstring& folder, const std::vector<std::wstring>& files) {
    for (const std::wstring& file : files) Put(folder + file);
  }
  // Every named file gone (`gone`) or still there.
  void ExpectFiles(const std::wstring& folder, const std::vector<std::wstring>& files, bool gone) const {
    for (const std::wstring& file : files) EXPECT_EQ(FileExists(Path(folder + file)), !gone) << Ascii(folder + file);
  }
  void SetDefaultBrowser(std::wstring_view browser) const {
    test_support::SetString(HKEY_CURRENT_USER, test_support::kDefaultBrowserKey, nullptr, std::wstring(browser));
  }
  ProfileFolders Folders() const {
    return {ToU16(Path(L"Local")), ToU16(Path(L"Roaming")), ToU16(Path(L"Profile"))};
  }
  static std::u16string ToU16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }
  HistoryCleaner ShippedRules() const { return HistoryCleaner(test_support::BinFolder() + L"SurfingPrefs.xml", Folders()); }

  test_support::UserHiveSandbox sandbox_{L"history"};
  test_support::RecordedMessages messages_;
  test_support::TempFolder profile_{L"veltrona-profile-"};
  std::vector<std::wstring> links_;
};

TEST_F(HistoryCleanerTest, TheShippedRulesNameOnlyKnownBrowsersCategoriesAndFolders) {
  xml::XmlDocument rules;
  ASSERT_TRUE(rules.LoadFile(ToU16(test_support::BinFolder() + L"SurfingPrefs.xml"))) << Ascii(rules.GetResult());
  ASSERT_TRUE(rules.FindNextElement(u"surfing_preference"));
  ASSERT_TRUE(rules.EnterElement());
  std::vector<std::u16string> ids;
  int actions = 0;
  while (rules.FindNextElement()) {
    EXPECT_EQ(std::u16string(u"cleaner"), rules.GetText().substr(rules.Record(rules.Current()).start + 1, 7));
    const std::u16string id = rules.ElementAttribute(u"id");
    ids.push_back(id);
    ASSERT_TRUE(rules.EnterElement());
    while (rules.FindNextElement()) {
      const std::u16string category = rules.ElementAttribute(u"id");
      EXPECT_TRUE(category == u"cookies" || category == u"history" || category == u"temporary_files" ||
                  category == u"download_history" || category == u"cache" || category == u"session")
          << Ascii(category);
      while (rules.FindNextChild()) {
        ++actions;
        const std::u16string path = rules.ChildAttribute(u"path");
        const std::u16string search = rules.ChildAttribute(u"search");
        EXPECT_EQ(rules.ChildAttribute(u"command"), u"delete");
        EXPECT_TRUE(search == u"file" || search == u"glob" || search == u"walk.files") << Ascii(search);
        EXPECT_TRUE(path.starts_with(u"$localappdata\\") || path.starts_with(u"$appdata\\") ||
                    path.starts_with(u"$userprofile\\"))
            << Ascii(path);
        // Nothing a user keeps: bookmarks, passwords, extensions, settings.
        for (const std::u16string_view kept : {u"Bookmarks", u"Login Data", u"Extensions", u"Preferences",
                                               u"places.sqlite", u"logins.json", u"key4.db"}) {
          EXPECT_EQ(path.find(kept), std::u16string::npos) << Ascii(path);
        }
      }
    }
    ASSERT_TRUE(rules.LeaveElement());
  }
  EXPECT_EQ(ids, (std::vector<std::u16string>{u"google_chrome", u"firefox", u"opera", u"safari"}));
  EXPECT_GT(actions, 40);
}

TEST_F(HistoryCleanerTest, EachDefaultBrowserValueRunsItsOwnRulesAndOnlyThose) {
  HistoryCleaner cleaner = ShippedRules();
  ASSERT_TRUE(messages_.All().empty());
  for (const std::wstring_view value : {L"Google Chrome", L"chrome.exe"}) {
    PutAll(kChrome, kChromeTraces);
    PutAll(kChrome, kChromeKept);
    PutAll(kOpera, {L"History", L"Network\\Cookies"});
    SetDefaultBrowser(value);
    EXPECT_EQ(cleaner.CleanDefaultBrowser(), 1) << Ascii(value);
    ExpectFiles(kChrome, kChromeTraces, true);
    ExpectFiles(kChrome, kChromeKept, false);
    ExpectFiles(kOpera, {L"History", L"Network\\Cookies"}, false);
    // Folders stay; only their files go.
    EXPECT_TRUE(fs::is_directory(Path(kChrome) + L"Cache\\Cache_Data"));
  }

  SetDefaultBrowser(L"opera.EXE");
  PutAll(kOpera, {L"Bookmarks", L"Default\\History"});
  EXPECT_EQ(cleaner.CleanDefaultBrowser(), 1);
  ExpectFiles(kOpera, {L"History", L"Network\\Cookies", L"Default\\History"}, true);
  ExpectFiles(kOpera, {L"Bookmarks"}, false);

  SetDefaultBrowser(L"safari.exe");
  PutAll(kSafari, {L"History.plist", L"Cookies\\Cookies.binarycookies", L"Bookmarks.plist"});
  Put(L"Local\\Apple Computer\\Safari\\Cache.db");
  Put(L"Local\\Apple Computer\\Safari\\Cache.db-wal");
  EXPECT_EQ(cleaner.CleanDefaultBrowser(), 1);
  ExpectFiles(kSafari, {L"History.plist", L"Cookies\\Cookies.binarycookies"}, true);
  ExpectFiles(L"Local\\Apple Computer\\Safari\\", {L"Cache.db", L"Cache.db-wal"}, true);
  ExpectFiles(kSafari, {L"Bookmarks.plist"}, false);

  // Firefox's profile folder has a random name the rules cannot reach.
  SetDefaultBrowser(L"FIREFOX.EXE");
  PutAll(kFirefox, {L"cookies.sqlite", L"places.sqlite"});
  EXPECT_EQ(cleaner.CleanDefaultBrowser(), 1);
  ExpectFiles(kFirefox, {L"cookies.sqlite", L"places.sqlite"}, false);

  // A value that differs from the table only in case matches nothing.
  PutAll(kChrome, kChromeTraces);
  for (const std::wstring_view value : {L"google chrome", L"CHROME.EXE", L"iexplore.exe", L"MSEdgeHTM"}) {
    SetDefaultBrowser(value);
    EXPECT_EQ(cleaner.CleanDefaultBrowser(), 1) << Ascii(value);
  }
  test_support::DeleteValue(HKEY_CURRENT_USER, test_support::kDefaultBrowserKey, nullptr);
  EXPECT_EQ(cleaner.CleanDefaultBrowser(), 1);
  ExpectFiles(kChrome, kChromeTraces, false);
  EXPECT_TRUE(messages_.Launches().empty());
  EXPECT_TRUE(messages_.All().empty());
}

TEST_F(HistoryCleanerTest, InternetExplorerIsLeftToItsOwnRoutineStartedHidden) {
  HistoryCleaner cleaner = ShippedRules();
  PutAll(kChrome, kChromeTraces);
  SetDefaultBrowser(L"IEXPLORE.EXE");
  EXPECT_EQ(cleaner.CleanDefaultBrowser(), 1);
  ASSERT_EQ(messages_.Launches().size(), 1u);
  const common::LaunchRequest& launch = messages_.Launches()[0];
  EXPECT_EQ(launch.program, L"RunDll32.exe");
  EXPECT_EQ(launch.parameters, L"InetCpl.cpl,ClearMyTracksByProcess 255");
  EXPECT_EQ(launch.verb, L"open");
  EXPECT_EQ(launch.show, SW_HIDE);
  ExpectFiles(kChrome, kChromeTraces, false);
}

TEST_F(HistoryCleanerTest, AFileInUseStopsTheCleanUntilItIsClosed) {
  HistoryCleaner cleaner = ShippedRules();
  SetDefaultBrowser(L"Google Chrome");
  PutAll(kChrome, kChromeTraces);
  PutAll(kChrome, kChromeKept);
  {
    // The browser holds its history without letting anyone delete it.
    UniqueFile held(::CreateFileW(Path(std::wstring(kChrome) + L"History").c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.IsValid());
    EXPECT_EQ(cleaner.CleanDefaultBrowser(), 0);
    // Cookies come first and are gone; history and everything after it stay.
    ExpectFiles(kChrome, {L"Network\\Cookies"}, true);
    ExpectFiles(kChrome, {L"History", L"Visited Links", L"Cache\\Cache_Data\\index"}, false);
    EXPECT_EQ(cleaner.CleanDefaultBrowser(), 0);
  }
  EXPECT_EQ(cleaner.CleanDefaultBrowser(), 1);
  ExpectFiles(kChrome, kChromeTraces, true);
  ExpectFiles(kChrome, kChromeKept, false);

  // Inside a walk too, deep in the tree.
  Put(L"walk\\a\\b\\c\\held");
  Put(L"walk\\z\\after");
  {
    UniqueFile held(::CreateFileW(Path(L"walk\\a\\b\\c\\held").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.IsValid());
    EXPECT_EQ(HistoryCleaner::DeleteTarget(Path(L"walk"), 2), 0);
  }
  EXPECT_EQ(HistoryCleaner::DeleteTarget(Path(L"walk\\"), 2), 1);
  EXPECT_FALSE(FileExists(Path(L"walk\\a\\b\\c\\held")));
  EXPECT_FALSE(FileExists(Path(L"walk\\z\\after")));
}

TEST_F(HistoryCleanerTest, AWalkNeverEntersALinkedFolderNorDeletesFolders) {
  Put(L"outside\\precious.txt");
  Put(L"outside\\deeper\\precious.txt");
  Put(L"tree\\top.tmp");
  Put(L"tree\\sub\\inner.tmp");
  const std::wstring link = Path(L"tree\\sub\\linked");
  ASSERT_TRUE(test_support::MakeFolderLink(link, Path(L"outside")));
  links_.push_back(link);
  const std::wstring root_link = Path(L"rootlink");
  ASSERT_TRUE(test_support::MakeFolderLink(root_link, Path(L"outside")));
  links_.push_back(root_link);

  EXPECT_EQ(HistoryCleaner::DeleteTarget(Path(L"tree"), 2), 1);
  EXPECT_FALSE(FileExists(Path(L"tree\\top.tmp")));
  EXPECT_FALSE(FileExists(Path(L"tree\\sub\\inner.tmp")));
  EXPECT_TRUE(fs::is_directory(Path(L"tree\\sub")));
  EXPECT_TRUE(FileExists(Path(L"outside\\precious.txt")));
  EXPECT_TRUE(FileExists(Path(L"outside\\deeper\\precious.txt")));
  // A rule that names a link itself is not followed either.
  EXPECT_EQ(HistoryCleaner::DeleteTarget(root_link, 2), 1);
  EXPECT_TRUE(FileExists(Path(L"outside\\precious.txt")));
  // A folder that is not there is passed over.
  EXPECT_EQ(HistoryCleaner::DeleteTarget(Path(L"missing"), 2), 1);
}

TEST_F(HistoryCleanerTest, GlobDeletesTheMatchingFilesOnly) {
  PutAll(L"g\\", {L"a.tmp", L"b.tmp", L"keep.txt", L"x.tmp\\inside.tmp"});
  EXPECT_EQ(HistoryCleaner::DeleteTarget(Path(L"g\\*.tmp"), 1), 1);
  ExpectFiles(L"g\\", {L"a.tmp", L"b.tmp"}, true);
  ExpectFiles(L"g\\", {L"keep.txt", L"x.tmp\\inside.tmp"}, false);
  EXPECT_EQ(HistoryCleaner::DeleteTarget(Path(L"g\\*.none"), 1), 1);
  EXPECT_EQ(HistoryCleaner::DeleteTarget(Path(L"nowhere\\*.tmp"), 1), 1);
  ExpectFiles(L"g\\", {L"keep.txt"}, false);
  {
    UniqueFile held(::CreateFileW(Path(L"g\\keep.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  0, nullptr));
    EXPECT_EQ(HistoryCleaner::DeleteTarget(Path(L"g\\keep.*"), 1), 0);
  }
  // An unknown mode does nothing.
  EXPECT_EQ(HistoryCleaner::DeleteTarget(Path(L"g\\keep.txt"), 3), 1);
  ExpectFiles(L"g\\", {L"keep.txt"}, false);
  EXPECT_EQ(HistoryCleaner::DeleteTarget(Path(L"g\\keep.txt"), 0), 1);
  ExpectFiles(L"g\\", {L"keep.txt"}, true);
  EXPECT_EQ(HistoryCleaner::DeleteTarget(Path(L"g\\keep.txt"), 0), 1);
}

TEST_F(HistoryCleanerTest, AMissingOrMalformedRulesFileIsReportedAndCleansNothing) {
  PutAll(kChrome, kChromeTraces);
  SetDefaultBrowser(L"Google Chrome");
  ASSERT_TRUE(test_support::WriteWholeFile(
      Path(L"broken.xml"),
      "<surfing_preference><cleaner id=\"google_chrome\"><option id=\"history\">"
      "<action command=\"delete\" search=\"file\" path=\"$localappdata\\Google\\Chrome\\User Data\\Default\\History\"/>"
      "</option></cleaner>"));
  std::size_t reports = 0;
  for (const std::wstring& rules : {Path(L"missing.xml"), Path(L"broken.xml")}) {
    HistoryCleaner cleaner(rules, Folders());
    ASSERT_EQ(messages_.All().size(), ++reports) << Ascii(rules);
    const common::MessageRequest& shown = messages_.All().back();
    EXPECT_EQ(shown.text, L"Can't open web browser surfing preference file.");
    EXPECT_EQ(shown.caption, L"Veltrona VPN Free Trial");
    EXPECT_EQ(shown.style, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(shown.owner, nullptr);
    EXPECT_EQ(cleaner.CleanDefaultBrowser(), 1);
    ExpectFiles(kChrome, kChromeTraces, false);
  }
}

}  // namespace
}  // namespace veltrona::privacy
