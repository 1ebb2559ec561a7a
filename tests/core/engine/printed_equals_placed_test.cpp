// What the printer prints is what the host placed: jobs driven through the
// engine are compared, page by page, with a naive painter of the composed
// page. The labels are drawn from the stream alone by the stream checker,
// both from the whole run (the printer keeps its page between jobs) and from
// each job's stream on its own (a printer that holds nothing from before).
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "config/settings_store.h"
#include "engine/print_control.h"
#include "support/native/engine_access.h"
#include "support/native/fakes.h"
#include "support/native/page_model.h"

namespace {

using page_model::ExpectedLabel;
using page_model::PageModel;

// A host bitmap whose pixel (x, y) is (tag, x, y) in red, green and blue, so
// that no two images and no two places of one image look alike.
DibRows Tagged(int32_t width, int32_t height, uint8_t tag) {
  const auto stride = static_cast<size_t>(RasterStride(width));
  DibRows rows{width, height, 24, std::vector<uint8_t>(stride * static_cast<size_t>(height), 0)};
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = &rows.bytes[y * stride + static_cast<size_t>(x) * 3];
      p[0] = static_cast<uint8_t>(y * 7), p[1] = static_cast<uint8_t>(x * 5), p[2] = tag;
    }
  return rows;
}

// Drives the engine and the naive model with the same calls.
class PlacedPages {
 public:
  // A resolution other than the printer's is printed as it is when forced.
  explicit PlacedPages(int32_t dpi = 360) : resolution(dpi) {
    if (dpi != 360) printer.Set(u"ForcePrinting", 1);
    model.SetResolution(dpi);
  }
  const int32_t resolution;
  MemoryPrinter printer;
  FixedClock clock;
  BlockTextRenderer text;
  BlockTextRenderer modelText;
  RecordingLog log;
  std::unique_ptr<CPrintControl> engine =
      std::make_unique<CPrintControl>(resolution, printer, JobServices{clock, text, log});
  PageModel model{modelText, int64_t{1} << 30};
  std::vector<std::string> jobStreams;               // each finished job's bytes
  std::vector<std::vector<ExpectedLabel>> expected;  // per job, its printed labels

