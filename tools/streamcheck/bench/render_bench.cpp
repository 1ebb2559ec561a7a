// Rendering the printer's largest label (1587 x 14400) from its 22 bands,
// beside libpng decoding the same band PNGs and nothing else.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

#include "png_codec.h"
#include "stream_checker.h"

namespace {

using streamcheck::RgbImage;

constexpr int32_t kWidth = 1587;
constexpr int32_t kLength = 14400;
constexpr int32_t kBandRows = 1071360 / kWidth;  // 675 rows, as the plug-in cuts them

// A label with some structure (stripes and a ramp) so that the bands do not
// compress to nothing.
RgbImage SampleLabel() {
  RgbImage label = RgbImage::White(kWidth, kLength);
  for (int32_t y = 0; y < kLength; ++y) {
    for (int32_t x = 0; x < kWidth; ++x) {
      uint8_t* p = label.rgb.data() + (static_cast<size_t>(y) * kWidth + x) * 3;
      if ((y / 40) % 3 == 0) {
        p[0] = static_cast<uint8_t>(x);
        p[1] = static_cast<uint8_t>(y);
        p[2] = 0;
      } else if ((x / 64 + y / 64) % 5 == 0) {
        p[0] = p[1] = p[2] = 0;
      }
    }
  }
  return label;
}

struct BandedJob {
  std::string stream;
  std::vector<std::vector<uint8_t>> bands;
};

const BandedJob& Job() {
  static const BandedJob job = [] {
    BandedJob built;
    built.stream = "^XA^FXLTCommand^FS^XZ^XA^S(CLM,T,M2^S(CLS,P,1587^S(CLS,L,14400^ST12,7,2026,21,5,9,M"
                   "^S(CX0,L,E^S(CX0,C,0^S(CX0,Q,2^S(CMP,D,B^C(D^XZ^XA^C(L";
    const RgbImage label = SampleLabel();
    streamcheck::PngEncodeOptions bandSettings;
    bandSettings.level = 3;
    bandSettings.memLevel = 7;
    bandSettings.strategy = 1;
    bandSettings.filtersNoneOnly = true;
    for (int32_t top = 0; top < kLength; top += kBandRows) {
      const int32_t rows = std::min(kBandRows, kLength - top);
      RgbImage band;
      band.width = kWidth;
      band.height = rows;
      band.rgb.assign(label.rgb.begin() + static_cast<ptrdiff_t>(top) * kWidth * 3,
                      label.rgb.begin() + static_cast<ptrdiff_t>(top + rows) * kWidth * 3);
      std::vector<uint8_t> png;
      streamcheck::EncodePng(band, bandSettings, png);
      built.stream += "~DYR:DIFF,B,P," + std::to_string(png.size()) + ",0,";
      built.stream.append(png.begin(), png.end());
      built.stream += "^FO0," + std::to_string(top) + "^IMR:DIFF.PNG^FS";
      built.bands.push_back(std::move(png));
    }
    built.stream += "^C(S^XZ";
    return built;
  }();
  return job;
}

void BM_RenderLargestLabel(benchmark::State& state) {
  const BandedJob& job = Job();
  size_t checksum = 0;
  const streamcheck::LabelSink sink = [&](const streamcheck::PrintedLabel& label) {
    checksum += label.picture.rgb[label.picture.rgb.size() / 2];
    return true;
  };
  for (auto _ : state) {
    const auto result = streamcheck::CheckStream(job.stream, &sink);
    if (result.error || result.stats.recalls != job.bands.size()) state.SkipWithError("render failed");
  }
  benchmark::DoNotOptimize(checksum);
  state.counters["bands"] = static_cast<double>(job.bands.size());
}
BENCHMARK(BM_RenderLargestLabel)->Unit(benchmark::kMillisecond);

struct MemoryReader {
  const std::vector<uint8_t>* png;
  size_t position;
};

void ReadMemory(png_structp png, png_bytep out, png_size_t length) {
  auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (length > reader->png->size() - reader->position) png_error(png, "short");
  std::copy_n(reader->png->data() + reader->position, length, out);
  reader->position += length;
}

// libpng alone: read each band's rows into one reused buffer.
bool DecodePlain(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& rows) {
  MemoryReader reader{&bytes, 0};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &reader, ReadMemory);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  if (rows.size() < static_cast<size_t>(width) * 3 * height) rows.resize(static_cast<size_t>(width) * 3 * height);
  for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, rows.data() + static_cast<size_t>(y) * width * 3, nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

void BM_PlainDecodeOfTheSameBands(benchmark::State& state) {
  const BandedJob& job = Job();
  std::vector<uint8_t> rows;
  for (auto _ : state) {
    for (const auto& band : job.bands) {
      if (!DecodePlain(band, rows)) state.SkipWithError("decode failed");
    }
    benchmark::DoNotOptimize(rows.data());
  }
}
BENCHMARK(BM_PlainDecodeOfTheSameBands)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
