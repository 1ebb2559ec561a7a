// Whole jobs through the DLL's table against Wine's spooler, judged by the
// labels the printer would print: every label is compared pixel for pixel
// with a label painted here from the same host pictures at the places the
// layout puts them. Clocks are drawn by the plug-in's own fonts, so only the
// box they land in is checked, not their glyphs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "png_codec.h"
#include "win32/engine/whole_job_support.h"

namespace {

using namespace wholejob;
using streamcheck::CommandKind;

constexpr const wchar_t* kJobPrinter = L"QVR Whole Job Printer";

// The job of the host's sample: a 2 x 3 layout on 1420 x 760 dot pages.
constexpr int32_t kJobPageWidth = 1420;
constexpr int32_t kJobPageLength = 760;
constexpr int32_t kRows = 2;
constexpr int32_t kColumns = 3;
constexpr int32_t kHorizontalPitch = 330;  // 467.7 dots: 468
constexpr int32_t kVerticalPitch = 250;    // 354.3 dots: 354
constexpr int32_t kBaseWidth = 400;
constexpr int32_t kBaseHeight = 300;
constexpr POINT kBaseStart{20, 30};
constexpr POINT kFieldOffset{40, 150};  // the serial number, within a label
constexpr POINT kClockOffset{40, 240};  // the clock, on the base's plain lower half

class WholeJob : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plugin.Loaded());
    ASSERT_TRUE(StoreNeutralSettings(kJobPrinter));
  }
  std::unique_ptr<HostSession> Open(const std::wstring& file) {
    auto session = std::make_unique<HostSession>(plugin, kJobPrinter, file);
    EXPECT_TRUE(session->Ready());
    return session;
  }
  static void ExpectSound(const PrintedJob& job) {
    ASSERT_FALSE(job.parsed.error) << job.parsed.error->offset << ": " << job.parsed.error->message;
    ASSERT_FALSE(job.check.error) << job.check.error->offset << ": " << job.check.error->message;
  }

  LoadedPlugin plugin;
};

HostPicture SampleBase() { return PaintColourPicture(kBaseWidth, kBaseHeight, RGB(255, 248, 220), RGB(20, 40, 140)); }

std::vector<Cell> SampleCells() {
  return LayoutCells(0, kRows, kColumns, TenthsToDots(kHorizontalPitch), TenthsToDots(kVerticalPitch), kBaseStart.x,
                     kBaseStart.y);
}

// What one page of the sample job should print: the base on the cells in
// use, each label's field, and the clock boxes left out of the comparison.
struct ExpectedPage {
  RgbImage label;
  std::vector<Box> clocks;
};

struct SampleRun {
  PrintedJob job;
  std::vector<ExpectedPage> expected;  // one per printed label
};

