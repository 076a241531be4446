#include "client/engines/window_shape.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace veltrona::engines {
namespace {

constexpr std::uint8_t kR = 70, kG = 147, kB = 135;

// A picture of `rows` given as text: '.' is the key colour, anything else a
// colour of the window. Stored bottom-up with padded rows, as a DIB is.
struct TextPicture {
  explicit TextPicture(const std::vector<const char*>& rows) {
    height = static_cast<int>(rows.size());
    width = static_cast<int>(std::char_traits<char>::length(rows[0]));
    stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    bytes.assign(stride * rows.size(), 0xEE);
    for (int y = 0; y < height; ++y) {
      std::uint8_t* row = bytes.data() + static_cast<std::size_t>(height - 1 - y) * stride;
      for (int x = 0; x < width; ++x) {
        const bool key = rows[static_cast<std::size_t>(y)][x] == '.';
        row[x * 3] = key ? kB : 10;
        row[x * 3 + 1] = key ? kG : 20;
        row[x * 3 + 2] = key ? kR : 30;
      }
    }
  }
  Picture24 View() const { return {bytes, width, height, stride, true}; }
  std::vector<std::uint8_t> bytes;
  int width = 0, height = 0;
  std::size_t stride = 0;
};

TEST(WindowShape, EveryRunBetweenKeyPixelsReachingTheEdgesTopRowFirst) {
  const TextPicture picture({
      "..##..",
      "#.#..#",
      "......",
      "######",
  });
  const std::vector<ShapeRun> expected = {{2, 4, 0}, {0, 1, 1}, {2, 3, 1}, {5, 6, 1}, {0, 6, 3}};
  EXPECT_EQ(OpaqueRuns(picture.View(), kR, kG, kB), expected);
}

TEST(WindowShape, AColourOneStepFromTheKeyIsPartOfTheWindow) {
  TextPicture picture({"..."});
  picture.bytes[3] = kB + 1;  // the middle pixel's blue
  const std::vector<ShapeRun> expected = {{1, 2, 0}};
  EXPECT_EQ(OpaqueRuns(picture.View(), kR, kG, kB), expected);
}

TEST(WindowShape, APictureShorterThanItsSizeGivesNoRunsAndReadsNothingPastIt) {
  const TextPicture picture({"##", "##"});
  Picture24 cut = picture.View();
  cut.bytes = cut.bytes.first(cut.bytes.size() - 1);
  EXPECT_TRUE(OpaqueRuns(cut, kR, kG, kB).empty());
  Picture24 narrow = picture.View();
  narrow.stride = 5;  // less than two pixels
  EXPECT_TRUE(OpaqueRuns(narrow, kR, kG, kB).empty());
}

}  // namespace
}  // namespace veltrona::engines
