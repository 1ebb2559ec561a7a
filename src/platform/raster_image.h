// The raster record shared by the text renderer, the raster, the encoder and
// the job engine: 24-bit pixels (blue, green, red), rows top first, each row
// padded to 4 bytes.
#pragma once
#include <cstdint>
#include <vector>

struct RasterImage {
  std::vector<uint8_t> pixels;
  uint16_t bitsPerPixel = 0;  // 24 when filled, 0 when empty
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;

  bool Empty() const { return bitsPerPixel == 0 || pixels.empty(); }

  // Empties the raster but keeps the pixel storage for the next use.
  void Clear() {
    pixels.clear();
    bitsPerPixel = 0;
    width = height = stride = 0;
  }
};

inline constexpr uint16_t kRasterBitsPerPixel = 24;
inline constexpr int64_t kBytesPerPixel = 3;

// Bytes per row of a 24-bit raster: width × 3 rounded up to a multiple of 4.
// In 64 bits, so that no width can overflow; callers check the result fits.
constexpr int64_t RasterStride(int64_t width) { return (width * kBytesPerPixel + 3) / 4 * 4; }
