#include "client/engines/management_line_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veltrona::engines {
namespace {

struct Collected {
  std::vector<std::string> lines;  // cut lines as "<cut:X>"
};

void FeedAll(ManagementLineFramer& framer, std::string_view bytes, Collected& out) {
  framer.Feed(bytes, [&out](std::string_view text, bool cut) {
    out.lines.push_back(cut ? "<cut:" + std::string(text) + ">" : std::string(text));
    return true;
  });
}

TEST(ManagementLineFramerTest, SameLinesWhateverTheSegmentation) {
  const std::string stream = ">INFO:hello\r\nSUCCESS: a\r\n\n\r\nplain lf\nEND\r\n" + std::string(1500, 'z') +
                             "\r\n>STATE:1,WAIT,,\r\ntail without end";
  const std::vector<std::string> expected = {">INFO:hello", "SUCCESS: a", "plain lf", "END", "<cut:z>",
                                             ">STATE:1,WAIT,,"};
  for (size_t step = 1; step <= stream.size(); step += (step < 40 ? 1 : 97)) {
    ManagementLineFramer framer;
    Collected out;
    for (size_t at = 0; at < stream.size(); at += step) FeedAll(framer, std::string_view(stream).substr(at, step), out);
    EXPECT_EQ(out.lines, expected) << step;
    EXPECT_EQ(framer.buffered(), std::string("tail without end").size()) << step;
  }
}

TEST(ManagementLineFramerTest, LimitIs1024BytesWithTheLineFeed) {
  ManagementLineFramer framer;
  Collected out;
  FeedAll(framer, std::string(1023, 'a') + "\n", out);
  FeedAll(framer, std::string(1024, 'b') + "\n", out);
  FeedAll(framer, ">" + std::string(1023, 'c') + "\r\n", out);  // 1025 bytes with CR LF
  FeedAll(framer, "next\r\n", out);
  ASSERT_EQ(out.lines.size(), 4u);
  EXPECT_EQ(out.lines[0], std::string(1023, 'a'));
  EXPECT_EQ(out.lines[1], "<cut:b>");
  EXPECT_EQ(out.lines[2], "<cut:>>");
  EXPECT_EQ(out.lines[3], "next");
}

TEST(ManagementLineFramerTest, HoldsNoMoreThanALineWhileDiscarding) {
  ManagementLineFramer framer;
  Collected out;
  for (int i = 0; i < 100; ++i) {
    FeedAll(framer, std::string(1000, 'x'), out);
    EXPECT_LT(framer.buffered(), kMaxManagementLineBytes);
  }
  EXPECT_TRUE(out.lines.empty());
  FeedAll(framer, "\r\nok\r\n", out);
  EXPECT_EQ(out.lines, (std::vector<std::string>{"<cut:x>", "ok"}));
}

TEST(ManagementLineFramerTest, OnlyACarriageReturnRightBeforeTheLineFeedIsRemoved) {
  ManagementLineFramer framer;
  Collected out;
  FeedAll(framer, "a\rb\r\r\n\r\r\n", out);
  EXPECT_EQ(out.lines, (std::vector<std::string>{"a\rb\r", "\r"}));
}

}  // namespace
}  // namespace veltrona::engines
