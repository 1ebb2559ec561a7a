// A plain 8-bit RGB picture (rows top first, no padding): the decoded form of
// downloaded images and the canvas a printed label is drawn on.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace streamcheck {

struct RgbImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgb;  // width * height * 3 bytes

  static RgbImage White(int32_t width, int32_t height);
  size_t RowBytes() const { return static_cast<size_t>(width) * 3; }
  const uint8_t* Pixel(int32_t x, int32_t y) const { return rgb.data() + y * RowBytes() + static_cast<size_t>(x) * 3; }
};

// Copies `source` onto `target` with its top-left corner at (x, y); whatever
// falls outside `target` is cut off. Positions may be negative or far away.
void Blit(RgbImage& target, const RgbImage& source, int64_t x, int64_t y);

// A copy of `source` on a canvas of another size: the overlap is kept, the
// rest is white. Used when a kept page meets a label of a different size.
RgbImage Resized(const RgbImage& source, int32_t width, int32_t height);

}  // namespace streamcheck
