#include "client/config/server_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veltrona::config {
namespace {

using Names = std::vector<std::u16string>;

std::string Doc(const std::string& hosts) {
  return "<?xml version=\"1.0\"?>\r\n<config>\r\n<application version=\"3.2\"/>\r\n<servers>" + hosts +
         "</servers>\r\n<ovpn><keys file=\"/k.zip\"/></ovpn>\r\n</config>\r\n";
}

std::string Host(const std::string& name, const std::string& extra = "") {
  return "<host hostname=\"" + name + "\" " + extra + "/>";
}

const RandomSource kNoRandom = []() -> std::uint32_t {
  ADD_FAILURE() << "random source used";
  return 0;
};

const RandomSource kFirst = []() -> std::uint32_t { return 0; };

struct LoadRun {
  ServerListLoad load;
  int cache_reads = 0;
};

LoadRun Load(const std::string& body, std::optional<std::u16string> cache = std::nullopt, bool pixelguard = false,
         std::optional<std::size_t> previous = std::nullopt, const RandomSource& random = kNoRandom) {
  LoadRun run;
  run.load = DecideServerListLoad(
      body, [&]() { ++run.cache_reads; return cache; }, pixelguard, previous, random, &xml::XmlDecodePortable);
  return run;
}

std::u16string Selected(const ServerBoxPlan& plan) {
  const auto index = SelectedIndex(plan);
  return index ? plan.items[*index] : u"<none>";
}

const std::u16string kCache = u"<config><servers><host hostname=\"cached\"/></servers></config>";

TEST(ConfigServerList, ReadsHostsAndTheirExactlyTrueFlagsInDocumentOrder) {
  const auto entries = ReadServerListText(
      u"<c><host hostname=\"outside\"/><servers><host hostname=\"b\" default=\"True\"/><x/>"
      u"<host hostname=\"a&amp;\" pixelguard_enabled=\"True\" default=\"true\"/>"
      u"<host hostname=\"c\" pixelguard_enabled=\"true\"/></servers><servers><host hostname=\"z\"/></servers></c>");
  ASSERT_TRUE(entries.has_value());
  EXPECT_EQ(*entries, (std::vector<ServerEntry>{{u"b", false, true}, {u"a&", true, false}, {u"c", false, false}}));
}

TEST(ConfigServerList, DefaultBThenAListsABeforeBAndSelectsB) {
  const LoadRun run = Load(Doc(Host("b", "default=\"True\"") + Host("a")));
  EXPECT_EQ(run.load.box.items, (Names{u"a", u"b"}));
  EXPECT_EQ(Selected(run.load.box), u"b");
  EXPECT_FALSE(run.load.show_connection_error);
  EXPECT_EQ(run.cache_reads, 0);
  ASSERT_TRUE(run.load.text_to_cache.has_value());
  EXPECT_NE(run.load.text_to_cache->find(u"hostname=\"b\""), std::u16string::npos);
}

TEST(ConfigServerList, PixelguardOnListsOnlyExactlyTrueHosts) {
  const std::string body = Doc(Host("p1", "pixelguard_enabled=\"True\"") + Host("p2", "pixelguard_enabled=\"true\"") +
                               Host("p3") + Host("p4", "pixelguard_enabled=\"True\" default=\"True\""));
  EXPECT_EQ(Load(body, std::nullopt, true).load.box.items, (Names{u"p1", u"p4"}));
  const LoadRun off = Load(body, std::nullopt, false, std::nullopt, []() -> std::uint32_t { return 1; });
  EXPECT_EQ(off.load.box.items, (Names{u"p2", u"p3"}));
  EXPECT_EQ(Selected(off.load.box), u"p3");  // the default is filtered out: random pick
}

TEST(ConfigServerList, TwoDefaultsSelectTheLaterOne) {
  EXPECT_EQ(Selected(Load(Doc(Host("c", "default=\"True\"") + Host("a", "default=\"True\""))).load.box), u"a");
  EXPECT_EQ(Selected(Load(Doc(Host("a", "default=\"True\"") + Host("c", "default=\"True\""))).load.box), u"c");
}

TEST(ConfigServerList, ReloadKeepsPositionTwoAlsoWithADefault) {
  const std::string body = Doc(Host("d") + Host("a", "default=\"True\"") + Host("c") + Host("b"));
  const ServerBoxPlan box = Load(body, std::nullopt, false, std::size_t{2}).load.box;
  EXPECT_EQ(box.selection, (ServerSelection{ServerSelection::Kind::kPosition, 2, {}}));
  EXPECT_EQ(Selected(box), u"c");
}

TEST(ConfigServerList, PositionBeyondTheNewListFallsBackToDefaultThenRandom) {
  EXPECT_EQ(Selected(Load(Doc(Host("a") + Host("b", "default=\"True\"")), std::nullopt, false, 5).load.box), u"b");
  const LoadRun random = Load(Doc(Host("a") + Host("b") + Host("c")), std::nullopt, false, 9,
                          []() -> std::uint32_t { return 7; });
  EXPECT_EQ(Selected(random.load.box), u"b");  // 7 % 3
}

TEST(ConfigServerList, EmptyOverLongAndRepeatedNamesAreDroppedAndTheMapRebuilt) {
  const LoadRun run = Load(Doc(Host("") + "<host/>" + Host(std::string(260, 'x')) + Host(std::string(259, 'y')) +
                           Host("B") + Host("a") + Host("a")), std::nullopt, false, 0);
  EXPECT_EQ(run.load.box.items, (Names{u"a", u"B", std::u16string(259, u'y')}));
  ServerMap map = {{u"stale", u"1.2.3.4"}};
  RebuildServerMap(map, run.load.box);
  EXPECT_EQ(map, (ServerMap{{u"B", u""}, {u"a", u""}, {std::u16string(259, u'y'), u""}}));
}

TEST(ConfigServerList, OfflineStartShowsTheMessageAndListsTheCachedServers) {
  const LoadRun run = Load("", kCache + u'\0', false, std::nullopt, kFirst);  // stored with its terminator
  EXPECT_TRUE(run.load.show_connection_error);
  EXPECT_EQ(run.cache_reads, 1);
  EXPECT_FALSE(run.load.text_to_cache.has_value());
  EXPECT_EQ(run.load.box.items, (Names{u"cached"}));
  EXPECT_EQ(Selected(run.load.box), u"cached");
}

TEST(ConfigServerList, NoUsableCacheLeavesTheBoxEmpty) {
  for (const std::optional<std::u16string>& cache : {std::optional<std::u16string>(), std::optional(std::u16string(u"<c><servers>"))}) {
    const LoadRun run = Load("", cache, false, 1);
    EXPECT_TRUE(run.load.show_connection_error);
    EXPECT_TRUE(run.load.box.items.empty());
    EXPECT_EQ(run.load.box.selection.kind, ServerSelection::Kind::kNone);
  }
}

TEST(ConfigServerList, NotFoundPagesAreNeitherCachedNorShown) {
  const std::string nginx = "<html>\r\n<head><title>404 Not Found</title></head>\r\n<body>\r\n<center><h1>404 Not "
                            "Found</h1></center>\r\n<hr><center>nginx</center>\r\n</body>\r\n</html>\r\n";
  const std::string well_formed = "<html><head><title>404</title></head><body><h1>Not Found</h1></body></html>";
  for (const std::string& page : {nginx, well_formed}) {
    const LoadRun run = Load(page, kCache, false, std::nullopt, kFirst);
    EXPECT_TRUE(run.load.show_connection_error);
    EXPECT_FALSE(run.load.text_to_cache.has_value());
    EXPECT_EQ(run.load.box.items, (Names{u"cached"}));
  }
}

TEST(ConfigServerList, EmptyAndZeroOnlyBodiesAreRefused) {
  EXPECT_FALSE(ReadDownloadedServerList("", &xml::XmlDecodePortable));
  EXPECT_FALSE(ReadDownloadedServerList(std::string(512, '\0'), &xml::XmlDecodePortable));
}

TEST(ConfigServerList, ShortReadPaddedWithZeroBytesIsRefused) {
  const std::string full = Doc(Host("a") + Host("b"));
  std::string body = full.substr(0, full.size() / 2);
  body.resize(full.size(), '\0');
  EXPECT_FALSE(ReadDownloadedServerList(body, &xml::XmlDecodePortable));
  // A zero byte inside the text is no padding either.
  std::string inner = full;
  inner[inner.find("<servers>") - 1] = '\0';
  EXPECT_FALSE(ReadDownloadedServerList(inner, &xml::XmlDecodePortable));
}

TEST(ConfigServerList, CompleteDocumentIsCachedWithoutItsPadding) {
  const std::string full = Doc(Host("caf\xE9"));
  const auto list = ReadDownloadedServerList(full + std::string(100, '\0'), &xml::XmlDecodePortable);
  ASSERT_TRUE(list.has_value());
  EXPECT_EQ(list->text.size(), full.size());
  EXPECT_NE(list->text.find(u"caf\u00e9"), std::u16string::npos);  // ANSI decoded
}

// The download is parsed once; what it yields must be what the cached copy
// of the same text yields at the next start.
TEST(ConfigServerList, TheDownloadsEntriesAreThoseItsCachedTextGivesBack) {
  const std::string documents[] = {
      Doc(Host("a", "pixelguard_enabled=\"True\" default=\"True\"") + Host("caf\xE9") + "<!-- x --><host/>"),
      Doc(""),
      "<?xml version=\"1.0\"?><config><servers><host hostname=\"b\">text</host><host hostname=\"c\" "
      "default=\"False\"></host></servers><servers><host hostname=\"ignored\"/></servers></config>",
  };
  for (const std::string& body : documents) {
    const auto list = ReadDownloadedServerList(body + std::string(7, '\0'), &xml::XmlDecodePortable);
    ASSERT_TRUE(list.has_value()) << body;
    const auto cached = ReadServerListText(list->text + u'\0');
    ASSERT_TRUE(cached.has_value());
    EXPECT_EQ(list->entries, *cached) << body;
  }
  EXPECT_FALSE(ReadDownloadedServerList("<config/>", &xml::XmlDecodePortable));
}

TEST(ConfigServerList, PlatformDecoderReadsAnAsciiDocument) {
  EXPECT_TRUE(ReadDownloadedServerList(Doc(Host("a")), xml::XmlDefaultDecoder()).has_value());
}

}  // namespace
}  // namespace veltrona::config
