// The raster record shared by the text renderer, the raster, the encoder and
// the job engine: 24-bit pixels (blue, green, red), rows top first, each row
// padded to 4 bytes.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
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

// Longest row a raster may have: its stride is a 32-bit field.
inline constexpr int64_t kMaxRasterStride = std::numeric_limits<int32_t>::max();

// Byte count of `rows` rows of `stride` bytes, or -1 when no raster could
// hold it: a vector must be able to allocate it and every offset into it
// must fit a signed 64-bit index.
inline int64_t RasterBytes(int64_t stride, int64_t rows) {
  const auto limit = static_cast<int64_t>(std::min<uint64_t>(
      std::vector<uint8_t>{}.max_size(), static_cast<uint64_t>(std::numeric_limits<int64_t>::max())));
  if (stride < 0 || rows < 0 || stride > kMaxRasterStride) return -1;
  if (rows != 0 && stride > limit / rows) return -1;
  return stride * rows;
}

// Zeroes the padding after the `rowBytes` pixel bytes of each of the first
// `rows` rows, so that a raster's bytes never depend on what its storage held.
inline void ClearRowPadding(uint8_t* pixels, int64_t stride, int64_t rowBytes, int64_t rows) {
  if (stride == rowBytes) return;
  for (int64_t row = 0; row < rows; ++row) {
    std::memset(pixels + row * stride + rowBytes, 0, static_cast<size_t>(stride - rowBytes));
  }
}
