#include "output/printer_ledger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

namespace {

using Bgr = std::array<uint8_t, 3>;
constexpr Bgr kBlankPixel{255, 255, 255};
constexpr DotSize kPage{13, 9};

Bgr BasePixel(int64_t x, int64_t y) { return {static_cast<uint8_t>(x), static_cast<uint8_t>(y), 77}; }

// A page of pixels, one entry per dot, painted the obvious way.
struct NaivePage {
  std::vector<Bgr> dots = std::vector<Bgr>(static_cast<size_t>(kPage.width) * kPage.height);
  Bgr& At(int64_t x, int64_t y) { return dots[static_cast<size_t>(y * kPage.width + x)]; }
};

Bgr RasterAt(const RasterImage& r, int64_t x, int64_t y) {
  const uint8_t* p = &r.pixels.at(static_cast<size_t>(y * r.stride + x * 3));
  return {p[0], p[1], p[2]};
}

RasterImage BlankRaster(int64_t width, int64_t height) {
  RasterImage r;
  r.width = static_cast<int32_t>(width);
  r.height = static_cast<int32_t>(height);
  r.stride = static_cast<int32_t>(RasterStride(width));
  r.bitsPerPixel = kRasterBitsPerPixel;
  r.pixels.assign(static_cast<size_t>(r.stride) * static_cast<size_t>(height), 0);
  return r;
}

// Drives the ledger the way page assembly does, against a naive page of what
// the elements compose and a naive printer that holds whatever was sent.
struct Harness {
  std::mt19937 random;
  CPrinterLedger ledger;
  NaivePage composed;
  NaivePage printer;

  Harness(uint32_t run, int64_t budget) : random(run), ledger(budget) {}

  int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); }
  DotRect RandomRect() {
    const int x = Pick(0, kPage.width - 1), y = Pick(0, kPage.height - 1);
    return {x, y, Pick(1, kPage.width - x), Pick(1, kPage.height - y)};
  }
  std::vector<Interval> RandomRuns(int size) {
    std::vector<Interval> runs(static_cast<size_t>(Pick(1, 3)));
    for (Interval& run : runs) {
      run.begin = Pick(0, size - 1);
      run.end = Pick(static_cast<int>(run.begin) + 1, size);
    }
    return runs;
  }

  // The window as the ledger paints it over the base, checked dot by dot
  // against the naive page, then sent to the printer.
  void Send(const DotRect& window) {
    RasterImage out = BlankRaster(window.width, window.height);
    for (int64_t y = 0; y < window.height; ++y)
      for (int64_t x = 0; x < window.width; ++x) {
        const Bgr base = BasePixel(window.x + x, window.y + y);
        std::copy(base.begin(), base.end(), &out.pixels[static_cast<size_t>(y * out.stride + x * 3)]);
      }
    ledger.PaintOver(window, out);
    for (int64_t y = 0; y < window.height; ++y)
      for (int64_t x = 0; x < window.width; ++x) {
        ASSERT_EQ(RasterAt(out, x, y), composed.At(window.x + x, window.y + y)) << x << "," << y;
        printer.At(window.x + x, window.y + y) = RasterAt(out, x, y);
      }
    ledger.NoteSent(window, kPage);
  }

  void PlaceImage(int32_t key) {
    const DotRect rect = RandomRect();
    const DotRect window = ledger.FieldWindow(rect, key);
    ASSERT_TRUE(window.Contains(rect));
    RasterImage& pixels = ledger.AddImage(rect, key);
    pixels = BlankRaster(rect.width, rect.height);
    for (int64_t y = 0; y < rect.height; ++y)
      for (int64_t x = 0; x < rect.width; ++x) {
        const Bgr dot{static_cast<uint8_t>(Pick(0, 255)), static_cast<uint8_t>(key), static_cast<uint8_t>(x)};
        std::copy(dot.begin(), dot.end(), &pixels.pixels[static_cast<size_t>(y * pixels.stride + x * 3)]);
        composed.At(rect.x + x, rect.y + y) = dot;
      }
    if (const RasterImage* shown = ledger.ShowImage(kPage)) {
      for (int64_t y = 0; y < rect.height; ++y)
        for (int64_t x = 0; x < rect.width; ++x) ASSERT_EQ(RasterAt(*shown, x, y), composed.At(rect.x + x, rect.y + y));
    }
    Send(window);
  }

  void PlaceWhite() {
    const WhiteArea area{RandomRuns(kPage.width), RandomRuns(kPage.height)};
    for (const Interval& rows : area.rows)
      for (int64_t y = rows.begin; y < rows.end; ++y)
        for (const Interval& columns : area.columns)
          for (int64_t x = columns.begin; x < columns.end; ++x) composed.At(x, y) = kBlankPixel;
    ledger.PlaceWhite(area);
    Send(area.Bounds());
  }
};

}  // namespace

// Whatever the pages place and send, once each page's stale areas are sent
// the printer shows exactly the page composed from the base and its elements.
TEST(PrinterLedger, AfterEachCloseThePrinterShowsTheComposedPage) {
  const int64_t budgets[] = {CPrinterLedger::kPlacedBytesBudget, 0, 200};
  for (uint32_t run = 0; run < 60; ++run) {
    Harness h(run, budgets[run % 3]);
    for (int job = 0; job < 3; ++job) {
      h.ledger.BeginJob();
      for (int page = 0; page < 6; ++page) {
        if (page > 0) h.ledger.BeginPage();
        for (int64_t y = 0; y < kPage.height; ++y)
          for (int64_t x = 0; x < kPage.width; ++x) h.composed.At(x, y) = BasePixel(x, y);
        // A job's first page goes out whole; later pages do now and then.
        if (page == 0 || h.Pick(0, 7) == 0) h.Send({0, 0, kPage.width, kPage.height});
        for (int n = h.Pick(0, 6); n > 0; --n) {
          if (h.Pick(0, 3) == 0) {
            h.PlaceWhite();
          } else {
            h.PlaceImage(h.Pick(0, 3));
          }
          if (h.Pick(0, 9) == 0) h.Send(h.RandomRect());
          if (::testing::Test::HasFatalFailure()) return;
        }
        std::vector<DotRect> stale;
        h.ledger.TakeStaleAreas(stale);
        for (const DotRect& area : stale) h.Send(area);
        ASSERT_EQ(h.printer.dots, h.composed.dots) << "run " << run << " job " << job << " page " << page;
        h.ledger.TakeStaleAreas(stale);
        EXPECT_TRUE(stale.empty());  // each is handed out once
      }
    }
  }
}

TEST(PrinterLedger, CoveredByAgreesWithDotByDotCoverage) {
  std::mt19937 random(11);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  auto rect = [&] { return DotRect{pick(-2, 8), pick(-2, 8), pick(0, 7), pick(0, 7)}; };
  for (int round = 0; round < 2000; ++round) {
    const DotRect area = rect();
    std::vector<DotRect> cover(static_cast<size_t>(pick(0, 4)));
    for (DotRect& piece : cover) piece = rect();
    bool covered = true;
    for (int64_t y = area.y; y < area.Bottom(); ++y)
      for (int64_t x = area.x; x < area.Right(); ++x) {
        bool hit = false;
        for (const DotRect& c : cover) hit = hit || (x >= c.x && x < c.Right() && y >= c.y && y < c.Bottom());
        covered = covered && hit;
      }
    EXPECT_EQ(CoveredBy(area, cover), covered) << "round " << round;
  }
}