  void StartJob(int32_t width, int32_t length) {
    if (started_) FinishJob();
    started_ = true;
    engine->BeginJob(printer);
    model.StartJob({printer.ReadSetting(u"VOffset"), printer.ReadSetting(u"HOffset")});
    const int32_t header[2] = {width, length};
    ASSERT_EQ(engine->WritePrintJobHeader(header), 0);
    model.Header(width, length);
    // The job's stream: from its set-up on, which the header left unwritten.
    jobStart_ = printer.output.size();
  }
  void Layout(int32_t rotation, int32_t horizontalTenths, int32_t verticalTenths, int32_t columns, int32_t rows) {
    LayoutData layout;
    layout.rotation = rotation;
    layout.horizontalPitch = horizontalTenths;
    layout.verticalPitch = verticalTenths;
    layout.labelColumns = columns;
    layout.labelRows = rows;
    engine->SetLayout(layout);
    model.Layout(layout);
  }
  void SendBase(int32_t w, int32_t h, uint8_t tag) { Give(w, h, tag, "BASE01"); }
  // The position adjustment stored anew, as the dialog on a shared printer may during a job.
  void Adjust(int32_t horizontalTenths, int32_t verticalTenths) {
    printer.Set(u"HOffset", static_cast<uint32_t>(horizontalTenths));
    printer.Set(u"VOffset", static_cast<uint32_t>(verticalTenths));
    model.Adjust({printer.ReadSetting(u"VOffset"), printer.ReadSetting(u"HOffset")});
  }
  bool HasKeptBase() const { return model.HasKeptBase(); }
  void Clear() {
    engine->ClearImages();
    model.Clear();
  }
  void NewPage() {
    engine->CreateNewPage();
    model.NewPage();
  }
  void Base(int32_t x, int32_t y) {
    const DotPoint at{x, y};
    ASSERT_EQ(engine->ReferToBaseBitmap(at), 0);
    model.Base(at);
  }
  void Variable(int32_t w, int32_t h, uint8_t tag, int32_t x, int32_t y) {
    Give(w, h, tag, "FIELD");
    Place(x, y);
  }
  // The field sent last, placed now.
  void SendField(int32_t w, int32_t h, uint8_t tag) { Give(w, h, tag, "FIELD"); }
  void Place(int32_t x, int32_t y) {
    const DotPoint at{x, y};
    ASSERT_EQ(engine->ReferToVariableBitmap(at, "FIELD"), 0);
    model.Variable(at);
  }
  void Clock(const std::u16string& text, int32_t x, int32_t y) {
    const DotPoint at{x, y};
    ASSERT_EQ(engine->WriteClock(text.c_str(), at, 20, u"Arial"), 0);
    model.Clock(text, at, 20, u"Arial");
  }
  void CloseStatic(int32_t copies) {
    ASSERT_EQ(engine->CloseNewPageStatic(copies), 0);
    model.CloseStatic(copies);
  }
  void CloseDynamic(int32_t used) {
    ASSERT_EQ(engine->CloseNewPageDynamic(used), 0);
    model.CloseDynamic(used);
  }
  void Final() {
    ASSERT_EQ(engine->CloseNewPageFinal(), 0);
    model.Final();
  }
  void FinishJob() {
    const auto& bytes = Written(*engine, printer);
    jobStreams.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(jobStart_), bytes.end());
    EXPECT_EQ(model.NotModelled(), "");
    expected.push_back(model.JobLabels());
    started_ = false;
  }

  // Every label drawn from the run, and from each job alone, equals the page the host composed.
  void ExpectPrintedEqualsPlaced(const std::string& context) {
    if (started_) FinishJob();
    std::string whole;
    std::vector<ExpectedLabel> all;
    for (size_t job = 0; job < jobStreams.size(); ++job) {
      whole += jobStreams[job];
      all.insert(all.end(), expected[job].begin(), expected[job].end());
      EXPECT_EQ(page_model::CompareLabels(jobStreams[job], expected[job]), "")
          << context << ", job " << job + 1 << " alone";
    }
    EXPECT_EQ(page_model::CompareLabels(whole, all), "") << context << ", the whole run";
  }

 private:
  void Give(int32_t w, int32_t h, uint8_t tag, const char* name) {
    MemoryHostBitmap bitmap;
    bitmap.rows = Tagged(w, h, tag);
    ASSERT_EQ(engine->ReceiveBitmap(bitmap, name), 0);
    model.Bitmap(bitmap.rows, name);
  }

  bool started_ = false;
  size_t jobStart_ = 0;
};

TEST(PrintedEqualsPlaced, AFieldThatNarrowsAndMovesRightThenGoesLeavesNothingBehind) {
  PlacedPages p;
  p.StartJob(600, 240);
  p.Layout(0, 0, 0, 1, 1);
  p.SendBase(600, 240, 1);
  for (const auto& [width, x] : {std::pair{300, 50}, {200, 150}, {0, 0}, {120, 400}, {300, 10}}) {
    p.NewPage();
    p.Base(0, 0);
    if (width > 0) p.Variable(width, 40, static_cast<uint8_t>(width), x, 60);
    p.CloseStatic(1);
    p.Final();
  }
  p.ExpectPrintedEqualsPlaced("a serial number field");
}

TEST(PrintedEqualsPlaced, FieldsMovedEveryWayOffThePageAndEmptyClocks) {
  PlacedPages p;
  p.StartJob(500, 300);
  p.Layout(0, 0, 0, 1, 1);
  p.SendBase(500, 300, 2);
  struct Step {
    int32_t x, y, w, h;
  } steps[] = {{100, 100, 80, 40}, {60, 130, 60, 20},  {140, 70, 30, 90},
               {900, 100, 30, 30}, {-20, -10, 50, 50}, {480, 290, 60, 60}};
  for (const Step& s : steps) {
    p.NewPage();
    p.Base(0, 0);
    p.Variable(s.w, s.h, static_cast<uint8_t>(s.w + s.h), s.x, s.y);
    p.Clock(s.w > 50 ? u"12:00" : u"", 20, 200);
    p.CloseStatic(1);
    p.Final();
  }
  p.ExpectPrintedEqualsPlaced("moved fields and clocks");
}