// Start label, three pages (the second with two copies, the third with two
// labels of six), an empty page and an end label, written in one go or after
// every page.
SampleRun RunSampleJob(const LoadedPlugin& plugin, const std::wstring& file, bool writeEveryPage = false) {
  SampleRun run;
  HostSession host(plugin, kJobPrinter, file);
  EXPECT_TRUE(host.Ready());
  host.Initialize();
  EXPECT_TRUE(host.Header(kJobPageWidth, kJobPageLength));
  host.Layout(0, kColumns, kRows, kHorizontalPitch, kVerticalPitch);
  const HostPicture base = SampleBase();
  const HostPicture start = PaintMonoPicture(600, 120, 6);
  const HostPicture end = PaintColourPicture(500, 100, RGB(230, 255, 230), RGB(120, 0, 60));
  const std::vector<Cell> cells = SampleCells();  // in cell order at rotation 0

  EXPECT_TRUE(host.Send("START01", start));
  EXPECT_TRUE(host.StartLabel(300, 200));
  RgbImage startLabel = RgbImage::White(kJobPageWidth, kJobPageLength);
  Blit(startLabel, start.pixels, 300, 200);
  run.expected.push_back({startLabel, {}});

  struct PageFields {
    int labels;
    int copies;
    std::vector<HostPicture> fields;
    std::vector<std::wstring> clocks;
  };
  std::vector<PageFields> pages(3);
  for (int n = 0; n < 6; ++n) {
    // Page 1: wide colour fields; page 2: narrower, shorter 1-bit fields and shorter clocks.
    pages[0].fields.push_back(PaintColourPicture(220, 60, RGB(200, 230 - 20 * n, 255), RGB(0, 100 + 20 * n, 0)));
    pages[0].clocks.push_back(L"16:0" + std::to_wstring(n + 1));
    pages[1].fields.push_back(PaintMonoPicture(150, 40, 3 + n));
    pages[1].clocks.push_back(L"9:0" + std::to_wstring(n + 7));
  }
  for (int n = 0; n < 2; ++n) {
    pages[2].fields.push_back(PaintColourPicture(200, 50, RGB(255, 220, 200 - 40 * n), RGB(90, 0, 90)));
    pages[2].clocks.push_back(L"16:1" + std::to_wstring(n + 3));
  }
  pages[0].labels = 6, pages[0].copies = 1;
  pages[1].labels = 6, pages[1].copies = 2;
  pages[2].labels = 2, pages[2].copies = 1;

  bool baseSent = false;
  for (const PageFields& page : pages) {
    EXPECT_TRUE(host.Page());
    ExpectedPage expected{RgbImage::White(kJobPageWidth, kJobPageLength), {}};
    for (const Cell& cell : cells) {
      if (cell.index < page.labels) Blit(expected.label, base.pixels, cell.x, cell.y);
    }
    for (int n = 0; n < page.labels; ++n) {
      const Cell& cell = cells[n];
      if (!baseSent) EXPECT_TRUE(host.Send("BASE01", base));
      baseSent = true;
      EXPECT_TRUE(host.Base(cell.x, cell.y));
      EXPECT_TRUE(host.Send("SERIAL", page.fields[n]));
      EXPECT_TRUE(host.Variable("SERIAL", cell.x + kFieldOffset.x, cell.y + kFieldOffset.y));
      Blit(expected.label, page.fields[n].pixels, cell.x + kFieldOffset.x, cell.y + kFieldOffset.y);
      const POINT anchor{cell.x + kClockOffset.x, cell.y + kClockOffset.y};
      EXPECT_TRUE(host.Clock(page.clocks[n], anchor.x, anchor.y, kClockHeight, kClockFace));
      expected.clocks.push_back(ClockBox(page.clocks[n], kClockHeight, kClockFace, 0, anchor));
    }
    EXPECT_TRUE(host.CloseStatic(page.copies));
    EXPECT_TRUE(host.Final());
    if (writeEveryPage) EXPECT_TRUE(host.Write());
    for (int copy = 0; copy < page.copies; ++copy) run.expected.push_back(expected);
  }
  EXPECT_TRUE(host.EmptyPage());
  run.expected.push_back({RgbImage::White(kJobPageWidth, kJobPageLength), {}});
  EXPECT_TRUE(host.Send("END01", end));
  EXPECT_TRUE(host.EndLabel(400, 300));
  RgbImage endLabel = RgbImage::White(kJobPageWidth, kJobPageLength);
  Blit(endLabel, end.pixels, 400, 300);
  run.expected.push_back({endLabel, {}});
  EXPECT_TRUE(host.Write());
  run.job = host.Finish();
  return run;
}

TEST_F(WholeJob, SampleJobPrintsTheLabelsPaintedFromItsPictures) {
  for (const bool writeEveryPage : {false, true}) {
    SCOPED_TRACE(writeEveryPage ? "written after every page" : "written in one go");
    const SampleRun run = RunSampleJob(plugin, L"sample.prn", writeEveryPage);
    ASSERT_NO_FATAL_FAILURE(ExpectSound(run.job));
    ASSERT_EQ(run.job.labels.size(), run.expected.size());
    const char* names[] = {
        "start label", "page 1",   "page 2", "page 2, second copy", "page 3 (two labels, four white cells)",
        "empty page",  "end label"};
    for (size_t i = 0; i < run.expected.size(); ++i) {
      SCOPED_TRACE(names[i]);
      std::vector<Box> ignored;
      for (const Box& clock : run.expected[i].clocks) {
        ignored.push_back(clock.Grown(kClockMargin));
        EXPECT_GT(DarkPixelsIn(run.job.labels[i], clock), 20) << "no clock at " << clock.x << "," << clock.y;
      }
      // Outside the clock boxes every pixel is exact: fields of the page before
      // leave no trace, white cells cover unused labels, copies repeat the page.
      EXPECT_TRUE(SameLabel(run.job.labels[i], run.expected[i].label, ignored));
    }
  }
}

