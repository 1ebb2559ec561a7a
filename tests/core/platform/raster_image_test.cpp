#include "platform/raster_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <vector>

#include "output/png_encoder.h"

namespace {

// Every byte of `raster` as the fill says: pixel bytes `pixel`, padding 0.
void ExpectFilled(const RasterImage& raster, uint8_t pixel) {
  const int64_t rowBytes = int64_t{raster.width} * kBytesPerPixel;
  for (int64_t row = 0; row < raster.height; ++row) {
    for (int64_t b = 0; b < raster.stride; ++b) {
      const uint8_t want = b < rowBytes ? pixel : 0;
      ASSERT_EQ(raster.pixels[static_cast<size_t>(row * raster.stride + b)], want)
          << raster.width << " x " << raster.height << ", row " << row << ", byte " << b;
    }
  }
}

}  // namespace

TEST(RasterSetUp, FillsEveryByteWhateverTheStorageHeldAndRefusesWhatCannotBeHeld) {
  RasterImage raster;
  for (const auto [width, height] : std::vector<std::pair<int64_t, int64_t>>{{1, 1}, {2, 3}, {3, 2}, {5, 4}, {8, 1}}) {
    // Storage left dirty by an earlier, larger raster.
    raster.pixels.assign(200, 0x5A);
    ASSERT_TRUE(SetUpRaster(raster, width, height, RasterFill::kWhite));
    EXPECT_EQ(raster.stride, RasterStride(width));
    EXPECT_EQ(raster.pixels.size(), static_cast<size_t>(raster.stride * height));
    EXPECT_EQ(raster.bitsPerPixel, kRasterBitsPerPixel);
    ExpectFilled(raster, 0xFF);
    raster.pixels.assign(200, 0x5A);
    ASSERT_TRUE(SetUpRaster(raster, width, height, RasterFill::kZero));
    ExpectFilled(raster, 0);
  }
  // No area: an empty raster, which is no failure.
  EXPECT_TRUE(SetUpRaster(raster, 0, 7, RasterFill::kWhite));
  EXPECT_TRUE(raster.Empty());
  EXPECT_TRUE(SetUpRaster(raster, 4, -1, RasterFill::kZero));
  EXPECT_TRUE(raster.Empty());
  // A row longer than a stride can say, and a raster past any vector.
  ASSERT_TRUE(SetUpRaster(raster, 3, 3, RasterFill::kWhite));
  EXPECT_FALSE(SetUpRaster(raster, int64_t{1} << 31, 1, RasterFill::kUnset));
  EXPECT_TRUE(raster.Empty());
  EXPECT_THROW(SetUpRasterOrThrow(raster, INT32_MAX, INT32_MAX, RasterFill::kZero), std::bad_alloc);
  EXPECT_THROW(SetUpPlainRaster(raster, 10, int64_t{1} << 32, RasterFill::kWhite), std::bad_alloc);
}

TEST(RasterSetUp, PlainRasterEncodesAsTheWholeRasterItStandsFor) {
  const PngWriteSettings settings;
  for (const auto [width, height] : std::vector<std::pair<int64_t, int64_t>>{{1, 1}, {5, 3}, {33, 70}, {400, 9}}) {
    RasterImage whole;
    RasterImage plain;
    ASSERT_TRUE(SetUpRaster(whole, width, height, RasterFill::kWhite));
    SetUpPlainRaster(plain, width, height, RasterFill::kWhite);
    EXPECT_EQ(plain.width, width);
    EXPECT_EQ(plain.height, height);
    EXPECT_EQ(plain.stride, 0);
    EXPECT_EQ(plain.pixels.size(), static_cast<size_t>(RasterStride(width)));  // one row, not a page
    std::vector<uint8_t> fromWhole;
    std::vector<uint8_t> fromPlain;
    const auto w = static_cast<uint32_t>(width);
    const auto h = static_cast<uint32_t>(height);
    ASSERT_EQ(settings.EncodePng(fromWhole, whole.pixels.data(), w, h, static_cast<uint32_t>(whole.stride), 300, 300),
              result::kOk);
    ASSERT_EQ(settings.EncodePng(fromPlain, plain.pixels.data(), w, h, 0, 300, 300), result::kOk);
    EXPECT_EQ(fromPlain, fromWhole) << width << " x " << height;
  }
}
