// Page assembly against plain zlib deflating the same rows with the same
// settings: what the engine adds on top of compression (composition, banding,
// PNG framing, the command stream) shows as the ratio of the two times. Each
// pair runs in the same iteration, timed by this thread's CPU time.
//
// The binary's operator new is replaced by one that counts live bytes, so
// that the peak heap of a step can be reported (libpng's and zlib's own
// state, a few hundred kilobytes taken with malloc, is not counted).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include "engine/print_control.h"
#include "label_content.h"
#include "zlib_baseline.h"
#include "platform/raster_image.h"
#include "platform/clock.h"
#include "platform/log_sink.h"
#include "platform/printer_port.h"
#include "platform/text_renderer.h"

namespace heap {
std::atomic<int64_t> live{0};
std::atomic<int64_t> peak{0};

void Allocated(void* p) {
  const auto bytes = static_cast<int64_t>(malloc_usable_size(p));
  const int64_t now = live.fetch_add(bytes, std::memory_order_relaxed) + bytes;
  int64_t high = peak.load(std::memory_order_relaxed);
  while (now > high && !peak.compare_exchange_weak(high, now, std::memory_order_relaxed)) {
  }
}
void Freed(void* p) { live.fetch_sub(static_cast<int64_t>(malloc_usable_size(p)), std::memory_order_relaxed); }
// Starts a new peak from what is live now; returns that.
int64_t RestartPeak() {
  const int64_t now = live.load(std::memory_order_relaxed);
  peak.store(now, std::memory_order_relaxed);
  return now;
}
}  // namespace heap

