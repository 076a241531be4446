#include "client/engines/browser_watch.h"

#include <gtest/gtest.h>

#include <string>

namespace veltrona::engines {
namespace {

TEST(BrowserWatchGate, LooksOnlyWhenEnabledNotOptedOutAndNotConnected) {
  EXPECT_TRUE(ShouldLookForBrowser(0, 1, ENGINE_DISCONNECTED));
  EXPECT_TRUE(ShouldLookForBrowser(0, 7, ENGINE_CONNECTING));
  EXPECT_FALSE(ShouldLookForBrowser(0, 0, ENGINE_DISCONNECTED));  // missing or 0: disabled
  EXPECT_FALSE(ShouldLookForBrowser(1, 1, ENGINE_DISCONNECTED));  // this user said no
  EXPECT_FALSE(ShouldLookForBrowser(0, 1, ENGINE_CONNECTED));     // protected
}

TEST(DefaultBrowserRule, EmptyIsInternetExplorerAndChromeByItsProductName) {
  EXPECT_TRUE(IsDefaultBrowser(u"iexplore.exe", u""));
  EXPECT_TRUE(IsDefaultBrowser(u"chrome.exe", u"Google Chrome"));
  EXPECT_TRUE(IsDefaultBrowser(u"CHROME.EXE", u"Google Chrome.ABCDEF123"));
  // Only the exact product words count: the prefix is compared with case.
  EXPECT_FALSE(IsDefaultBrowser(u"chrome.exe", u"google chrome"));
  EXPECT_FALSE(IsDefaultBrowser(u"iexplore.exe", u"Google Chrome"));
}

TEST(DefaultBrowserRule, AFileNameMatchesInAnyCaseAndAnythingElseMatchesNothing) {
  EXPECT_TRUE(IsDefaultBrowser(u"firefox.exe", u"FIREFOX.EXE"));
  EXPECT_TRUE(IsDefaultBrowser(u"FireFox.Exe", u"firefox.exe"));
  EXPECT_FALSE(IsDefaultBrowser(u"firefox.exe", u"Mozilla Firefox"));
  EXPECT_FALSE(IsDefaultBrowser(u"firefox", u"FIREFOX.EXE"));
  EXPECT_FALSE(IsDefaultBrowser(u"", u"FIREFOX.EXE"));
}

TEST(DefaultBrowserRule, ASettingLongerThanItsBufferNamesNothing) {
  const std::u16string fits(kDefaultBrowserChars, u'a');
  EXPECT_TRUE(IsDefaultBrowser(fits, fits));
  const std::u16string too_long = fits + u"a";
  EXPECT_FALSE(IsDefaultBrowser(too_long, too_long));
}

}  // namespace
}  // namespace veltrona::engines
