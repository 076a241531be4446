#include "client/config/archive_names.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_text.h"

namespace veltrona::config {
namespace {

using test_support::Ascii;

TEST(ConfigArchiveNames, FilesAndFoldersLandInsideWithBackslashes) {
  EXPECT_EQ(ConfineArchiveEntry(u"ca.crt", false), (ConfinedEntry{false, u"ca.crt"}));
  EXPECT_EQ(ConfineArchiveEntry(u"a/b\\c.key", false), (ConfinedEntry{false, u"a\\b\\c.key"}));
  EXPECT_EQ(ConfineArchiveEntry(u"keys/", true), (ConfinedEntry{true, u"keys"}));
  EXPECT_EQ(ConfineArchiveEntry(u"keys\\sub/", false), (ConfinedEntry{true, u"keys\\sub"}));
  EXPECT_EQ(ConfineArchiveEntry(u"keys", true), (ConfinedEntry{true, u"keys"}));
  for (const char16_t* near_miss : {u".hidden", u"CONFIG.txt", u"COM10", u"nulls", u"LPT"}) {
    EXPECT_TRUE(ConfineArchiveEntry(near_miss, false).has_value()) << Ascii(near_miss);
  }
}

TEST(ConfigArchiveNames, EntriesOutsideTheFolderAreRefused) {
  for (const char16_t* name :
       {u"..", u"../x", u"..\\x", u"a/../../x", u"a\\..\\..\\x", u"./x", u"a/./b", u"...", u"/etc/passwd",
        u"\\Windows\\x.dll", u"C:\\Windows\\x.dll", u"C:/x", u"C:x", u"\\\\server\\share\\x", u"//server/share/x",
        u"\\\\?\\C:\\x", u"\\\\.\\pipe\\x", u"/", u""}) {
    EXPECT_EQ(ConfineArchiveEntry(name, false), std::nullopt) << Ascii(name);
  }
}

TEST(ConfigArchiveNames, StreamsDevicesAndNamesWindowsWouldAlterAreRefused) {
  for (const char16_t* name : {u"x.key:Zone.Identifier", u"x::$DATA", u"CON", u"con.txt", u"keys/NUL", u"COM1",
                               u"lpt9.log", u"CON .txt", u"CONIN$", u"com\u00b9", u"a*b", u"a?b", u"a\"b", u"a<b",
                               u"a|b", u"a\nb", u"x.key.", u"x.key ", u"keys /x", u"a//b", u"a\\/b"}) {
    EXPECT_EQ(ConfineArchiveEntry(name, false), std::nullopt) << Ascii(name);
  }
}

TEST(ConfigArchiveNames, RawNamesDecodeByTheirFlagAndZeroBytesAreRefused) {
  EXPECT_EQ(DecodeEntryName("cl\xC3\xA9.key", true, &xml::XmlDecodePortable), u"cl\u00e9.key");
  EXPECT_EQ(DecodeEntryName("cl\xE9.key", false, &xml::XmlDecodePortable), u"cl\u00e9.key");
  EXPECT_EQ(DecodeEntryName("cl\xC3.key", true, &xml::XmlDecodePortable), u"");
  EXPECT_EQ(DecodeEntryName(std::string("evil.dll\0.key", 13), false, &xml::XmlDecodePortable), u"");
}

TEST(ConfigArchiveBudget, PerFileTotalAndEntryBounds) {
  ExtractionBudget budget({100, 250, 3});
  EXPECT_FALSE(budget.AdmitFile(101));
  EXPECT_TRUE(budget.AdmitFile(100));
  EXPECT_TRUE(budget.AdmitFile(100));
  EXPECT_FALSE(budget.AdmitFile(51));
  EXPECT_TRUE(budget.AdmitFile(50));
  EXPECT_TRUE(budget.AdmitFile(0));
  EXPECT_EQ(budget.TotalBytes(), 250u);
  EXPECT_TRUE(budget.AdmitEntry());
  EXPECT_TRUE(budget.AdmitEntry());
  EXPECT_TRUE(budget.AdmitEntry());
  EXPECT_FALSE(budget.AdmitEntry());
}

TEST(ConfigArchiveBudget, HugeDeclaredSizesAreRefusedWithoutWrapping) {
  ExtractionBudget budget;
  EXPECT_TRUE(budget.AdmitFile(4u << 20));
  EXPECT_FALSE(budget.AdmitFile((4u << 20) + 1));
  EXPECT_FALSE(budget.AdmitFile(~std::uint64_t{0}));
  EXPECT_EQ(budget.TotalBytes(), 4u << 20);
}

}  // namespace
}  // namespace veltrona::config