TEST_F(WholeJob, CopiesOfTheLastStaticCloseRepeatDynamicPagesToo) {
  const HostPicture base = SampleBase();
  HostSession host(plugin, kJobPrinter, L"copies.prn");
  ASSERT_TRUE(host.Ready());
  host.Initialize();
  ASSERT_TRUE(host.Header(kJobPageWidth, kJobPageLength));
  host.Layout(0, kColumns, kRows, kHorizontalPitch, kVerticalPitch);
  const std::vector<Cell> cells = SampleCells();
  ASSERT_TRUE(host.Page());
  ASSERT_TRUE(host.Send("BASE01", base));
  for (const Cell& cell : cells) ASSERT_TRUE(host.Base(cell.x, cell.y));
  ASSERT_TRUE(host.CloseStatic(3));
  ASSERT_TRUE(host.Final());
  ASSERT_TRUE(host.Page());
  for (int n = 0; n < 4; ++n) ASSERT_TRUE(host.Base(cells[n].x, cells[n].y));
  ASSERT_TRUE(host.CloseDynamic(4));  // cells 4 and 5 white, still three copies
  ASSERT_TRUE(host.Final());
  ASSERT_TRUE(host.Write());
  const PrintedJob job = host.Finish();
  ASSERT_NO_FATAL_FAILURE(ExpectSound(job));
  ASSERT_EQ(job.labels.size(), 6u);

  RgbImage full = RgbImage::White(kJobPageWidth, kJobPageLength);
  RgbImage four = RgbImage::White(kJobPageWidth, kJobPageLength);
  for (const Cell& cell : cells) {
    Blit(full, base.pixels, cell.x, cell.y);
    if (cell.index < 4) Blit(four, base.pixels, cell.x, cell.y);
  }
  for (size_t i = 0; i < 6; ++i) EXPECT_TRUE(SameLabel(job.labels[i], i < 3 ? full : four)) << "label " << i;
}

