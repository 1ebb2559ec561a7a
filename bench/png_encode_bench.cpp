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
#include "zlib_baseline.h"
#include "output/png_encoder.h"
#include "platform/raster_image.h"

namespace {

constexpr int32_t kPageWidth = 1587;
constexpr int32_t kPageHeight = 14400;
constexpr int32_t kFieldWidth = 400;
constexpr int32_t kFieldHeight = 120;
constexpr uint32_t kDpi = 360;

using zlib_baseline::Deflater;
using zlib_baseline::FilteredBands;
using zlib_baseline::RowsPerBand;

const RasterImage& Page() {
  static const RasterImage page = label_content::LabelPage(kPageWidth, kPageHeight);
  return page;
}

const RasterImage& Field() {
  static const RasterImage field = label_content::VariableField(kFieldWidth, kFieldHeight);
  return field;
}

// The encoder as the job engine calls it: band by band straight from the
// raster's rows, into one reused output vector. Returns the PNG bytes.
size_t EncodeAll(const RasterImage& raster, std::vector<uint8_t>& png) {
  const PngWriteSettings settings;
  const int64_t rowsPerBand = RowsPerBand(raster.width);
  size_t written = 0;
  for (int64_t first = 0; first < raster.height; first += rowsPerBand) {
    const int64_t rows = std::min(rowsPerBand, raster.height - first);
    if (settings.EncodePng(png, raster.pixels.data() + first * raster.stride, static_cast<uint32_t>(raster.width),
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
  Deflater zlib(FilteredBands(raster));
  size_t compressed = 0;
  for (auto _ : state) compressed = zlib.Run();
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

// Both in every iteration, timed by this thread's CPU time: on a
// busy machine the ratio of the two stays meaningful when single times drift.
void CompareWithZlib(benchmark::State& state, const RasterImage& raster) {
  Deflater zlib(FilteredBands(raster));
  std::vector<uint8_t> png;
  zlib_baseline::SideBySide pair;
  for (auto _ : state) {
    pair.Run([&] { benchmark::DoNotOptimize(EncodeAll(raster, png)); }, [&] { benchmark::DoNotOptimize(zlib.Run()); });
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["zlib_ms"] = pair.ZlibSeconds() / n * 1e3;
  state.counters["png_ms"] = pair.WorkSeconds() / n * 1e3;
  state.counters["png_per_zlib"] = pair.Ratio();
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
