#include "support/native/fakes.h"

#include <algorithm>

ResultCode BlockTextRenderer::RenderMessageText(RasterPoint& position, std::u16string_view text, int32_t,
                                                std::u16string_view, int32_t rotation, RasterImage& raster) noexcept {
  rendered.emplace_back(text);
  if (failWith != 0) return failWith;
  if (rotation != 0 && rotation != 90 && rotation != 180 && rotation != 270) return result::kTextRotation;
  // Measure: the longest line and the number of lines.
  int32_t lines = 1, longest = 0, current = 0;
  for (char16_t c : text) {
    if (c == u'\n') {
      ++lines;
      current = 0;
    } else {
      longest = std::max(longest, ++current);
    }
  }
  const int32_t w = longest * kCellWidth, h = lines * kCellHeight;
  const bool quarter = rotation == 90 || rotation == 270;
  raster.width = quarter ? h : w;
  raster.height = quarter ? w : h;
  raster.stride = static_cast<int32_t>(RasterStride(raster.width));
  raster.bitsPerPixel = kRasterBitsPerPixel;
  raster.pixels.assign(static_cast<size_t>(raster.stride) * raster.height, 0);
  for (int32_t y = 0; y < raster.height; ++y) {
    std::fill_n(raster.pixels.begin() + y * raster.stride, raster.width * 3, uint8_t{0});
  }
  if (rotation == 90) position.y -= w;
  if (rotation == 180) {
    position.x -= w;
    position.y -= h;
  }
  if (rotation == 270) position.x -= h;
  return 0;
}