TEST(PrintedEqualsPlaced, CellsBlankedByADynamicCloseComeBackOnAFullPage) {
  PlacedPages p;
  p.StartJob(600, 400);
  p.Layout(0, 500, 300, 3, 2);  // 2 x 3 cells of about 190 x 120 dots
  p.SendBase(180, 110, 3);
  for (int32_t used : {4, 6, 2, 6}) {
    p.NewPage();
    for (int32_t cell = 0; cell < used; ++cell) p.Base(10, 20);
    p.Variable(40, 20, static_cast<uint8_t>(used), 30, 40);
    p.CloseDynamic(used);
    p.Final();
  }
  p.ExpectPrintedEqualsPlaced("dynamic closes");
}

TEST(PrintedEqualsPlaced, EachJobSendsItsOwnBaseOrTheKeptOneAndStandsAlone) {
  PlacedPages p;
  p.StartJob(500, 250);
  p.Layout(0, 0, 0, 1, 1);
  p.SendBase(300, 200, 4);
  p.NewPage();
  p.Base(0, 0);
  p.Variable(100, 30, 40, 20, 20);
  p.CloseDynamic(1);
  p.Final();
  // A new design on the same object.
  p.StartJob(500, 250);
  p.Layout(0, 0, 0, 1, 1);
  p.SendBase(200, 100, 5);
  p.NewPage();
  p.Base(50, 50);
  p.CloseStatic(2);
  p.Final();
  // No base bitmap: the kept design again.
  p.StartJob(500, 250);
  p.Layout(0, 0, 0, 1, 1);
  p.NewPage();
  p.Base(10, 10);
  p.Variable(60, 30, 41, 100, 150);
  p.CloseStatic(1);
  p.Final();
  // Only variable images: a white page under them, not the last job's.
  p.StartJob(500, 250);
  p.NewPage();
  p.Variable(60, 30, 42, 200, 100);
  p.Final();
  p.ExpectPrintedEqualsPlaced("jobs on one object");
}

TEST(PrintedEqualsPlaced, AfterAClearTheNextJobNeedsABaseBitmapAndSendsIt) {
  PlacedPages p;
  p.StartJob(500, 250);
  p.Layout(0, 0, 0, 1, 1);
  p.SendBase(500, 250, 6);
  p.NewPage();
  p.Base(0, 0);
  p.Variable(100, 30, 43, 20, 20);
  p.Final();
  p.Clear();
  p.StartJob(500, 250);
  p.Layout(0, 0, 0, 1, 1);
  p.NewPage();
  const DotPoint at{0, 0};
  EXPECT_EQ(p.engine->ReferToBaseBitmap(at), 209);  // nothing kept
  p.SendBase(400, 200, 7);
  p.Base(0, 0);
  p.Variable(50, 30, 44, 20, 20);  // narrower than the first job's field
  p.Final();
  p.ExpectPrintedEqualsPlaced("after a clear");
}

TEST(PrintedEqualsPlaced, WhiteCellsStayOnTheBaseWhenTheAdjustmentChangesAfterIt) {
  // Two cells 200 dots apart; the base refers to both on page 1. The stored
  // adjustment then moves 57 dots right: page 2 uses one cell, and its white
  // cell must cover the base's second copy where it lies, not 57 dots on.
  PlacedPages p;
  p.StartJob(600, 240);
  p.Layout(0, 141, 0, 2, 1);
  p.SendBase(200, 200, 1);
  p.NewPage();
  p.Base(0, 0);
  p.Base(200, 0);
  p.CloseStatic(1);
  p.Final();
  p.Adjust(40, 0);
  p.NewPage();
  p.Base(0, 0);
  p.Variable(30, 20, 2, 10, 10);  // placed with the new adjustment
  p.CloseStatic(1);
  p.Final();
  p.Adjust(-40, 25);
  p.NewPage();
  p.Base(0, 0);
  p.CloseDynamic(1);
  p.Final();
  p.ExpectPrintedEqualsPlaced("the adjustment changed after the base");
}