TEST_F(WholeJob, SampleJobStreamSendsTheBaseOnceAndOnlyChangesLater) {
  const SampleRun run = RunSampleJob(plugin, L"sample-bytes.prn");
  ASSERT_NO_FATAL_FAILURE(ExpectSound(run.job));
  const std::string& stream = run.job.stream;
  EXPECT_EQ(stream.rfind("^XA^FXLTCommand^FS^XZ^XA^S(CLM,T,M2^S(CLS,P,1420^S(CLS,L,760^ST", 0), 0u)
      << stream.substr(0, 80);
  ASSERT_EQ(run.job.check.stats.setups.size(), 1u);

  const auto formats = Formats(run.job.parsed);
  // Marker, set-up, start label, pages 1 and 2, a copy, page 3, empty page, end label.
  ASSERT_EQ(formats.size(), 9u);
  auto recalls = [](const std::vector<streamcheck::Command>& format) {
    std::vector<POINT> at;
    for (const auto& c : format) {
      if (c.kind == CommandKind::ImageRecall) at.push_back({static_cast<LONG>(c.x), static_cast<LONG>(c.y)});
    }
    return at;
  };
  auto framedAsPage = [](const std::vector<streamcheck::Command>& format) {
    return format.size() >= 4 && format[1].kind == CommandKind::PageCarryIn &&
           format[format.size() - 2].kind == CommandKind::PageCarryOut;
  };
  for (size_t f : {2u, 7u, 8u}) {
    EXPECT_FALSE(framedAsPage(formats[f])) << "format " << f;
    for (const auto& c : formats[f]) EXPECT_NE(c.kind, CommandKind::PageCarryIn) << "format " << f;
  }
  for (size_t f : {3u, 4u, 5u, 6u}) EXPECT_TRUE(framedAsPage(formats[f])) << "format " << f;
  EXPECT_EQ(formats[5].size(), 4u) << "an extra copy carries nothing between ^C(L and ^C(S";
  // Every download is recalled at once under the one name.
  for (const auto& format : formats) {
    for (size_t i = 0; i < format.size(); ++i) {
      if (format[i].kind != CommandKind::ImageDownload) continue;
      ASSERT_LT(i + 1, format.size());
      EXPECT_EQ(format[i].text, "DIFF");
      EXPECT_EQ(format[i + 1].kind, CommandKind::ImageRecall);
      EXPECT_EQ(format[i + 1].text, "DIFF");
    }
  }

  const std::vector<Cell> cells = SampleCells();
  // Page 1: the whole base page in two bands (1071360 / 1420 = 754 rows), then a field and a clock per label.
  const auto page1 = recalls(formats[3]);
  ASSERT_EQ(page1.size(), 2u + 12u);
  EXPECT_EQ(page1[0].x, 0);
  EXPECT_EQ(page1[0].y, 0);
  EXPECT_EQ(page1[1].x, 0);
  EXPECT_EQ(page1[1].y, 754);
  // Page 2: no base; each narrower, lower field is sent widened and raised to
  // the rectangle of the field before it, so it covers that one whole.
  const auto page2 = recalls(formats[4]);
  ASSERT_EQ(page2.size(), 12u);
  std::vector<const streamcheck::Command*> page2Downloads;
  for (const auto& c : formats[4]) {
    if (c.kind == CommandKind::ImageDownload) page2Downloads.push_back(&c);
  }
  for (int n = 0; n < 6; ++n) {
    EXPECT_EQ(page2[2 * n].x, cells[n].x + kFieldOffset.x) << "field " << n;
    EXPECT_EQ(page2[2 * n].y, cells[n].y + kFieldOffset.y) << "field " << n;
    RgbImage decoded;
    streamcheck::PngHeader header;
    const auto* d = page2Downloads[2 * n];
    EXPECT_EQ(streamcheck::DecodePng(reinterpret_cast<const uint8_t*>(stream.data()) + d->dataOffset, d->dataSize, {},
                                     decoded, &header),
              "");
    EXPECT_EQ(header.width, 220u) << "field " << n;
    EXPECT_EQ(header.height, 60u) << "field " << n;
  }
  // Page 3: two fields, two clocks, and the four unused cells as white 400 x 300 rasters.
  const auto page3 = recalls(formats[6]);
  ASSERT_EQ(page3.size(), 4u + 4u);
  for (int c = 2; c < 6; ++c) {
    EXPECT_EQ(page3[2 + c].x, cells[c].x) << "white cell " << c;
    EXPECT_EQ(page3[2 + c].y, cells[c].y) << "white cell " << c;
  }
  EXPECT_EQ(run.job.check.stats.labels, 7u);
}

TEST_F(WholeJob, RotatedLayoutsPlaceCellsAndClocks) {
  constexpr int32_t kSide = 1500;
  constexpr POINT kClockAt{1300, 1400};  // lands on white paper at every rotation
  const std::wstring clockText = L"12:34";
  struct Case {
    int32_t rotation;
    POINT start;
  };
  const Case cases[] = {{0, {20, 30}}, {90, {50, 1000}}, {180, {1000, 500}}, {270, {500, 40}}};
  for (const Case& c : cases) {
    SCOPED_TRACE("rotation " + std::to_string(c.rotation));
    const bool turned = c.rotation == 90 || c.rotation == 270;
    // A rotated layout gets a base drawn on its side.
    const HostPicture base = turned ? PaintColourPicture(kBaseHeight, kBaseWidth, RGB(240, 240, 255), RGB(0, 90, 160))
                                    : PaintColourPicture(kBaseWidth, kBaseHeight, RGB(240, 240, 255), RGB(0, 90, 160));
    HostSession host(plugin, kJobPrinter, L"rotation-" + std::to_wstring(c.rotation) + L".prn");
    ASSERT_TRUE(host.Ready());
    host.Initialize();
    ASSERT_TRUE(host.Header(kSide, kSide));
    host.Layout(c.rotation, kColumns, kRows, kHorizontalPitch, kVerticalPitch);
    ASSERT_TRUE(host.Page());
    const std::vector<Cell> cells = LayoutCells(c.rotation, kRows, kColumns, TenthsToDots(kHorizontalPitch),
                                                TenthsToDots(kVerticalPitch), c.start.x, c.start.y);
    ASSERT_EQ(cells.size(), 6u);
    ASSERT_TRUE(host.Send("BASE01", base));
    ASSERT_TRUE(host.Base(c.start.x, c.start.y));
    for (int n = 1; n < 4; ++n) ASSERT_TRUE(host.Base(0, 0));  // later references only count
    ASSERT_TRUE(host.Clock(clockText, kClockAt.x, kClockAt.y, kClockHeight, kClockFace));
    ASSERT_TRUE(host.CloseDynamic(4));  // cells 4 and 5 turn white
    ASSERT_TRUE(host.Final());
    ASSERT_TRUE(host.Write());
    const PrintedJob job = host.Finish();
    ASSERT_NO_FATAL_FAILURE(ExpectSound(job));
    ASSERT_EQ(job.labels.size(), 1u);

    RgbImage expected = RgbImage::White(kSide, kSide);
    for (const Cell& cell : cells) {
      if (cell.index < 4) Blit(expected, base.pixels, cell.x, cell.y);
    }
    const POINT anchor = TurnClockAnchor(c.rotation, kClockAt.x, kClockAt.y, kSide, kSide);
    const Box clock = ClockBox(clockText, kClockHeight, kClockFace, c.rotation, anchor);
    EXPECT_GT(DarkPixelsIn(job.labels[0], clock), 20) << "no clock at " << clock.x << "," << clock.y;
    EXPECT_TRUE(SameLabel(job.labels[0], expected, {clock.Grown(kClockMargin)}));
  }
}

