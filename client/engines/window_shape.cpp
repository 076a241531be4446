#include "client/engines/window_shape.h"

namespace veltrona::engines {

std::vector<ShapeRun> OpaqueRuns(const Picture24& picture, std::uint8_t key_red, std::uint8_t key_green,
                                 std::uint8_t key_blue) {
  std::vector<ShapeRun> runs;
  if (picture.width <= 0 || picture.height <= 0) return runs;
  const auto width = static_cast<std::size_t>(picture.width);
  const auto height = static_cast<std::size_t>(picture.height);
  if (picture.stride < width * 3 || picture.bytes.size() / picture.stride < height) return runs;
  for (int y = 0; y < picture.height; ++y) {
    const std::size_t row = picture.bottom_up ? height - 1 - static_cast<std::size_t>(y) : static_cast<std::size_t>(y);
    const std::uint8_t* pixels = picture.bytes.data() + row * picture.stride;
    auto is_key = [&](int x) {
      const std::uint8_t* p = pixels + static_cast<std::size_t>(x) * 3;
      return p[0] == key_blue && p[1] == key_green && p[2] == key_red;
    };
    int x = 0;
    while (x < picture.width) {
      while (x < picture.width && is_key(x)) ++x;
      if (x == picture.width) break;
      const int x0 = x;
      while (x < picture.width && !is_key(x)) ++x;
      runs.push_back({x0, x, y});
    }
  }
  return runs;
}

}  // namespace veltrona::engines
