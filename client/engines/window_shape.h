// The shape of a skinned window, read from its picture: every run of pixels
// that are not the key colour, row by row. The window side turns the runs
// into a region.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace veltrona::engines {

// One run: the pixels from x0 up to (not including) x1 of row y.
struct ShapeRun {
  int x0 = 0;
  int x1 = 0;
  int y = 0;
  friend bool operator==(const ShapeRun&, const ShapeRun&) = default;
};

// A 24-bit picture as a device-independent bitmap holds it: rows of blue,
// green, red bytes, each row `stride` bytes long, the bottom row first when
// `bottom_up`.
struct Picture24 {
  std::span<const std::uint8_t> bytes;
  int width = 0;
  int height = 0;
  std::size_t stride = 0;
  bool bottom_up = true;
};

// The runs of every pixel that is not `key` (red, green, blue), rows top to
// bottom. A picture whose bytes are fewer than its size says gives no runs.
std::vector<ShapeRun> OpaqueRuns(const Picture24& picture, std::uint8_t key_red, std::uint8_t key_green,
                                 std::uint8_t key_blue);

}  // namespace veltrona::engines
