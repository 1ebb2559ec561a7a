#include "rgb_image.h"

#include <algorithm>
#include <cstring>

namespace streamcheck {

namespace {
constexpr uint8_t kWhite = 255;
}

RgbImage RgbImage::White(int32_t width, int32_t height) {
  RgbImage image;
  image.width = std::max(width, 0);
  image.height = std::max(height, 0);
  image.rgb.assign(image.RowBytes() * static_cast<size_t>(image.height), kWhite);
  return image;
}

void Blit(RgbImage& target, const RgbImage& source, int64_t x, int64_t y) {
  const int64_t left = std::max<int64_t>(x, 0);
  const int64_t top = std::max<int64_t>(y, 0);
  const int64_t right = std::min<int64_t>(x + source.width, target.width);
  const int64_t bottom = std::min<int64_t>(y + source.height, target.height);
  if (left >= right || top >= bottom) return;
  const size_t rowBytes = static_cast<size_t>(right - left) * 3;
  for (int64_t row = top; row < bottom; ++row) {
    uint8_t* to = target.rgb.data() + static_cast<size_t>(row) * target.RowBytes() + static_cast<size_t>(left) * 3;
    const uint8_t* from = source.Pixel(static_cast<int32_t>(left - x), static_cast<int32_t>(row - y));
    std::memcpy(to, from, rowBytes);
  }
}

RgbImage Resized(const RgbImage& source, int32_t width, int32_t height) {
  RgbImage result = RgbImage::White(width, height);
  Blit(result, source, 0, 0);
  return result;
}

}  // namespace streamcheck