TEST(PrintedEqualsPlaced, AnEmptyClockLeavesTheFieldSentBeforeItToBePlaced) {
  PlacedPages p;
  p.StartJob(600, 400);
  p.Layout(0, 300, 300, 1, 1);
  p.SendBase(500, 300, 1);
  p.NewPage();
  p.Base(10, 10);
  p.SendField(200, 40, 2);
  p.Clock(u"", 20, 200);
  p.Clock(u"\n", 20, 250);  // no extent: nothing printed either
  p.Place(20, 100);
  p.CloseStatic(1);
  p.Final();
  p.ExpectPrintedEqualsPlaced("an empty clock between a field's bitmap and its reference");
}

// Downloads in the stream from byte `from` on.
size_t DownloadsFrom(PlacedPages& p, size_t from) {
  const std::vector<uint8_t>& written = Written(*p.engine, p.printer);
  const std::string_view bytes(reinterpret_cast<const char*>(written.data()), written.size());
  size_t count = 0;
  for (size_t at = bytes.find("~DYR:", from); at != std::string_view::npos; at = bytes.find("~DYR:", at + 1)) ++count;
  return count;
}

TEST(PrintedEqualsPlaced, ALayoutSentBetweenPagesLaysTheBaseOutAgain) {
  // Page 1 fills a 2 x 2 grid; page 2 is three across in one row: the base
  // goes out again on that grid, and no copy of the old fourth cell stays.
  PlacedPages p;
  p.StartJob(600, 800);
  p.Layout(0, 212, 283, 2, 2);
  p.SendBase(280, 380, 1);
  p.NewPage();
  for (int cell = 0; cell < 4; ++cell) p.Base(10, 10);
  p.CloseStatic(1);
  p.Final();
  p.Layout(0, 141, 0, 3, 1);
  p.NewPage();
  for (int cell = 0; cell < 3; ++cell) p.Base(10, 10);
  p.CloseStatic(1);
  p.Final();
  // Two of three used on a page of the new grid: the third cell is blanked on it.
  p.NewPage();
  p.Base(10, 10);
  p.Base(10, 10);
  p.CloseStatic(1);
  p.Final();
  // The same layout again lays nothing out anew.
  p.Layout(0, 141, 0, 3, 1);
  const size_t mark = Written(*p.engine, p.printer).size();
  p.NewPage();
  p.Base(10, 10);
  p.CloseDynamic(3);
  p.Final();
  // Only the cell the page before blanked comes back: no whole page at 0,0.
  const std::vector<uint8_t>& written = Written(*p.engine, p.printer);
  const std::string_view tail(reinterpret_cast<const char*>(written.data()) + mark, written.size() - mark);
  EXPECT_EQ(DownloadsFrom(p, mark), 1u);
  EXPECT_EQ(tail.find("^FO0,0^"), std::string_view::npos);
  p.ExpectPrintedEqualsPlaced("a layout between pages");
}

