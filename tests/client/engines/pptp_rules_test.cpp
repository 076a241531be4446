// What the PPTP engine decides: the structure sizes for each Windows, what
// each RAS report does, the statistics texts and the fixed-field limits.
#include "client/engines/pptp_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace veltrona::engines {
namespace {

TEST(PptpVersionClass, EachReportedVersionGetsItsStructureSizes) {
  struct Case {
    uint32_t major, minor;
    int32_t os_class;
    uint32_t entry, dial32, dial64;
  };
  for (const Case& c : {Case{5, 1, kOsClassXp, 5616, 2104, 2108}, Case{5, 2, kOsClassXp, 5616, 2104, 2108},
                        Case{6, 0, kOsClassVista, 5656, 2104, 2108}, Case{6, 1, kOsClassWin7, 5680, 2108, 2112},
                        Case{6, 3, kOsClassWin7, 5680, 2108, 2112},
                        // Windows 10 and 11 report 10.0: the newest class, not Vista's.
                        Case{10, 0, kOsClassWin7, 5680, 2108, 2112}}) {
    const auto os_class = OsClassOf(c.major, c.minor);
    ASSERT_TRUE(os_class) << c.major << "." << c.minor;
    EXPECT_EQ(*os_class, c.os_class) << c.major << "." << c.minor;
    EXPECT_EQ(RasSizesFor(*os_class, 4).entry, c.entry);
    EXPECT_EQ(RasSizesFor(*os_class, 8).entry, c.entry);
    EXPECT_EQ(RasSizesFor(*os_class, 4).dial_params, c.dial32);
    EXPECT_EQ(RasSizesFor(*os_class, 8).dial_params, c.dial64);
  }
  EXPECT_FALSE(OsClassOf(5, 0));
  EXPECT_FALSE(OsClassOf(4, 10));
  EXPECT_EQ(RasSizesFor(-1, 8).entry, 0u);
}

TEST(PptpRasEvents, TheThreeStatesMoveTheEngineAndEveryErrorTakesTheErrorPath) {
  const auto connecting = OutcomeOfRasEvent(kRasConnectDevice, 0);
  EXPECT_FALSE(connecting.failed);
  EXPECT_EQ(connecting.state, ENGINE_CONNECTING);
  EXPECT_EQ(connecting.result, 0);
  EXPECT_EQ(OutcomeOfRasEvent(kRasConnected, 0).state, ENGINE_CONNECTED);
  EXPECT_EQ(OutcomeOfRasEvent(kRasDisconnected, 0).state, ENGINE_DISCONNECTED);
  EXPECT_EQ(kRasConnected, 0x2000u);
  EXPECT_EQ(kRasDisconnected, 0x2001u);

  // Every other state changes nothing and refreshes nothing.
  for (const uint32_t other : {0u, 1u, 3u, 5u, 14u, 0x1000u, 0x1001u, 0x2002u}) {
    const auto outcome = OutcomeOfRasEvent(other, 0);
    EXPECT_FALSE(outcome.failed) << other;
    EXPECT_FALSE(outcome.state) << other;
    EXPECT_EQ(outcome.result, 0) << other;
  }
  // An error is an error whatever the state it comes with.
  for (const uint32_t state : {kRasConnectDevice, kRasConnected, kRasDisconnected, 5u}) {
    for (const int32_t error : {691, 619, -1}) {
      const auto outcome = OutcomeOfRasEvent(state, error);
      EXPECT_TRUE(outcome.failed) << state << " " << error;
      EXPECT_EQ(outcome.state, ENGINE_DISCONNECTED);
      EXPECT_EQ(outcome.result, 1);
    }
  }
}

TEST(PptpStatistics, CountsOnlyWhileConnectedAndAFailedQueryShowsNothing) {
  const auto connected = PptpStatisticsTexts(ENGINE_CONNECTED, true, 1234, 56);
  EXPECT_EQ(connected.received, u"1234 bytes");
  EXPECT_EQ(connected.sent, u"56 bytes");
  // RAS's counters are unsigned: past 2 GB they stay positive.
  EXPECT_EQ(PptpStatisticsTexts(ENGINE_CONNECTED, true, 0xFFFFFFFFu, 0x80000000u).received, u"4294967295 bytes");
  EXPECT_EQ(PptpStatisticsTexts(ENGINE_CONNECTED, true, 0xFFFFFFFFu, 0x80000000u).sent, u"2147483648 bytes");
  for (const auto& texts : {PptpStatisticsTexts(ENGINE_CONNECTED, false, 1234, 56),
                            PptpStatisticsTexts(ENGINE_CONNECTING, true, 1234, 56),
                            PptpStatisticsTexts(ENGINE_DISCONNECTED, true, 1234, 56)}) {
    EXPECT_EQ(texts.received, u"0 bytes");
    EXPECT_EQ(texts.sent, u"0 bytes");
  }
}

TEST(PptpLimits, TextsLongerThanTheirRasFieldsAreRefusedAtTheBoundary) {
  const std::u16string ok = u"x";
  EXPECT_FALSE(DialTextProblem(std::u16string(128, u's'), std::u16string(256, u'u'), std::u16string(256, u'p')));
  EXPECT_EQ(DialTextProblem(std::u16string(129, u's'), ok, ok),
            u"The server name is too long: at most 128 characters.");
  EXPECT_EQ(DialTextProblem(ok, std::u16string(257, u'u'), ok), u"The VPN ID is too long: at most 256 characters.");
  EXPECT_EQ(DialTextProblem(ok, ok, std::u16string(257, u'p')),
            u"The Activation Code is too long: at most 256 characters.");

  EXPECT_EQ(PhonebookPathIn(u"C:\\Users\\me\\AppData\\Roaming"),
            u"C:\\Users\\me\\AppData\\Roaming\\Microsoft\\Network\\Connections\\VeltronaVPN.pbk");
  // The fixed part is 46 characters: a folder of 213 fits 259, 214 does not.
  EXPECT_EQ(PhonebookPathIn(std::u16string(213, u'a'))->size(), 259u);
  EXPECT_FALSE(PhonebookPathIn(std::u16string(214, u'a')));

  EXPECT_EQ(PropertiesParameters(u"C:\\p.pbk", kPptpEntryName), u"-f \"C:\\p.pbk\" -e \"Veltrona VPN Connection\"");
  // 11 characters of quoting and switches around the entry's 23.
  EXPECT_EQ(PropertiesParameters(std::u16string(225, u'a'), kPptpEntryName)->size(), 259u);
  EXPECT_FALSE(PropertiesParameters(std::u16string(226, u'a'), kPptpEntryName));
}

}  // namespace
}  // namespace veltrona::engines
