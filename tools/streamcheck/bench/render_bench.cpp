// Rendering the printer's largest label (1587 x 14400) from its 22 bands,
// beside libpng decoding the same band PNGs and nothing else: the first label
// of a stream (a fresh page) and the later labels of a job (the printer's
// label memory kept), and the steady page of a 2 x 3 layout; and encoding
// that label's picture as "render" and "serve" write it.
#include <benchmark/benchmark.h>
#include <png.h>
#include <zlib.h>

#include <ctime>
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

// Appends the download of `png` as "DIFF" and its recall at (x, y).
void AppendDiffBand(std::string& stream, const std::vector<uint8_t>& png, int64_t x, int64_t y) {
  stream += "~DYR:DIFF,B,P," + std::to_string(png.size()) + ",0,";
  stream.append(png.begin(), png.end());
  stream += "^FO" + std::to_string(x) + "," + std::to_string(y) + "^IMR:DIFF.PNG^FS";
}

struct BandedJob {
  std::string stream;
  std::vector<std::vector<uint8_t>> bands;
};

const BandedJob& Job() {
  static const BandedJob job = [] {
    BandedJob built;
    built.stream =
        "^XA^FXLTCommand^FS^XZ^XA^S(CLM,T,M2^S(CLS,P,1587^S(CLS,L,14400^ST12,7,2026,21,5,9,M"
        "^S(CX0,L,E^S(CX0,C,0^S(CX0,Q,2^S(CMP,D,B^C(D^XZ^XA^C(L";
    const RgbImage label = SampleLabel();
    streamcheck::PngEncodeOptions bandSettings;
    bandSettings.level = 3;
    bandSettings.memLevel = 7;
    bandSettings.strategy = 1;
    bandSettings.filters = streamcheck::RowFilters::NoneOnly;
    for (int32_t top = 0; top < kLength; top += kBandRows) {
      const int32_t rows = std::min(kBandRows, kLength - top);
      RgbImage band;
      band.width = kWidth;
      band.height = rows;
      band.rgb.assign(label.rgb.begin() + static_cast<ptrdiff_t>(top) * kWidth * 3,
                      label.rgb.begin() + static_cast<ptrdiff_t>(top + rows) * kWidth * 3);
      std::vector<uint8_t> png;
      streamcheck::EncodePng(band, bandSettings, png);
      AppendDiffBand(built.stream, png, 0, top);
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

// Thread CPU time of two pieces of work run alternately, so that their ratio
// holds on a busy machine.
class SideBySide {
 public:
  template <typename Work, typename Yardstick>
  void Run(Work&& work, Yardstick&& yardstick) {
    const double a = Now();
    work();
    const double b = Now();
    yardstick();
    const double c = Now();
    work_ += b - a;
    yardstick_ += c - b;
  }
  double WorkSeconds() const { return work_; }
  double YardstickSeconds() const { return yardstick_; }
  double Ratio() const { return yardstick_ > 0 ? work_ / yardstick_ : 0; }

 private:
  static double Now() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
  }
  double work_ = 0;
  double yardstick_ = 0;
};

// Replays `stream` as one more job on `memory`.
size_t ReplayJob(streamcheck::PrinterMemory& memory, const std::string& stream, const streamcheck::ParsedStream& parsed,
                 const streamcheck::LabelSink& sink) {
  streamcheck::JobReplay replay(memory, &sink);
  for (const auto& command : parsed.commands) replay.Apply(command, stream);
  const auto result = replay.Finish(parsed.error, stream.size(), parsed.commands.size());
  return result.error ? 0 : result.stats.labels;
}

void Report(benchmark::State& state, const SideBySide& pair, size_t labels) {
  const auto n = static_cast<double>(state.iterations());
  state.counters["render_ms"] = pair.WorkSeconds() / n * 1e3;
  state.counters["decode_ms"] = pair.YardstickSeconds() / n * 1e3;
  state.counters["render_per_decode"] = pair.Ratio();
  state.counters["labels_per_s"] = pair.WorkSeconds() > 0 ? static_cast<double>(labels) / pair.WorkSeconds() : 0;
}

// The second and later labels of a job: each a page format that sends the
// whole label again in its 22 bands, drawn in the label memory the first left.
void BM_LaterLabelsOfAJob(benchmark::State& state) {
  const BandedJob& job = Job();
  const std::string page = job.stream.substr(job.stream.find("^XA^C(L"));
  const auto parsedJob = streamcheck::ParseStream(job.stream);
  const auto parsedPage = streamcheck::ParseStream(page);
  size_t checksum = 0;
  const streamcheck::LabelSink sink = [&](const streamcheck::PrintedLabel& label) {
    checksum += label.picture.rgb[label.picture.rgb.size() / 2];
    return true;
  };
  streamcheck::PrinterMemory memory;
  if (ReplayJob(memory, job.stream, parsedJob, sink) != 1) state.SkipWithError("first label failed");
  std::vector<uint8_t> rows;
  SideBySide pair;
  size_t labels = 0;
  for (auto _ : state) {
    pair.Run([&] { labels += ReplayJob(memory, page, parsedPage, sink); },
             [&] {
               for (const auto& band : job.bands) DecodePlain(band, rows);
               benchmark::DoNotOptimize(rows.data());
             });
  }
  if (labels != state.iterations()) state.SkipWithError("render failed");
  benchmark::DoNotOptimize(checksum);
  Report(state, pair, labels);
}
BENCHMARK(BM_LaterLabelsOfAJob)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// The steady page of a 2 x 3 layout on the largest label: after the first
// page, each page sends only its three variable fields (400 x 120) and a
// clock (8 cells of 20 x 24) for each of its six labels.
constexpr int32_t kTileWidth = kWidth / 3;
constexpr int32_t kTileLength = kLength / 2;

std::vector<uint8_t> Png(int32_t width, int32_t height, int pattern) {
  RgbImage image = RgbImage::White(width, height);
  for (size_t i = 0; i < image.rgb.size(); ++i) image.rgb[i] = static_cast<uint8_t>((i * 7 + pattern * 31) % 251);
  streamcheck::PngEncodeOptions options;
  options.level = 3;
  options.memLevel = 7;
  options.strategy = 1;
  options.filters = streamcheck::RowFilters::NoneOnly;
  std::vector<uint8_t> png;
  streamcheck::EncodePng(image, options, png);
  return png;
}

struct SteadyPage {
  std::string stream;
  std::vector<std::vector<uint8_t>> bands;
};

const SteadyPage& Steady() {
  static const SteadyPage steady = [] {
    SteadyPage built;
    built.stream = "^XA^C(L";
    const int32_t places[4][2] = {{100, 700}, {100, 900}, {700, 1300}, {900, 1600}};
    const int32_t sizes[4][2] = {{400, 120}, {400, 120}, {400, 120}, {160, 24}};
    for (int row = 0; row < 2; ++row) {
      for (int column = 0; column < 3; ++column) {
        for (int k = 0; k < 4; ++k) {
          std::vector<uint8_t> png = Png(sizes[k][0], sizes[k][1], row * 12 + column * 4 + k);
          AppendDiffBand(built.stream, png, column * kTileWidth + places[k][0], row * kTileLength + places[k][1]);
          built.bands.push_back(std::move(png));
        }
      }
    }
    built.stream += "^C(S^XZ";
    return built;
  }();
  return steady;
}

void BM_SteadyPage2x3(benchmark::State& state) {
  const BandedJob& job = Job();
  const SteadyPage& page = Steady();
  const auto parsedJob = streamcheck::ParseStream(job.stream);
  const auto parsedPage = streamcheck::ParseStream(page.stream);
  size_t checksum = 0;
  const streamcheck::LabelSink sink = [&](const streamcheck::PrintedLabel& label) {
    checksum += label.picture.rgb[label.picture.rgb.size() / 2];
    return true;
  };
  streamcheck::PrinterMemory memory;
  if (ReplayJob(memory, job.stream, parsedJob, sink) != 1) state.SkipWithError("first label failed");
  std::vector<uint8_t> rows;
  SideBySide pair;
  size_t labels = 0;
  for (auto _ : state) {
    pair.Run([&] { labels += ReplayJob(memory, page.stream, parsedPage, sink); },
             [&] {
               for (const auto& band : page.bands) DecodePlain(band, rows);
               benchmark::DoNotOptimize(rows.data());
             });
  }
  if (labels != state.iterations()) state.SkipWithError("render failed");
  benchmark::DoNotOptimize(checksum);
  Report(state, pair, labels);
  state.counters["page_labels_per_s"] = state.counters["labels_per_s"] * 6;
}
BENCHMARK(BM_SteadyPage2x3)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// Encoding the picture of the steady page's label (1587 x 14400), as the
// label pictures were written before (0: level 6 with adaptive row filters,
// as "render" did; 1: level 1 with adaptive filters, as "serve" did) and as
// they are now (2: LabelPictureEncoding, level 1, each row from the one above).
void BM_EncodeLabelPicture(benchmark::State& state) {
  const BandedJob& job = Job();
  const SteadyPage& page = Steady();
  RgbImage picture;
  const streamcheck::LabelSink sink = [&](const streamcheck::PrintedLabel& label) {
    picture = label.picture;
    return true;
  };
  streamcheck::PrinterMemory memory;
  ReplayJob(memory, job.stream, streamcheck::ParseStream(job.stream), sink);
  ReplayJob(memory, page.stream, streamcheck::ParseStream(page.stream), sink);
  streamcheck::PngEncodeOptions options = streamcheck::LabelPictureEncoding();
  if (state.range(0) < 2) {
    options.filters = streamcheck::RowFilters::Adaptive;
    options.level = state.range(0) == 0 ? 6 : 1;
  }
  std::vector<uint8_t> png;
  for (auto _ : state) {
    if (!streamcheck::EncodePng(picture, options, png)) state.SkipWithError("encode failed");
  }
  RgbImage back;
  if (!streamcheck::DecodePng(png.data(), png.size(), streamcheck::PngLimits{}, back).empty() ||
      back.rgb != picture.rgb) {
    state.SkipWithError("the picture does not decode to the label's pixels");
  }
  state.counters["png_bytes"] = static_cast<double>(png.size());
  state.counters["mpixels_per_s"] = benchmark::Counter(static_cast<double>(picture.rgb.size() / 3) / 1e6,
                                                       benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_EncodeLabelPicture)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// A 1 x 1 PNG whose image data inflates to a gibibyte: refused as soon as
// its data runs past the row it may hold.
void BM_RefuseImageDataBomb(benchmark::State& state) {
  constexpr size_t kStep = 1 << 20;
  constexpr size_t kSteps = 1024;
  const std::vector<uint8_t> zeros(kStep, 0);
  std::vector<uint8_t> idat(kStep);
  std::vector<uint8_t> data;
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, 15, 9, Z_RLE);
  for (size_t step = 0; step < kSteps; ++step) {
    z.next_in = const_cast<Bytef*>(zeros.data());
    z.avail_in = kStep;
    do {
      z.next_out = idat.data();
      z.avail_out = kStep;
      deflate(&z, step + 1 == kSteps ? Z_FINISH : Z_NO_FLUSH);
      data.insert(data.end(), idat.data(), z.next_out);
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  RgbImage pixel = RgbImage::White(1, 1);
  std::vector<uint8_t> png;
  streamcheck::EncodePng(pixel, streamcheck::PngEncodeOptions{}, png);
  // Replace the encoder's IDAT (after the signature, IHDR and pHYs) by the bomb's.
  constexpr size_t kIdatAt = 8 + 25 + 21;
  png.resize(kIdatAt);
  auto put = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) png.push_back(static_cast<uint8_t>(v >> (24 - 8 * i)));
  };
  put(static_cast<uint32_t>(data.size()));
  const size_t typeAt = png.size();
  png.insert(png.end(), {'I', 'D', 'A', 'T'});
  png.insert(png.end(), data.begin(), data.end());
  put(static_cast<uint32_t>(crc32(0, png.data() + typeAt, static_cast<uInt>(data.size() + 4))));
  png.insert(png.end(), {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82});
  for (auto _ : state) {
    const std::string problem = streamcheck::DecodePng(png.data(), png.size(), streamcheck::PngLimits{}, pixel);
    if (problem.find("inflates to more than") == std::string::npos) state.SkipWithError("bomb not refused");
  }
  state.counters["png_bytes"] = static_cast<double>(png.size());
}
BENCHMARK(BM_RefuseImageDataBomb)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
