#include "service/data_folder.h"

#include <gtest/gtest.h>

namespace veltrona::service {
namespace {

TEST(DataFolder, AcceptsAPlainLocalFolder) {
  EXPECT_EQ(CheckDataFolderText(u"C:\\Users\\anna\\AppData\\Local\\Veltrona VPN"), "");
  EXPECT_EQ(CheckDataFolderText(u"d:\\Profiles\\\u00c5sa\\Veltrona VPN\\"), "");
}

TEST(DataFolder, RefusesEverythingThatIsNotAPlainLocalFolder) {
  const char16_t* refused[] = {
      u"",
      u"Veltrona VPN",
      u"C:",
      u"C:relative\\folder",
      u"\\\\server\\share\\Veltrona VPN",
      u"\\\\?\\C:\\Users\\anna",
      u"\\\\.\\PhysicalDrive0",
      u"\\Users\\anna",
      u"C:/Users/anna",
      u"C:\\Users\\..\\Windows\\System32",
      u"C:\\Users\\.\\anna",
      u"C:\\Users\\\\anna",
      u"C:\\Users\\anna\\file.txt:stream",
      u"C:\\Users\\anna\\*",
      u"C:\\Users\\anna\\a\"b",
      u"C:\\Users\\anna\\trailing.",
      u"C:\\Users\\anna\\trailing ",
      u"C:\\Users\\anna\\\u0001",
  };
  for (size_t i = 0; i < std::size(refused); ++i) {
    EXPECT_NE(CheckDataFolderText(refused[i]), "") << "case " << i;
  }
}

TEST(DataFolder, LengthLimitLeavesRoomForTheDerivedPaths) {
  const std::u16string longest = u"C:\\" + std::u16string(242, u'a');
  ASSERT_EQ(longest.size(), 245u);
  EXPECT_EQ(CheckDataFolderText(longest), "");
  EXPECT_EQ(CheckDataFolderText(longest + u"\\"), "");
  EXPECT_NE(CheckDataFolderText(longest + u"a"), "");
  EXPECT_LT(DerivePaths(longest).config_path.size(), 260u);
}

TEST(DataFolder, DerivedPathsAreInsideTheFolder) {
  const DataFolderPaths paths = DerivePaths(u"C:\\data\\");
  EXPECT_EQ(paths.folder, u"C:\\data");
  EXPECT_EQ(paths.output_path, u"C:\\data\\log.txt");
  EXPECT_EQ(paths.config_path, u"C:\\data\\Veltrona.ovpn");
}

TEST(DataFolder, ComparesAsciiLettersWithoutCase) {
  EXPECT_TRUE(SameFolderText(u"C:\\Users\\Anna\\Veltrona VPN", u"c:\\users\\anna\\veltrona vpn\\"));
  EXPECT_FALSE(SameFolderText(u"C:\\Users\\Anna\\Veltrona VPN", u"C:\\Users\\Anna2\\Veltrona VPN"));
}

}  // namespace
}  // namespace veltrona::service
