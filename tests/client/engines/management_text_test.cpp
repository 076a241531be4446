#include "client/engines/management_text.h"

#include <gtest/gtest.h>

#include <string>

namespace veltrona::engines {
namespace {

TEST(ManagementTextTest, AuthCommandQuotesAndEscapes) {
  EXPECT_EQ(AuthCommand("username", "1001"), "username \"Auth\" \"1001\"");
  EXPECT_EQ(AuthCommand("password", ""), "password \"Auth\" \"\"");
  EXPECT_EQ(AuthCommand("password", "a b\"c\\d'e"), "password \"Auth\" \"a b\\\"c\\\\d'e\"");
  EXPECT_EQ(AuthCommand("password", std::string("x\0y\t\x7fz", 6)), "password \"Auth\" \"xyz\"");
  EXPECT_EQ(AuthCommand("password", "\xc4\xd6"), "password \"Auth\" \"\xc4\xd6\"");  // ANSI bytes pass
}

TEST(ManagementTextTest, AuthCommandCutsAt1023WithoutBreakingAnEscape) {
  EXPECT_EQ(AuthCommand("password", std::string(1005, 'p')).size(), 1023u);
  EXPECT_EQ(AuthCommand("password", std::string(1006, 'p')), AuthCommand("password", std::string(1005, 'p')));
  // 17 characters before the value; 1004 of escaped quotes fit, the 1005th
  // would split a pair.
  const std::string quotes = AuthCommand("password", std::string(600, '"'));
  EXPECT_EQ(quotes.size(), 17u + 1004u + 1u);
  EXPECT_EQ(quotes.substr(quotes.size() - 3), "\\\"\"");
  const std::string mixed = AuthCommand("password", std::string(1004, 'p') + "\\");
  EXPECT_EQ(mixed, "password \"Auth\" \"" + std::string(1004, 'p') + "\"");
}

TEST(ManagementTextTest, CounterAfterLabel) {
  EXPECT_EQ(CounterAfter("TCP/UDP read bytes,123", "TCP/UDP read bytes,"), 123);
  EXPECT_EQ(CounterAfter("TCP/UDP read bytes, \t+42abc", "TCP/UDP read bytes,"), 42);
  EXPECT_EQ(CounterAfter("TCP/UDP read bytes,-5", "TCP/UDP read bytes,"), -5);
  EXPECT_EQ(CounterAfter("TCP/UDP read bytes,", "TCP/UDP read bytes,"), 0);
  EXPECT_EQ(CounterAfter("TCP/UDP read bytes,x1", "TCP/UDP read bytes,"), 0);
  EXPECT_FALSE(CounterAfter("TCP/UDP write bytes,1", "TCP/UDP read bytes,"));
  EXPECT_EQ(CounterAfter("L," + std::string(40, '9'), "L,"), INT64_MAX);
  EXPECT_EQ(CounterAfter("L,-" + std::string(40, '9'), "L,"), -INT64_MAX);
}

TEST(ManagementTextTest, ByteCountText) {
  EXPECT_EQ(ByteCountText(0), u"0 bytes");
  EXPECT_EQ(ByteCountText(4711), u"4711 bytes");
  EXPECT_EQ(ByteCountText(-12), u"-12 bytes");
  EXPECT_EQ(ByteCountText(INT64_MIN), u"-9223372036854775808 bytes");
  EXPECT_EQ(ByteCountText(INT64_MAX), u"9223372036854775807 bytes");
}

}  // namespace
}  // namespace veltrona::engines