TEST_F(WholeJob, PrintPositionAdjustmentMovesEverything) {
  ASSERT_TRUE(StorePrinterSetting(kJobPrinter, L"VOffset", 100));  // 141.7 dots: 142
  ASSERT_TRUE(StorePrinterSetting(kJobPrinter, L"HOffset", -30));  // -42.5 dots: -43
  constexpr POINT kShift{-43, 142};
  const HostPicture base = SampleBase();
  const HostPicture start = PaintMonoPicture(600, 120, 4);
  const HostPicture end = PaintColourPicture(500, 100, RGB(255, 255, 200), RGB(0, 0, 0));
  std::vector<HostPicture> fields;
  for (int n = 0; n < 4; ++n) fields.push_back(PaintColourPicture(220, 60, RGB(255, 200, 40 * n), RGB(0, 0, 120)));

  HostSession host(plugin, kJobPrinter, L"adjusted.prn");
  ASSERT_TRUE(host.Ready());
  host.Initialize();
  ASSERT_TRUE(host.Header(kJobPageWidth, kJobPageLength));
  host.Layout(0, kColumns, kRows, kHorizontalPitch, kVerticalPitch);
  ASSERT_TRUE(host.Send("START01", start));
  ASSERT_TRUE(host.StartLabel(10, 20));
  ASSERT_TRUE(host.Page());
  const std::vector<Cell> cells = SampleCells();
  ASSERT_TRUE(host.Send("BASE01", base));
  const std::wstring clockText = L"08:15";
  for (int n = 0; n < 4; ++n) {
    ASSERT_TRUE(host.Base(cells[n].x, cells[n].y));
    ASSERT_TRUE(host.Send("SERIAL", fields[n]));
    ASSERT_TRUE(host.Variable("SERIAL", cells[n].x + kFieldOffset.x, cells[n].y + kFieldOffset.y));
  }
  const POINT clockAt{cells[0].x + kClockOffset.x, cells[0].y + kClockOffset.y};
  ASSERT_TRUE(host.Clock(clockText, clockAt.x, clockAt.y, kClockHeight, kClockFace));
  ASSERT_TRUE(host.CloseDynamic(4));
  ASSERT_TRUE(host.Final());
  ASSERT_TRUE(host.Send("END01", end));
  ASSERT_TRUE(host.EndLabel(900, 600));
  ASSERT_TRUE(host.Write());
  const PrintedJob job = host.Finish();
  ASSERT_NO_FATAL_FAILURE(ExpectSound(job));
  ASSERT_EQ(job.labels.size(), 3u);

  // Everything lands shifted; what the shift pushes off the page is cut
  // (the left column on the left, the lower row and the end label at the bottom).
  RgbImage startLabel = RgbImage::White(kJobPageWidth, kJobPageLength);
  Blit(startLabel, start.pixels, 10 + kShift.x, 20 + kShift.y);
  EXPECT_TRUE(SameLabel(job.labels[0], startLabel)) << "start label";

  RgbImage page = RgbImage::White(kJobPageWidth, kJobPageLength);
  for (const Cell& cell : cells) {
    if (cell.index < 4) Blit(page, base.pixels, cell.x + kShift.x, cell.y + kShift.y);
  }
  for (int n = 0; n < 4; ++n) {
    Blit(page, fields[n].pixels, cells[n].x + kFieldOffset.x + kShift.x, cells[n].y + kFieldOffset.y + kShift.y);
  }
  const Box clock = ClockBox(clockText, kClockHeight, kClockFace, 0, POINT{clockAt.x + kShift.x, clockAt.y + kShift.y});
  EXPECT_GT(DarkPixelsIn(job.labels[1], clock), 20) << "no clock at " << clock.x << "," << clock.y;
  EXPECT_TRUE(SameLabel(job.labels[1], page, {clock.Grown(kClockMargin)})) << "page";

  RgbImage endLabel = RgbImage::White(kJobPageWidth, kJobPageLength);
  Blit(endLabel, end.pixels, 900 + kShift.x, 600 + kShift.y);
  EXPECT_TRUE(SameLabel(job.labels[2], endLabel)) << "end label";
}

