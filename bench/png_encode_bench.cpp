// PNG encoding of label rasters against plain zlib deflating the same filtered
// rows with the same settings: the encoder's cost above zlib is libpng's and
// ours. Run the pairs side by side and compare their times.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <vector>

#include "label_content.h"
#include "output/png_encoder.h"
#include "output/raster_image.h"

namespace {

constexpr int32_t kPageWidth = 1587;
constexpr int32_t kPageHeight = 14400;
constexpr int32_t kFieldWidth = 400;
constexpr int32_t kFieldHeight = 120;
constexpr uint32_t kDpi = 360;

// The job engine's banding: at most this many pixels and rows per band.
constexpr int64_t kBandPixels = 1071360;
constexpr int64_t kBandMaxRows = 2976;

int64_t RowsPerBand(int64_t width) {
  const int64_t rows = kBandPixels / width;
  return std::clamp<int64_t>(rows < 2 ? 1 : rows, 1, kBandMaxRows);
}

const RasterImage& Page() {
  static const RasterImage page = label_content::LabelPage(kPageWidth, kPageHeight);
  return page;
}

const RasterImage& Field() {
  static const RasterImage field = label_content::VariableField(kFieldWidth, kFieldHeight);
  return field;
}

// The bytes zlib sees inside a PNG with the None filter: each row of red,
// green, blue pixels behind a filter byte 0. Built once, outside the timing.
std::vector<std::vector<uint8_t>> FilteredBands(const RasterImage& raster) {
  std::vector<std::vector<uint8_t>> bands;
  const int64_t rowsPerBand = RowsPerBand(raster.width);
  const size_t rowBytes = static_cast<size_t>(raster.width) * kBytesPerPixel;
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
  return bands;
}

// zlib alone: level 3, memLevel 7, filtered strategy, 32 KB window, one
// stream per band as in the PNG files. Returns the compressed bytes.
size_t DeflateAll(const std::vector<std::vector<uint8_t>>& bands, std::vector<uint8_t>& out) {
  size_t compressed = 0;
  for (const auto& band : bands) {
    z_stream z{};
    if (deflateInit2(&z, 3, Z_DEFLATED, 15, 7, Z_FILTERED) != Z_OK) throw std::runtime_error("deflateInit2");
    z.next_in = const_cast<Bytef*>(band.data());
    z.avail_in = static_cast<uInt>(band.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
    compressed += z.total_out;
    deflateEnd(&z);
    benchmark::DoNotOptimize(out.data());
  }
  return compressed;
}

std::vector<uint8_t> DeflateOutput(const std::vector<std::vector<uint8_t>>& bands) {
  size_t largest = 0;
  for (const auto& band : bands) largest = std::max(largest, band.size());
  return std::vector<uint8_t>(compressBound(static_cast<uLong>(largest)));
}

// The encoder as the job engine calls it: band by band straight from the
// raster's rows, into one reused output vector. Returns the PNG bytes.
size_t EncodeAll(const RasterImage& raster, std::vector<uint8_t>& png) {
  const PngWriteSettings settings;
  const int64_t rowsPerBand = RowsPerBand(raster.width);
  size_t written = 0;
  for (int64_t first = 0; first < raster.height; first += rowsPerBand) {
    const int64_t rows = std::min(rowsPerBand, raster.height - first);
    if (!settings.EncodePng(png, raster.pixels.data() + first * raster.stride, static_cast<uint32_t>(raster.width),
                            static_cast<uint32_t>(rows), static_cast<uint32_t>(raster.stride), kDpi, kDpi)) {
      throw std::runtime_error("EncodePng");
    }
    written += png.size();
    benchmark::DoNotOptimize(png.data());
  }
  return written;
}

void SetPixelsProcessed(benchmark::State& state, const RasterImage& raster) {
  state.SetBytesProcessed(state.iterations() * int64_t{raster.width} * raster.height * kBytesPerPixel);
}

void DeflateBands(benchmark::State& state, const RasterImage& raster) {
  const auto bands = FilteredBands(raster);
  auto out = DeflateOutput(bands);
  size_t compressed = 0;
  for (auto _ : state) compressed = DeflateAll(bands, out);
  state.counters["out_bytes"] = static_cast<double>(compressed);
  SetPixelsProcessed(state, raster);
}

void EncodeBands(benchmark::State& state, const RasterImage& raster) {
  std::vector<uint8_t> png;
  size_t written = 0;
  for (auto _ : state) written = EncodeAll(raster, png);
  state.counters["out_bytes"] = static_cast<double>(written);
  SetPixelsProcessed(state, raster);
}

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Both in every iteration, timed by this thread's CPU time: on a
// busy machine the ratio of the two stays meaningful when single times drift.
void CompareWithZlib(benchmark::State& state, const RasterImage& raster) {
  const auto bands = FilteredBands(raster);
  auto out = DeflateOutput(bands);
  std::vector<uint8_t> png;
  double zlibSeconds = 0, pngSeconds = 0;
  bool zlibFirst = true;
  const auto timeZlib = [&] {
    const double start = ThreadCpuSeconds();
    benchmark::DoNotOptimize(DeflateAll(bands, out));
    zlibSeconds += ThreadCpuSeconds() - start;
  };
  const auto timePng = [&] {
    const double start = ThreadCpuSeconds();
    benchmark::DoNotOptimize(EncodeAll(raster, png));
    pngSeconds += ThreadCpuSeconds() - start;
  };
  // The order swaps every iteration, so that neither always finds the caches
  // as the other left them.
  for (auto _ : state) {
    if (zlibFirst) {
      timeZlib();
      timePng();
    } else {
      timePng();
      timeZlib();
    }
    zlibFirst = !zlibFirst;
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["zlib_ms"] = zlibSeconds / n * 1e3;
  state.counters["png_ms"] = pngSeconds / n * 1e3;
  state.counters["png_per_zlib"] = zlibSeconds > 0 ? pngSeconds / zlibSeconds : 0;
}

void BM_Page_ZlibAlone(benchmark::State& state) { DeflateBands(state, Page()); }
void BM_Page_EncodePng(benchmark::State& state) { EncodeBands(state, Page()); }
void BM_Page_EncodePngPerZlib(benchmark::State& state) { CompareWithZlib(state, Page()); }
void BM_Field_ZlibAlone(benchmark::State& state) { DeflateBands(state, Field()); }
void BM_Field_EncodePng(benchmark::State& state) { EncodeBands(state, Field()); }
void BM_Field_EncodePngPerZlib(benchmark::State& state) { CompareWithZlib(state, Field()); }

}  // namespace

// Interleaved so that each pair runs under the same machine load.
BENCHMARK(BM_Page_ZlibAlone)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Page_EncodePng)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Field_ZlibAlone)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_Field_EncodePng)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_Page_EncodePngPerZlib)->Unit(benchmark::kMillisecond)->MinTime(4.0);
BENCHMARK(BM_Field_EncodePngPerZlib)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

BENCHMARK_MAIN();
