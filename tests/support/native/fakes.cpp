#include "support/native/fakes.h"

#include <algorithm>

#include "platform/saturate.h"

ResultCode BlockTextRenderer::RenderMessageText(DotPoint& position, std::u16string_view text, int32_t,
                                                std::u16string_view, int32_t rotation, RasterImage& raster) noexcept {
  try {
    rendered.emplace_back(text);
  } catch (...) {
    return result::kTextDrawing;  // out of memory: nothing drawn
  }
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
  try {
    raster.pixels.assign(static_cast<size_t>(raster.stride) * raster.height, 0);
  } catch (...) {
    raster.Clear();
    return result::kTextDrawing;
  }
  for (int32_t y = 0; y < raster.height; ++y) {
    std::fill_n(raster.pixels.begin() + y * raster.stride, raster.width * 3, uint8_t{0});
  }
  // Moved as the Windows renderer moves it: in 64 bits, saturated.
  if (rotation == 90) position.y = SaturateToInt32(int64_t{position.y} - w);
  if (rotation == 180) {
    position.x = SaturateToInt32(int64_t{position.x} - w);
    position.y = SaturateToInt32(int64_t{position.y} - h);
  }
  if (rotation == 270) position.x = SaturateToInt32(int64_t{position.x} - h);
  return 0;
}

std::unique_ptr<PrinterPort> MemoryPortFactory::OpenPort(void* printerHandle) {
  opened.push_back(printerHandle);
  return std::make_unique<PortOn>(printer);
}

MemoryHostBitmap MemoryHostBitmap::Solid(int32_t width, int32_t height, uint8_t blue, uint8_t green, uint8_t red) {
  MemoryHostBitmap bitmap;
  const auto stride = static_cast<size_t>(RasterStride(width));
  bitmap.rows = {width, height, kRasterBitsPerPixel, std::vector<uint8_t>(stride * static_cast<size_t>(height), 0)};
  for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
    for (size_t x = 0; x < static_cast<size_t>(width); ++x) {
      uint8_t* p = &bitmap.rows.bytes[y * stride + x * 3];
      p[0] = blue, p[1] = green, p[2] = red;
    }
  }
  return bitmap;
}