TEST_F(WholeJob, LargestPageGoesOutIn675RowBands) {
  constexpr int32_t kWidth = 1587;
  constexpr int32_t kLength = 14400;
  const HostPicture base = PaintColourPicture(300, 200, RGB(250, 230, 230), RGB(0, 60, 0));
  HostSession host(plugin, kJobPrinter, L"bands.prn");
  ASSERT_TRUE(host.Ready());
  host.Initialize();
  ASSERT_TRUE(host.Header(kWidth, kLength));
  host.Layout(0, 1, 1, 0, 0);
  ASSERT_TRUE(host.Page());
  ASSERT_TRUE(host.Send("BASE01", base));
  ASSERT_TRUE(host.Base(100, 14300));  // across the last band, cut at the bottom
  ASSERT_TRUE(host.CloseStatic(1));
  ASSERT_TRUE(host.Final());
  ASSERT_TRUE(host.Write());
  const PrintedJob job = host.Finish();
  ASSERT_NO_FATAL_FAILURE(ExpectSound(job));

  const auto formats = Formats(job.parsed);
  ASSERT_EQ(formats.size(), 3u);
  const auto& page = formats[2];
  ASSERT_EQ(page.size(), 4u + 2u * 22u);
  for (int band = 0; band < 22; ++band) {
    SCOPED_TRACE("band " + std::to_string(band));
    const auto& download = page[2 + 2 * band];
    const auto& recall = page[3 + 2 * band];
    ASSERT_EQ(download.kind, CommandKind::ImageDownload);
    ASSERT_EQ(recall.kind, CommandKind::ImageRecall);
    EXPECT_EQ(recall.x, 0);
    EXPECT_EQ(recall.y, 675 * band);
    RgbImage decoded;
    streamcheck::PngHeader header;
    ASSERT_EQ(streamcheck::DecodePng(reinterpret_cast<const uint8_t*>(job.stream.data()) + download.dataOffset,
                                     download.dataSize, {}, decoded, &header),
              "");
    EXPECT_EQ(header.width, 1587u);
    EXPECT_EQ(header.height, band < 21 ? 675u : 225u);
  }
  ASSERT_EQ(job.labels.size(), 1u);
  RgbImage expected = RgbImage::White(kWidth, kLength);
  Blit(expected, base.pixels, 100, 14300);
  EXPECT_TRUE(SameLabel(job.labels[0], expected));
}

