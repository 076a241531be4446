#include "base/system_error.h"

#include <gtest/gtest.h>

namespace veltrona {
namespace {

TEST(FormatSystemErrorText, DropsLineEndAndAddsCodeInLowerCaseHex) {
  EXPECT_EQ(FormatSystemErrorText(u"Access is denied.\r\n", 5), u"Access is denied. (0x5)");
  EXPECT_EQ(FormatSystemErrorText(u"The specified service already exists.\r\n", 0x431),
            u"The specified service already exists. (0x431)");
  EXPECT_EQ(FormatSystemErrorText(u"x\r\n", 0xDEADBEEF), u"x (0xdeadbeef)");
}

TEST(FormatSystemErrorText, KeepsWordsWhenTheTextHasNoLineEnd) {
  EXPECT_EQ(FormatSystemErrorText(u"Denied.", 5), u"Denied. (0x5)");
  EXPECT_EQ(FormatSystemErrorText(u"Denied.\n", 5), u"Denied. (0x5)");
}

TEST(FormatSystemErrorText, MissingOrOverLongTextGivesEmptyResult) {
  EXPECT_EQ(FormatSystemErrorText(u"", 1234), u"");
  // 242 characters plus the 14 reserved for the code fill the 256-character
  // buffer exactly; one more does not fit.
  const std::u16string fits(240, u'a');
  EXPECT_EQ(FormatSystemErrorText(fits + u"\r\n", 5).size(), 240u + 6u);
  EXPECT_EQ(FormatSystemErrorText(fits + u"a\r\n", 5), u"");
  // The longest result, with an eight-digit code, still fits the buffer.
  EXPECT_LT(FormatSystemErrorText(fits + u"\r\n", 0xFFFFFFFF).size(), kErrorTextCapacity);
}

}  // namespace
}  // namespace veltrona
