// The raster record shared by the text renderer, the raster, the encoder and
// the job engine: 24-bit pixels (blue, green, red), rows top first, each row
// padded to 4 bytes.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

struct RasterImage {
  std::vector<uint8_t> pixels;
  uint16_t bitsPerPixel = 0;  // 24 when filled, 0 when empty
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;  // 0: every row is the first (a plain raster, see SetUpPlainRaster)

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

// What a raster's pixel bytes hold once it is set up.
enum class RasterFill {
  kUnset,  // whatever the storage held: the caller writes every byte, padding included
  kZero,
  kWhite,  // every pixel byte 0xFF, the row padding 0
};

// Sets `raster` up as `width` x `height` pixels of 24 bits, rows padded to 4
// bytes, its storage reused; an empty raster for a size without area. False
// (the raster empty) when no raster of this size could be held.
[[nodiscard]] inline bool SetUpRaster(RasterImage& raster, int64_t width, int64_t height, RasterFill fill) {
  raster.Clear();
  if (width <= 0 || height <= 0) return true;
  const int64_t stride = RasterStride(width);
  const int64_t bytes = RasterBytes(stride, height);
  if (bytes < 0 || width > std::numeric_limits<int32_t>::max() || height > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  constexpr uint8_t kWhite = 0xFF;
  switch (fill) {
    case RasterFill::kUnset: raster.pixels.resize(static_cast<size_t>(bytes)); break;
    case RasterFill::kZero: raster.pixels.assign(static_cast<size_t>(bytes), 0); break;
    case RasterFill::kWhite:
      raster.pixels.assign(static_cast<size_t>(bytes), kWhite);
      ClearRowPadding(raster.pixels.data(), stride, width * kBytesPerPixel, height);
      break;
  }
  raster.width = static_cast<int32_t>(width);
  raster.height = static_cast<int32_t>(height);
  raster.stride = static_cast<int32_t>(stride);
  raster.bitsPerPixel = kRasterBitsPerPixel;
  return true;
}

// As SetUpRaster, but throws std::bad_alloc for a size no raster can hold.
inline void SetUpRasterOrThrow(RasterImage& raster, int64_t width, int64_t height, RasterFill fill) {
  if (!SetUpRaster(raster, width, height, fill)) throw std::bad_alloc();
}

// A plain raster: `width` x `height` pixels that are all `fill`, held as one
// row that stands for every row (stride 0). A page of one colour then costs
// one row of memory rather than a page. Only whole rows are read from it, by
// the encoder; whatever composes or paints needs a raster of SetUpRaster.
inline void SetUpPlainRaster(RasterImage& raster, int64_t width, int64_t height, RasterFill fill) {
  if (height > std::numeric_limits<int32_t>::max()) throw std::bad_alloc();
  SetUpRasterOrThrow(raster, width, height > 0 ? 1 : 0, fill);
  if (!raster.Empty()) {
    raster.height = static_cast<int32_t>(height);
    raster.stride = 0;
  }
}