TEST(PrintedEqualsPlaced, PagesClosedPartlyUsedMidJobAndClearsInsideAJob) {
  PlacedPages p;
  p.StartJob(600, 240);
  p.Layout(0, 141, 0, 2, 1);  // two cells 200 dots apart
  p.SendBase(200, 200, 1);
  p.NewPage();
  p.Base(0, 0);
  p.CloseStatic(1);  // one cell of two: the second is blanked
  p.Final();
  p.NewPage();  // both cells used: neither is blanked
  p.Base(0, 0);
  p.Base(200, 0);
  p.CloseStatic(1);
  p.Final();
  // A clear between pages: the job's base stays and is not sent again.
  p.Clear();
  size_t mark = Written(*p.engine, p.printer).size();
  p.NewPage();
  p.Base(0, 0);
  p.Variable(50, 20, 2, 20, 30);
  p.CloseStatic(1);
  p.Final();
  EXPECT_EQ(DownloadsFrom(p, mark), 2u);  // the field and the blanked cell
  // A clear inside a page, then a new design: sent whole, and the base of the pages after it.
  p.NewPage();
  p.Variable(40, 20, 3, 300, 30);
  p.Clear();
  p.SendBase(180, 150, 4);
  p.Base(10, 10);
  p.Base(10, 10);
  p.CloseStatic(1);
  p.Final();
  p.NewPage();
  p.Base(10, 10);
  p.CloseDynamic(1);
  p.Final();
  p.ExpectPrintedEqualsPlaced("partly used pages and clears");
  // After the job, the clear takes the base with it: the next job needs its own.
  p.Clear();
  p.StartJob(600, 240);
  p.NewPage();
  const DotPoint at{0, 0};
  EXPECT_EQ(p.engine->ReferToBaseBitmap(at), 404);  // the last bitmap was the dropped base: nothing to lay out
}

TEST(PrintedEqualsPlaced, APageOfManyLargeImagesStaysRightWhenTheyArePaintedTogether) {
  // Twelve images of nearly the page, none covering another, hold more than
  // a page keeps one by one; the base arrives after them and must go under.
  PlacedPages p;
  p.StartJob(1587, 2000);
  p.Layout(0, 0, 0, 1, 1);
  p.NewPage();
  for (int n = 0; n < 12; ++n) p.Variable(1500, 1900, static_cast<uint8_t>(20 + n), 7 * n, 5 * n);
  p.SendBase(300, 200, 1);
  p.Base(0, 0);
  p.Final();
  p.NewPage();
  p.Base(0, 0);
  p.Variable(100, 100, 50, 700, 900);
  p.Final();
  p.ExpectPrintedEqualsPlaced("large images");
}

