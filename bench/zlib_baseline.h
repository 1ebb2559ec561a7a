// The yardstick of the encoding benchmarks: plain zlib deflating the bytes it
// sees inside our PNG files (filter byte 0, then each row in red, green, blue
// order), one stream per band as the job engine cuts them, with the engine's
// settings: level 3, memLevel 7, filtered strategy, 32 KB window.
#pragma once
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "platform/raster_image.h"

namespace zlib_baseline {

inline constexpr int64_t kBandPixels = 1071360;
inline constexpr int64_t kBandMaxRows = 2976;

// Rows per band, as the job engine bands a raster of this width.
inline int64_t RowsPerBand(int64_t width) {
  const int64_t rows = kBandPixels / width;
  return std::clamp<int64_t>(rows < 2 ? 1 : rows, 1, kBandMaxRows);
}

// Appends the filtered rows of `raster`, one entry per band. Built outside the timing.
inline void AddFilteredBands(const RasterImage& raster, std::vector<std::vector<uint8_t>>& bands) {
  const int64_t rowsPerBand = RowsPerBand(raster.width);
  const auto rowBytes = static_cast<size_t>(raster.width) * kBytesPerPixel;
  for (int64_t first = 0; first < raster.height; first += rowsPerBand) {
    const int64_t rows = std::min(rowsPerBand, raster.height - first);
    std::vector<uint8_t> band;
    band.reserve(static_cast<size_t>(rows) * (rowBytes + 1));
    for (int64_t r = first; r < first + rows; ++r) {
      const uint8_t* p = raster.pixels.data() + r * raster.stride;
      band.push_back(0);
      for (size_t x = 0; x < rowBytes; x += kBytesPerPixel) band.insert(band.end(), {p[x + 2], p[x + 1], p[x]});
    }
    bands.push_back(std::move(band));
  }
}

inline std::vector<std::vector<uint8_t>> FilteredBands(const RasterImage& raster) {
  std::vector<std::vector<uint8_t>> bands;
  AddFilteredBands(raster, bands);
  return bands;
}

// Deflates a fixed set of bands; Run() returns the compressed byte count.
class Deflater {
 public:
  explicit Deflater(std::vector<std::vector<uint8_t>> bands) : bands_(std::move(bands)) {
    size_t largest = 0;
    for (const auto& band : bands_) largest = std::max(largest, band.size());
    out_.resize(compressBound(static_cast<uLong>(largest)));
  }
  size_t Run() {
    size_t total = 0;
    for (const auto& band : bands_) {
      z_stream z{};
      if (deflateInit2(&z, 3, Z_DEFLATED, 15, 7, Z_FILTERED) != Z_OK) throw std::runtime_error("deflateInit2");
      z.next_in = const_cast<Bytef*>(band.data());
      z.avail_in = static_cast<uInt>(band.size());
      z.next_out = out_.data();
      z.avail_out = static_cast<uInt>(out_.size());
      if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
      total += z.total_out;
      deflateEnd(&z);
      benchmark::DoNotOptimize(out_.data());
    }
    return total;
  }

 private:
  std::vector<std::vector<uint8_t>> bands_;
  std::vector<uint8_t> out_;
};

// This thread's CPU time: timing both sides of a pair with it keeps their ratio
// meaningful on a busy machine, where wall times drift.
inline double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Times a piece of work and the zlib yardstick side by side, once each per
// iteration, by thread CPU time. The order swaps every time, so that neither
// always finds the caches as the other left them.
class SideBySide {
 public:
  template <typename Work, typename Yardstick>
  void Run(Work&& work, Yardstick&& yardstick) {
    const auto timed = [](auto&& fn, double& total) {
      const double start = ThreadCpuSeconds();
      fn();
      total += ThreadCpuSeconds() - start;
    };
    if (zlibFirst_) {
      timed(yardstick, zlibSeconds_);
      timed(work, workSeconds_);
    } else {
      timed(work, workSeconds_);
      timed(yardstick, zlibSeconds_);
    }
    zlibFirst_ = !zlibFirst_;
  }
  double WorkSeconds() const { return workSeconds_; }
  double ZlibSeconds() const { return zlibSeconds_; }
  double Ratio() const { return zlibSeconds_ > 0 ? workSeconds_ / zlibSeconds_ : 0; }

 private:
  double workSeconds_ = 0;
  double zlibSeconds_ = 0;
  bool zlibFirst_ = true;
};

}  // namespace zlib_baseline