void* operator new(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  heap::Allocated(p);
  return p;
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  heap::Freed(p);
  std::free(p);
}
void operator delete[](void* p) noexcept { ::operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { ::operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { ::operator delete(p); }

namespace {

constexpr int32_t kDpi = 360;
constexpr int32_t kPageWidth = 1587;
constexpr int32_t kPageLength = 14400;
constexpr int32_t kFieldWidth = 400;
constexpr int32_t kFieldHeight = 120;
constexpr int32_t kSteadyLabelLength = 1800;
constexpr double kMegabyte = 1e6;

// A 2 x 3 layout filling the page: tiles of 529 x 7200 dots. 373 tenths of a
// millimetre are 529 dots at 360 dpi, 5080 tenths 7200 dots.
constexpr int32_t kTileWidth = 529;
constexpr int32_t kTileHeight = 7200;
constexpr int32_t kHorizontalPitch = 373;
constexpr int32_t kVerticalPitch = 5080;

// A host bitmap that delivers a raster's rows, copied as the platform copies them.
class RasterBitmap : public HostBitmap {
 public:
  explicit RasterBitmap(const RasterImage& raster) : raster_(raster) {}
  ResultCode Read(DibRows& rows) noexcept override {
    rows.width = raster_.width;
    rows.height = raster_.height;
    rows.bitCount = kRasterBitsPerPixel;
    rows.bytes = raster_.pixels;
    return result::kOk;
  }

 private:
  const RasterImage& raster_;
};

// A printer that takes every byte, keeps none and counts them.
class NullPrinter : public PrinterPort {
 public:
  std::optional<uint32_t> ReadSetting(std::u16string_view) override { return std::nullopt; }
  bool WriteSetting(std::u16string_view, uint32_t) override { return true; }
  bool Write(const uint8_t*, uint32_t count, uint32_t& written) override {
    written = count;
    received += count;
    return true;
  }
  size_t received = 0;
};

using zlib_baseline::AddFilteredBands;
using zlib_baseline::Deflater;

class FixedClock : public Clock {
 public:
  LocalTime Now() override { return {2026, 12, 7, 21, 5, 9, 42}; }
};

class QuietLog : public LogSink {
 public:
  void WriteLogEntry(std::u16string_view, std::u16string_view) noexcept override {}
};

// Draws each character as a black cell, one line, rotation 0 only: the cost
// of real glyph drawing belongs to the platform, not to page assembly.
class BlockText : public TextRenderer {
 public:
  static constexpr int32_t kCellWidth = 8;
  static constexpr int32_t kCellHeight = 10;
  ResultCode RenderMessageText(DotPoint&, std::u16string_view text, int32_t, std::u16string_view, int32_t rotation,
                               RasterImage& raster) noexcept override {
    if (rotation != 0) return result::kTextRotation;
    raster.width = static_cast<int32_t>(text.size()) * kCellWidth;
    raster.height = kCellHeight;
    raster.stride = static_cast<int32_t>(RasterStride(raster.width));
    raster.bitsPerPixel = kRasterBitsPerPixel;
    raster.pixels.assign(static_cast<size_t>(raster.stride) * kCellHeight, 0);
    return result::kOk;
  }
};

struct Services {
  NullPrinter printer;
  FixedClock clock;
  BlockText text;
  QuietLog log;
};

std::unique_ptr<CPrintControl> NewEngine(Services& s, int32_t width, int32_t length) {
  auto engine = std::make_unique<CPrintControl>(kDpi, s.printer, JobServices{s.clock, s.text, s.log});
  const int32_t header[2] = {width, length};
  if (engine->WritePrintJobHeader(header) != result::kOk) throw std::runtime_error("job header");
  return engine;
}

// An engine ready for the first base reference of a 2 x 3 job on a full-length page.
std::unique_ptr<CPrintControl> FirstPageEngine(Services& s, const RasterImage& tile) {
  auto engine = NewEngine(s, kPageWidth, kPageLength);
  LayoutData layout;
  layout.labelRows = 2;
  layout.labelColumns = 3;
  layout.horizontalPitch = kHorizontalPitch;
  layout.verticalPitch = kVerticalPitch;
  engine->SetLayout(layout);
  RasterBitmap bitmap(tile);
  if (engine->ReceiveBitmap(bitmap, kBaseBitmapName.data()) != result::kOk) throw std::runtime_error("source");
  engine->CreateNewPage();
  return engine;
}

const RasterImage& Tile() {
  static const RasterImage tile = label_content::LabelPage(kTileWidth, kTileHeight, 3);
  return tile;
}

// The first page: ReferToBaseBitmap composes the tiled page and sends it in
// bands; zlib alone deflates the same page's rows.
void BM_FirstPage_BaseVsZlib(benchmark::State& state) {
  Services services;
  std::vector<std::vector<uint8_t>> bands;
  {
    // The page the first reference sends: the tile over the same grid.
    CPrintImage image(services.text);
    PageModel model;
    RasterBitmap bitmap(Tile());
    if (image.SetSourceBitmap(bitmap) != result::kOk) throw std::runtime_error("source");
    RasterImage tile;
    if (!image.TakeSource(tile)) throw std::runtime_error("base");
    BaseGrid grid;
    grid.page = {kPageWidth, kPageLength};
    grid.outerCount = 2;
    grid.innerCount = 3;
    grid.outerStep = TenthsMmToDots(kVerticalPitch, kDpi);
    grid.innerStep = TenthsMmToDots(kHorizontalPitch, kDpi);
    if (!model.LayOutBase(grid, &tile)) throw std::runtime_error("lay out");
    RasterImage page;
    if (image.ComposeWindow(model, {0, 0, kPageWidth, kPageLength}, page) != result::kOk) {
      throw std::runtime_error("base rows");
    }
    AddFilteredBands(page, bands);
  }
  Deflater zlib(std::move(bands));
  const double pageBytes = static_cast<double>(RasterStride(kPageWidth) * kPageLength);

  zlib_baseline::SideBySide pair;
  int64_t peakAdded = 0, peakWithSource = 0;
  size_t streamBytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto engine = FirstPageEngine(services, Tile());
    if (engine->SendToPrinter() != result::kOk) throw std::runtime_error("send");
    const size_t before = services.printer.received;
    const auto sourceBytes = static_cast<int64_t>(Tile().pixels.size());  // the waiting bitmap's copy
    state.ResumeTiming();

    int64_t start = 0;
    pair.Run(
        [&] {
          start = heap::RestartPeak();
          const DotPoint at{0, 0};
          if (engine->ReferToBaseBitmap(at) != result::kOk) throw std::runtime_error("base");
        },
        [&] { benchmark::DoNotOptimize(zlib.Run()); });
    const int64_t added = heap::peak.load() - start;
    peakAdded = std::max(peakAdded, added);
    peakWithSource = std::max(peakWithSource, added + sourceBytes);

    state.PauseTiming();
    if (engine->SendToPrinter() != result::kOk) throw std::runtime_error("send");
    streamBytes = services.printer.received - before;
    engine.reset();
    state.ResumeTiming();
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["engine_ms"] = pair.WorkSeconds() / n * 1e3;
  state.counters["zlib_ms"] = pair.ZlibSeconds() / n * 1e3;
  state.counters["engine_per_zlib"] = pair.Ratio();
  state.counters["stream_MB"] = static_cast<double>(streamBytes) / kMegabyte;
  state.counters["peak_added_MB"] = static_cast<double>(peakAdded) / kMegabyte;
  state.counters["peak_MB"] = static_cast<double>(peakWithSource) / kMegabyte;
  state.counters["peak_per_page"] = static_cast<double>(peakWithSource) / pageBytes;
}

// A steady label: three variable fields and a clock on a page whose base went
// out before. The fields alternate between two contents, so every label
// sends changed rectangles of the same size. With argument 1 the first field
// also alternates between two widths and places, as a serial number that
// grows and shrinks: every label then sends the window over both of its
// rectangles, with the base where the field is not.
void BM_SteadyLabel_VariablesVsZlib(benchmark::State& state) {
  const bool moving = state.range(0) != 0;
  Services services;
  auto engine = NewEngine(services, kPageWidth, kSteadyLabelLength);
  LayoutData layout;
  layout.labelRows = 1;
  layout.labelColumns = 1;
  engine->SetLayout(layout);
  const RasterImage base = label_content::LabelPage(kPageWidth, kSteadyLabelLength, 5);
  RasterBitmap baseBitmap(base);
  if (engine->ReceiveBitmap(baseBitmap, kBaseBitmapName.data()) != result::kOk) throw std::runtime_error("source");
  engine->CreateNewPage();
  const DotPoint origin{0, 0};
  if (engine->ReferToBaseBitmap(origin) != result::kOk) throw std::runtime_error("base");
  if (engine->CloseNewPageFinal() != result::kOk) throw std::runtime_error("final");
  if (engine->SendToPrinter() != result::kOk) throw std::runtime_error("send");

  constexpr int kFields = 3;
  const char* names[kFields] = {"SERIAL", "LOT", "PRICE"};
  const DotPoint places[kFields] = {{100, 700}, {100, 900}, {700, 1300}};
  const DotPoint clockAt{900, 1600};
  const char16_t* clockText = u"12:34:56";
  std::vector<RasterImage> fields[2];
  std::vector<std::vector<uint8_t>> bands;
  for (int set = 0; set < 2; ++set) {
    for (int k = 0; k < kFields; ++k) {
      fields[set].push_back(label_content::VariableField(kFieldWidth, kFieldHeight, 11 + set * kFields + k));
      if (set == 0) AddFilteredBands(fields[set].back(), bands);
    }
  }
  const RasterImage narrowField = label_content::VariableField(kFieldWidth * 2 / 3, kFieldHeight, 17);
  const DotPoint movedPlace{places[0].x + kFieldWidth / 4, places[0].y + kFieldHeight / 5};
  // The clock's rectangle as the block renderer draws it: black cells.
  RasterImage clockRaster = label_content::WhiteRaster(8 * BlockText::kCellWidth, BlockText::kCellHeight);
  std::fill(clockRaster.pixels.begin(), clockRaster.pixels.end(), uint8_t{0});
  AddFilteredBands(clockRaster, bands);
  Deflater zlib(std::move(bands));

  zlib_baseline::SideBySide pair;
  size_t streamBytes = 0;
  int label = 0;
  for (auto _ : state) {
    const auto printLabel = [&] {
      engine->CreateNewPage();
      if (engine->ReferToBaseBitmap(origin) != result::kOk) throw std::runtime_error("base");
      for (int k = 0; k < kFields; ++k) {
        const bool moved = moving && k == 0 && label % 2 == 1;
        RasterBitmap bitmap(moved ? narrowField : fields[label % 2][static_cast<size_t>(k)]);
        if (engine->ReceiveBitmap(bitmap, names[k]) != result::kOk) throw std::runtime_error("field");
        const DotPoint at = moved ? movedPlace : places[k];
        if (engine->ReferToVariableBitmap(at, names[k]) != result::kOk) throw std::runtime_error("variable");
      }
      if (engine->WriteClock(clockText, clockAt, 20, u"Arial") != result::kOk) throw std::runtime_error("clock");
      if (engine->CloseNewPageDynamic(1) != result::kOk) throw std::runtime_error("close");
      if (engine->CloseNewPageFinal() != result::kOk) throw std::runtime_error("final");
    };
    pair.Run(printLabel, [&] { benchmark::DoNotOptimize(zlib.Run()); });
    ++label;
    const size_t before = services.printer.received;
    if (engine->SendToPrinter() != result::kOk) throw std::runtime_error("send");
    streamBytes += services.printer.received - before;
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["engine_us"] = pair.WorkSeconds() / n * 1e6;
  state.counters["zlib_us"] = pair.ZlibSeconds() / n * 1e6;
  state.counters["engine_per_zlib"] = pair.Ratio();
  state.counters["labels_per_s"] = pair.WorkSeconds() > 0 ? n / pair.WorkSeconds() : 0;
  state.counters["label_bytes"] = static_cast<double>(streamBytes) / n;
}

}  // namespace

BENCHMARK(BM_FirstPage_BaseVsZlib)->Unit(benchmark::kMillisecond)->MinTime(4.0);
BENCHMARK(BM_SteadyLabel_VariablesVsZlib)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(2.0)
    ->ArgName("moving")
    ->Arg(0)
    ->Arg(1);