// Random jobs: random layouts, designs, fields, clocks, closes, clears and
// jobs on one object, at the printer's resolution or a forced other one,
// with a stored position adjustment; each page compared with the naive painter.
// With `adjusting`, the stored adjustment also changes between and inside
// pages, and with `relayouting` the host sends a new layout between pages,
// each drawn from a generator of its own so that the jobs stay the same.
void RandomRun(uint32_t run, bool adjusting = false, bool relayouting = false) {
  std::mt19937 random(run);
  std::mt19937 adjustRandom(run);
  std::mt19937 layoutRandom(run * 7919u);
  const auto pick = [&](int32_t low, int32_t high) {
    return std::uniform_int_distribution<int32_t>(low, high)(random);
  };
  // 127 and 381 dots per inch turn odd tenths into exact halves of a dot.
  constexpr int32_t kResolutions[] = {360, 360, 127, 381, 300};
  PlacedPages p(kResolutions[pick(0, 4)]);
  const auto maybeAdjust = [&] {
    if (!adjusting || adjustRandom() % 3 != 0) return;
    const auto tenths = [&] { return static_cast<int32_t>(adjustRandom() % 83) - 41; };
    const int32_t h = tenths(), v = tenths();
    p.Adjust(h, v);
  };
  p.printer.Set(u"PrintError", 0);
  if (pick(0, 1) == 0) p.printer.Set(u"HOffset", static_cast<uint32_t>(pick(-41, 41)));
  if (pick(0, 1) == 0) p.printer.Set(u"VOffset", static_cast<uint32_t>(pick(-41, 41)));
  uint8_t tag = 10;
  const int jobs = pick(1, 3);
  for (int job = 0; job < jobs; ++job) {
    if (job > 0 && pick(0, 5) == 0) p.Clear();
    const int32_t width = pick(425, 640), length = pick(212, 320);
    p.StartJob(width, length);
    const int32_t rotation = pick(0, 3) * 90;
    int32_t columns = pick(1, 3), rows = pick(1, 3);
    p.Layout(rotation, pick(0, 1500), pick(0, 1200), columns, rows);
    // Another layout between pages: often only the counts or the pitches, sometimes the same again.
    const auto maybeRelayout = [&] {
      if (!relayouting || layoutRandom() % 3 != 0) return;
      const auto draw = [&](int32_t low, int32_t high) {
        return std::uniform_int_distribution<int32_t>(low, high)(layoutRandom);
      };
      columns = draw(1, 3), rows = draw(1, 3);
      p.Layout(draw(0, 1) == 0 ? rotation : draw(0, 3) * 90, draw(0, 1500), draw(0, 1200), columns, rows);
    };
    const bool usesBase = pick(0, 4) != 0;
    const bool sendsBase = usesBase && (!p.HasKeptBase() || pick(0, 2) != 0);
    if (sendsBase) p.SendBase(pick(20, 200), pick(20, 150), ++tag);
    bool basePending = sendsBase;  // nothing else may be sent before it is referred to
    bool laidBase = false;         // this job has referred to its base
    // A clear drops the waiting bitmap and the kept base: a job that has not
    // laid out its base yet sends one again; one that has may send a new design.
    const auto clear = [&](bool mayResend) {
      p.Clear();
      if (usesBase && (!laidBase || (mayResend && pick(0, 1) == 0))) {
        p.SendBase(pick(20, 200), pick(20, 150), ++tag);
        basePending = true;
      } else {
        basePending = false;
      }
    };
    const int pages = pick(1, 5);
    const int32_t baseX = pick(-50, 200), baseY = pick(-50, 150);
    for (int page = 0; page < pages; ++page) {
      if (page > 0 && pick(0, 5) == 0) clear(true);
      if (page > 0) maybeRelayout();
      maybeAdjust();
      p.NewPage();
      if (pick(0, 7) == 0) clear(true);
      const int32_t references = usesBase ? pick(basePending ? 1 : 0, columns * rows + 1) : 0;
      const int fields = pick(0, 4);
      const int before = basePending ? 0 : pick(0, fields);  // fields placed before the base references
      const int clearAt = pick(0, 9) == 0 ? pick(before, fields) : -1;
      const auto field = [&] {
        if (pick(0, 3) == 0) {
          const std::u16string texts[] = {u"", u"12:00", u"1", u"12:00:59\n7"};
          p.Clock(texts[pick(0, 3)], pick(-20, width), pick(-20, length));
        } else {
          p.Variable(pick(1, 160), pick(1, 90), ++tag, pick(-60, width + 10), pick(-60, length + 10));
        }
      };
      for (int f = 0; f < before; ++f) field();
      for (int32_t r = 0; r < references; ++r) p.Base(baseX, baseY);
      if (references > 0) basePending = false, laidBase = true;
      maybeAdjust();
      for (int f = before; f < fields; ++f) {
        if (f == clearAt && !basePending && (laidBase || !usesBase)) clear(false);
        field();
      }
      maybeAdjust();
      switch (pick(0, 2)) {
        case 0: p.CloseStatic(pick(1, 2)); break;
        case 1: p.CloseDynamic(pick(1, columns * rows + 1)); break;
        default: break;
      }
      p.Final();
      if (testing::Test::HasFatalFailure()) return;
    }
  }
  p.ExpectPrintedEqualsPlaced("random run " + std::to_string(run));
}

TEST(PrintedEqualsPlaced, RandomJobsPrintWhatTheNaivePainterPaints) {
  for (uint32_t run = 1; run <= 40; ++run) {
    RandomRun(run);
    if (testing::Test::HasFailure()) break;
  }
}

TEST(PrintedEqualsPlaced, RandomJobsWhoseLayoutChangesBetweenPages) {
  for (uint32_t run = 1; run <= 30; ++run) {
    RandomRun(run, run % 2 == 0, true);
    if (testing::Test::HasFailure()) break;
  }
}

TEST(PrintedEqualsPlaced, RandomJobsWhoseAdjustmentChangesBetweenAndInsidePages) {
  for (uint32_t run = 1; run <= 20; ++run) {
    RandomRun(run, true);
    if (testing::Test::HasFailure()) break;
  }
}

}  // namespace
