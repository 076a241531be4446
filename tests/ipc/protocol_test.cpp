#include "ipc/protocol.h"

#include <gtest/gtest.h>

namespace veltrona::ipc {
namespace {

TEST(MessageCode, IsFourBytesLittleEndian) {
  EXPECT_EQ(EncodeMessageCode(MSG_SET_PATH), (MessageCodeBytes{1, 0, 0, 0}));
  EXPECT_EQ(EncodeMessageCode(MSG_CHECK_ROUTES), (MessageCodeBytes{3, 0, 0, 0}));
  const MessageCodeBytes bytes{0x78, 0x56, 0x34, 0x12};
  EXPECT_EQ(DecodeMessageCode(bytes), 0x12345678u);
  EXPECT_EQ(kSetPathMessageSize, 524u);
}

TEST(SetPathPayload, IsUtf16LeTerminatedAndZeroPadded) {
  const auto payload = EncodeSetPathPayload(u"C:\\Users\\\u00e9ric\\AppData\\Local\\Veltrona VPN");
  ASSERT_TRUE(payload.has_value());
  EXPECT_EQ((*payload)[0], 'C');
  EXPECT_EQ((*payload)[1], 0);
  // A character outside ASCII keeps both of its bytes, low byte first.
  EXPECT_EQ((*payload)[2 * 9], 0xE9);
  EXPECT_EQ((*payload)[2 * 9 + 1], 0x00);
  const size_t length = std::u16string_view(u"C:\\Users\\\u00e9ric\\AppData\\Local\\Veltrona VPN").size();
  for (size_t i = 2 * length; i < payload->size(); ++i) ASSERT_EQ((*payload)[i], 0) << "byte " << i;
  EXPECT_EQ(DecodeSetPathPayload(*payload), u"C:\\Users\\\u00e9ric\\AppData\\Local\\Veltrona VPN");
}

TEST(SetPathPayload, DropsATrailingBackslash) {
  EXPECT_EQ(DecodeSetPathPayload(*EncodeSetPathPayload(u"C:\\data\\")), u"C:\\data");
}

TEST(SetPathPayload, RefusesFoldersTheServiceCannotUse) {
  EXPECT_FALSE(EncodeSetPathPayload(u"").has_value());
  EXPECT_FALSE(EncodeSetPathPayload(u"\\").has_value());
  EXPECT_FALSE(EncodeSetPathPayload(std::u16string(u"C:\\a\0b", 6)).has_value());
  // The longest folder still leaves room for "\Veltrona.ovpn" in 260 characters.
  EXPECT_TRUE(EncodeSetPathPayload(std::u16string(245, u'a')).has_value());
  EXPECT_FALSE(EncodeSetPathPayload(std::u16string(246, u'a')).has_value());
}

TEST(SetPathPayload, DecodingStopsAtTheTerminatorAndRefusesAFieldWithoutOne) {
  SetPathPayload field{};
  field.fill(0x41);
  EXPECT_FALSE(DecodeSetPathPayload(field).has_value());
  field[field.size() - 2] = 0;
  field[field.size() - 1] = 0;
  EXPECT_EQ(DecodeSetPathPayload(field)->size(), kPathFieldChars - 1);
  field[4] = 0;
  field[5] = 0;
  EXPECT_EQ(DecodeSetPathPayload(field), u"\u4141\u4141");
}

}  // namespace
}  // namespace veltrona::ipc
