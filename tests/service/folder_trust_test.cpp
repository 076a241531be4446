// Who may change what the service relies on, decided from an owner and an
// access list; and whether an opened object is the one that was named.
#include "service/folder_trust.h"

#include <gtest/gtest.h>

namespace veltrona::service {
namespace {

constexpr uint32_t kFullAccess = 0x001F01FF;
constexpr uint32_t kReadAndList = 0x001200A9;

ObjectSecurity Protected() {
  return {Principal::kSystem, true,
          {{true, Principal::kSystem, kFullAccess},
           {true, Principal::kAdministrators, kFullAccess},
           {true, Principal::kOther, kReadAndList}}};
}

TEST(FolderTrust, OnlySystemAdministratorsAndTheServiceMayOwnAndChange) {
  EXPECT_EQ(WhyNotTrusted(Protected()), "");
  ObjectSecurity own = Protected();
  own.owner = Principal::kServiceAccount;
  own.entries.push_back({true, Principal::kServiceAccount, kFullAccess});
  EXPECT_EQ(WhyNotTrusted(own), "");

  ObjectSecurity users_own = Protected();
  users_own.owner = Principal::kOther;
  EXPECT_EQ(WhyNotTrusted(users_own), "it is owned by another account");

  ObjectSecurity no_list = Protected();
  no_list.has_access_list = false;
  EXPECT_EQ(WhyNotTrusted(no_list), "it has no access list, so everyone may change it");
}

TEST(FolderTrust, AnyRightToChangeGrantedToOthersIsEnough) {
  for (const uint32_t right : {0x2u, 0x4u, 0x10u, 0x40u, 0x100u, 0x10000u, 0x40000u, 0x80000u, 0x10000000u,
                               0x40000000u}) {
    ObjectSecurity security = Protected();
    security.entries.push_back({true, Principal::kOther, right});
    EXPECT_EQ(WhyNotTrusted(security), "its access list lets other accounts change it") << std::hex << right;
  }
  // Reading, listing and a denial of change take nothing away from trust.
  ObjectSecurity security = Protected();
  security.entries.push_back({false, Principal::kOther, kFullAccess});
  security.entries.push_back({true, Principal::kOther, 0x80000000u | kReadAndList});  // generic read
  EXPECT_EQ(WhyNotTrusted(security), "");
}

TEST(FolderTrust, TheOpenedPathMustBeTheNamedOne) {
  EXPECT_TRUE(IsPathOf(u"\\\\?\\C:\\ProgramData\\Veltrona VPN", u"C:\\ProgramData\\Veltrona VPN"));
  EXPECT_TRUE(IsPathOf(u"C:\\PROGRAMDATA\\veltrona vpn", u"\\\\?\\C:\\ProgramData\\Veltrona VPN"));
  // A followed link shows as where it led.
  EXPECT_FALSE(IsPathOf(u"\\\\?\\C:\\Windows\\System32", u"C:\\ProgramData\\Veltrona VPN\\session"));
  EXPECT_FALSE(IsPathOf(u"C:\\ProgramData\\Veltrona VPN\\session2", u"C:\\ProgramData\\Veltrona VPN\\session"));
  EXPECT_FALSE(IsPathOf(u"", u""));
}

}  // namespace
}  // namespace veltrona::service