TEST_F(WholeJob, RefusedJobLeavesExactlyTheErrorPage) {
  ASSERT_TRUE(StorePrinterSetting(kJobPrinter, L"PrintError", 1));
  ASSERT_TRUE(StorePrinterSetting(kJobPrinter, L"ForcePrinting", 0));
  HostSession host(plugin, kJobPrinter, L"refused.prn");
  ASSERT_TRUE(host.Ready());
  host.Initialize();
  EXPECT_FALSE(host.Header(2000, 1000));
  EXPECT_FALSE(host.Write());  // the object failed; nothing of the job is pending
  const PrintedJob job = host.Finish();
  ASSERT_NO_FATAL_FAILURE(ExpectSound(job));

  ASSERT_EQ(job.check.stats.setups.size(), 1u);
  EXPECT_EQ(job.check.stats.setups[0].width, 1587);
  EXPECT_EQ(job.check.stats.setups[0].length, 212);
  const auto formats = Formats(job.parsed);
  ASSERT_EQ(formats.size(), 3u);  // marker, set-up, error page
  const auto& page = formats[2];
  std::vector<CommandKind> kinds;
  for (const auto& c : page) kinds.push_back(c.kind);
  const std::vector<CommandKind> expectedKinds = {CommandKind::FormatStart, CommandKind::ImageDownload,
                                                  CommandKind::ImageRecall, CommandKind::ImageDownload,
                                                  CommandKind::ImageRecall, CommandKind::FormatEnd};
  ASSERT_EQ(kinds, expectedKinds);
  EXPECT_EQ(page[2].x, 0);
  EXPECT_EQ(page[2].y, 0);
  EXPECT_EQ(page[4].x, 57);
  EXPECT_EQ(page[4].y, 57);

  ASSERT_EQ(job.labels.size(), 1u);
  const Box message = ClockBox(L"ERROR: Invalid Paper Size", 20, L"Lucida Console", 0, POINT{57, 57});
  EXPECT_GT(DarkPixelsIn(job.labels[0], message), 20);
  EXPECT_TRUE(SameLabel(job.labels[0], RgbImage::White(1587, 212), {message.Grown(kClockMargin)}));
}

TEST_F(WholeJob, ForcedJobFollowsItsErrorPage) {
  ASSERT_TRUE(StorePrinterSetting(kJobPrinter, L"PrintError", 1));
  ASSERT_TRUE(StorePrinterSetting(kJobPrinter, L"ForcePrinting", 1));
  const HostPicture base = PaintColourPicture(300, 200, RGB(220, 240, 255), RGB(160, 0, 0));
  HostSession host(plugin, kJobPrinter, L"forced.prn");
  ASSERT_TRUE(host.Ready());
  host.Initialize();
  ASSERT_TRUE(host.Header(2000, 1000));
  host.Layout(180, 1, 1, 0, 0);
  ASSERT_TRUE(host.Page());
  ASSERT_TRUE(host.Send("BASE01", base));
  ASSERT_TRUE(host.Base(1400, 50));  // reaches past the corrected width and is cut there
  // A clock is turned with the host's own label size (2000 x 1000), not the corrected one.
  const std::wstring clockText = L"23:59";
  ASSERT_TRUE(host.Clock(clockText, 600, 100, kClockHeight, kClockFace));
  ASSERT_TRUE(host.CloseStatic(1));
  ASSERT_TRUE(host.Final());
  ASSERT_TRUE(host.Write());
  const PrintedJob job = host.Finish();
  ASSERT_NO_FATAL_FAILURE(ExpectSound(job));

  const auto& setups = job.check.stats.setups;
  ASSERT_EQ(setups.size(), 2u);
  EXPECT_EQ(setups[0].width, 1587);
  EXPECT_EQ(setups[0].length, 212);
  EXPECT_EQ(setups[1].width, 1587);
  EXPECT_EQ(setups[1].length, 1000);
  EXPECT_LT(setups[0].offset, setups[1].offset);
  ASSERT_EQ(job.labels.size(), 2u);
  EXPECT_EQ(job.labels[0].height, 212);
  RgbImage expected = RgbImage::White(1587, 1000);
  Blit(expected, base.pixels, 1400, 50);
  const Box clock = ClockBox(clockText, kClockHeight, kClockFace, 180, TurnClockAnchor(180, 600, 100, 2000, 1000));
  EXPECT_GT(DarkPixelsIn(job.labels[1], clock), 20) << "no clock at " << clock.x << "," << clock.y;
  EXPECT_TRUE(SameLabel(job.labels[1], expected, {clock.Grown(kClockMargin)}));
}

}  // namespace
