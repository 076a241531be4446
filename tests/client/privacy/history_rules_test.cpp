#include "client/privacy/history_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/xml/xml_document.h"
#include "tests/test_text.h"

namespace veltrona::privacy {
namespace {

const ProfileFolders kFolders{u"C:\\Users\\u\\AppData\\Local", u"C:\\Users\\u\\AppData\\Roaming", u"C:\\Users\\u"};

std::vector<DeleteStep> Plan(std::u16string_view text, std::u16string_view id) {
  xml::XmlDocument rules;
  // The rules are read as far as they go, well-formed or not.
  (void)rules.SetText(text);
  return PlanClean(rules, id, kFolders);
}

TEST(HistoryRules, DefaultBrowserValuesMatchTheTableExactly) {
  EXPECT_EQ(ClassifyDefaultBrowser(u"IEXPLORE.EXE").cleaning, BrowserCleaning::kInternetExplorer);
  for (const auto& [value, id] : std::vector<std::pair<std::u16string, std::u16string>>{
           {u"Google Chrome", u"google_chrome"},
           {u"chrome.exe", u"google_chrome"},
           {u"opera.EXE", u"opera"},
           {u"safari.exe", u"safari"},
           {u"FIREFOX.EXE", u"firefox"}}) {
    const DefaultBrowser browser = ClassifyDefaultBrowser(value);
    EXPECT_EQ(browser.cleaning, BrowserCleaning::kRules) << test_support::Ascii(value);
    EXPECT_EQ(browser.cleaner_id, id) << test_support::Ascii(value);
  }
  for (const std::u16string_view value : {u"iexplore.exe", u"google chrome", u"Chrome.exe", u"opera.exe",
                                          u"firefox.exe", u"MSEdgeHTM", u""}) {
    EXPECT_EQ(ClassifyDefaultBrowser(value).cleaning, BrowserCleaning::kNothing) << test_support::Ascii(value);
  }
}

TEST(HistoryRules, OnlyAVariableAtTheVeryStartExpands) {
  EXPECT_EQ(ExpandRulePath(u"$localappdata\\A\\b", kFolders), u"C:\\Users\\u\\AppData\\Local\\A\\b");
  EXPECT_EQ(ExpandRulePath(u"$appdata\\A", kFolders), u"C:\\Users\\u\\AppData\\Roaming\\A");
  EXPECT_EQ(ExpandRulePath(u"$userprofile\\Cookies", kFolders), u"C:\\Users\\u\\Cookies");
  // The rest is appended unchanged.
  EXPECT_EQ(ExpandRulePath(u"$appdata", kFolders), u"C:\\Users\\u\\AppData\\Roaming");
  for (const std::u16string_view path : {u"\\Windows\\x", u"C:\\x", u"x\\$appdata\\y", u" $appdata\\y", u"",
                                         u"$APPDATA\\y", u"$temp\\y"}) {
    EXPECT_FALSE(ExpandRulePath(path, kFolders)) << test_support::Ascii(path);
  }
  // A folder the system could not give is no root to start from.
  EXPECT_FALSE(ExpandRulePath(u"$userprofile\\x", ProfileFolders{u"L", u"R", u""}));
  // 259 characters fit the path buffer, 260 do not.
  const std::u16string base = u"C:\\Users\\u";
  const std::u16string fits = u"$userprofile\\" + std::u16string(kMaxRuleChars - base.size() - 1, u'a');
  EXPECT_EQ(ExpandRulePath(fits, kFolders)->size(), kMaxRuleChars);
  EXPECT_FALSE(ExpandRulePath(fits + u"a", kFolders));
}

TEST(HistoryRules, TheFirstCleanerWithTheIdRunsItsKnownCategoriesInOrder) {
  const std::u16string text =
      u"<surfing_preference>"
      u"<cleaner id=\"opera\"><option id=\"cookies\"><action command=\"delete\" search=\"file\" path=\"$appdata\\o\"/>"
      u"</option></cleaner>"
      u"<cleaner id=\"google_chrome\">"
      u"<option id=\"passwords\"><action command=\"delete\" search=\"file\" path=\"$appdata\\LoginData\"/></option>"
      u"<option id=\"cookies\"><action command=\"delete\" search=\"file\" path=\"$appdata\\c1\"/>"
      u"<action command=\"delete\" search=\"glob\" path=\"$localappdata\\c*\"/></option>"
      u"<option id=\"Cache\"><action command=\"delete\" search=\"file\" path=\"$appdata\\wrongcase\"/></option>"
      u"<option id=\"cache\"><action command=\"delete\" search=\"walk.all\" path=\"$localappdata\\Cache\"/></option>"
      u"</cleaner>"
      u"<cleaner id=\"google_chrome\"><option id=\"history\">"
      u"<action command=\"delete\" search=\"file\" path=\"$appdata\\second\"/></option></cleaner>"
      u"</surfing_preference>";
  const std::vector<DeleteStep> expected = {{u"C:\\Users\\u\\AppData\\Roaming\\c1", DeleteMode::kFile},
                                            {u"C:\\Users\\u\\AppData\\Local\\c*", DeleteMode::kGlob},
                                            {u"C:\\Users\\u\\AppData\\Local\\Cache", DeleteMode::kWalk}};
  EXPECT_EQ(Plan(text, u"google_chrome"), expected);
  // Without the wrapper the cleaners are read among the top-level elements.
  xml::XmlDocument bare;
  ASSERT_TRUE(bare.SetText(u"<cleaner id=\"safari\"><option id=\"session\">"
                           u"<action command=\"delete\" search=\"file\" path=\"$userprofile\\s\"/></option></cleaner>"));
  EXPECT_EQ(PlanClean(bare, u"safari", kFolders),
            (std::vector<DeleteStep>{{u"C:\\Users\\u\\s", DeleteMode::kFile}}));
  EXPECT_TRUE(Plan(text, u"firefox").empty());
  EXPECT_TRUE(Plan(text, u"Google_Chrome").empty());
  EXPECT_TRUE(Plan(u"<surfing_preference><cleaner id=\"opera\"><option id=\"bookmarks\">"
                   u"<action command=\"delete\" search=\"file\" path=\"$appdata\\b\"/></option>"
                   u"</cleaner></surfing_preference>",
                   u"opera")
                  .empty());
}

TEST(HistoryRules, ActionsFollowTheCommandAndTheModeFallback) {
  const std::u16string text =
      u"<surfing_preference><cleaner id=\"safari\">"
      u"<option id=\"history\">"
      u"<action command=\"delete\" search=\"everything\" path=\"$appdata\\first\"/>"
      u"<action command=\"Delete\" search=\"walk.files\" path=\"$appdata\\skipped\"/>"
      u"<action search=\"walk.files\" path=\"$appdata\\no-command\"/>"
      u"<action command=\"delete\" search=\"walk.files\" path=\"$appdata\\walked\"/>"
      u"<action command=\"delete\" path=\"$appdata\\still-walked\"/>"
      u"</option><option id=\"session\">"
      u"<action command=\"delete\" search=\"unknown\" path=\"$appdata\\walked-across-options\"/>"
      u"<action command=\"delete\" search=\"glob\" path=\"C:\\Windows\\*\"/>"
      u"<action command=\"delete\" search=\"glob\" path=\"\\Windows\\*\"/>"
      u"<action command=\"delete\" search=\"file\" path=\"..\\x\"/>"
      u"<action command=\"delete\" search=\"bogus\" path=\"$appdata\\after-refused\"/>"
      u"</option></cleaner></surfing_preference>";
  const std::vector<DeleteStep> expected = {
      {u"C:\\Users\\u\\AppData\\Roaming\\first", DeleteMode::kFile},
      {u"C:\\Users\\u\\AppData\\Roaming\\walked", DeleteMode::kWalk},
      {u"C:\\Users\\u\\AppData\\Roaming\\still-walked", DeleteMode::kWalk},
      {u"C:\\Users\\u\\AppData\\Roaming\\walked-across-options", DeleteMode::kWalk},
      // Refused actions leave the mode where the last accepted one put it.
      {u"C:\\Users\\u\\AppData\\Roaming\\after-refused", DeleteMode::kWalk}};
  EXPECT_EQ(Plan(text, u"safari"), expected);
  EXPECT_EQ(ModeForSearch(u"walk.all", DeleteMode::kFile), ModeForSearch(u"walk.files", DeleteMode::kFile));
}

TEST(HistoryRules, OverLongValuesAreRefusedWhole) {
  const std::u16string long_search(kMaxRuleChars + 1, u'g');
  const std::u16string long_path = u"$appdata\\" + std::u16string(kMaxRuleChars, u'p');
  const std::u16string text = u"<surfing_preference><cleaner id=\"opera\"><option id=\"cache\">"
                              u"<action command=\"delete\" search=\"" + long_search + u"\" path=\"$appdata\\a\"/>"
                              u"<action command=\"delete\" search=\"walk.files\" path=\"" + long_path + u"\"/>"
                              u"<action command=\"delete\" path=\"$appdata\\b\"/>"
                              u"</option></cleaner></surfing_preference>";
  EXPECT_EQ(Plan(text, u"opera"),
            (std::vector<DeleteStep>{{u"C:\\Users\\u\\AppData\\Roaming\\b", DeleteMode::kFile}}));
}

TEST(HistoryRules, PathsJoinWithOneSeparator) {
  EXPECT_EQ(JoinPath(u"C:\\a", u"*"), u"C:\\a\\*");
  EXPECT_EQ(JoinPath(u"C:\\a\\", u"*"), u"C:\\a\\*");
  EXPECT_EQ(JoinPath(u"C:/a/", u"*"), u"C:/a/*");
  EXPECT_EQ(JoinPath(u"C:", u"*"), u"C:*");
  EXPECT_EQ(FolderOf(u"C:\\a\\b*.tmp"), u"C:\\a");
  EXPECT_EQ(FolderOf(u"nothing"), u"");
}

}  // namespace
}  // namespace veltrona::privacy
