// What the printer prints is what the host placed, in the flows where the
// printer's kept page could show through: fields that move, shrink or are
// left out, clocks without text, cells blanked and used again, and several
// jobs on one plug-in object. Each job is its own spooler document, so its
// labels are drawn from its stream alone, as on a printer switched off in
// between, and compared with labels painted here.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "win32/engine/whole_job_support.h"

namespace {

using namespace wholejob;

constexpr const wchar_t* kPlacedPrinter = L"QVR Placed Printer";
constexpr int32_t kPlacedPageWidth = 800;
constexpr int32_t kPlacedPageLength = 400;

class PrintedEqualsPlaced : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plugin.Loaded());
    ASSERT_TRUE(StoreNeutralSettings(kPlacedPrinter));
  }
  // Checks the job's stream and compares its labels with `expected`,
  // leaving the clocks' own boxes out.
  static void ExpectLabels(const PrintedJob& job, const std::vector<RgbImage>& expected,
                           const std::vector<std::vector<Box>>& clocks = {}) {
    ASSERT_FALSE(job.parsed.error) << job.parsed.error->offset << ": " << job.parsed.error->message;
    ASSERT_FALSE(job.check.error) << job.check.error->offset << ": " << job.check.error->message;
    ASSERT_EQ(job.labels.size(), expected.size());
    for (size_t n = 0; n < expected.size(); ++n) {
      EXPECT_TRUE(SameLabel(job.labels[n], expected[n], n < clocks.size() ? clocks[n] : std::vector<Box>{}))
          << "label " << n + 1;
    }
  }
  static Box ClockAt(const std::wstring& text, int32_t x, int32_t y) {
    return ClockBox(text, kClockHeight, kClockFace, 0, POINT{x, y}).Grown(kClockMargin);
  }

  LoadedPlugin plugin;
};

// A new job of one label per page on `host`'s current document.
bool StartOneLabelJob(HostSession& host) {
  host.Initialize();
  if (!host.Header(kPlacedPageWidth, kPlacedPageLength)) return false;
  host.Layout(0, 1, 1, 0, 0);
  return true;
}

HostPicture Design(int32_t width, int32_t height) {
  return PaintColourPicture(width, height, RGB(255, 248, 220), RGB(20, 40, 140));
}

TEST_F(PrintedEqualsPlaced, FieldsThatMoveShrinkOrAreLeftOutAndClocksWithoutText) {
  HostSession host(plugin, kPlacedPrinter, L"placed-fields.prn");
  ASSERT_TRUE(host.Ready());
  ASSERT_TRUE(StartOneLabelJob(host));
  const HostPicture base = Design(kPlacedPageWidth, kPlacedPageLength);
  const HostPicture wide = PaintColourPicture(300, 60, RGB(200, 230, 255), RGB(0, 120, 0));
  const HostPicture narrow = PaintColourPicture(200, 60, RGB(255, 220, 200), RGB(90, 0, 90));
  struct Step {
    const HostPicture* field;  // none: the field is left out
    POINT at;
    std::wstring clock;
    POINT clockAt;
  };
  const Step steps[] = {
      {&wide, {50, 250}, L"12:00", {60, 330}},
      {&narrow, {150, 250}, L"", {60, 330}},        // narrower and further right; no clock text
      {nullptr, {}, L"12:01", {400, 330}},          // no field; the clock moved
      {&narrow, {20, 240}, L"12:02", {5000, 330}},  // further left and up; the clock off the page
      {&wide, {5000, 5000}, L"12:03", {60, 330}},   // the field off the page
      {&wide, {400, 200}, L"12:04", {60, 330}},
  };
  std::vector<RgbImage> expected;
  std::vector<std::vector<Box>> clocks;
  for (const Step& step : steps) {
    ASSERT_TRUE(host.Page());
    if (expected.empty()) ASSERT_TRUE(host.Send("BASE01", base));
    ASSERT_TRUE(host.Base(0, 0));
    RgbImage label = base.pixels;
    if (step.field != nullptr) {
      ASSERT_TRUE(host.Send("SERIAL", *step.field));
      ASSERT_TRUE(host.Variable("SERIAL", step.at.x, step.at.y));
      Blit(label, step.field->pixels, step.at.x, step.at.y);
    }
    ASSERT_TRUE(host.Clock(step.clock, step.clockAt.x, step.clockAt.y, kClockHeight, kClockFace));
    clocks.push_back(step.clock.empty() ? std::vector<Box>{}
                                        : std::vector<Box>{ClockAt(step.clock, step.clockAt.x, step.clockAt.y)});
    ASSERT_TRUE(host.CloseStatic(1));
    ASSERT_TRUE(host.Final());
    expected.push_back(label);
  }
  ASSERT_TRUE(host.Write());
  ExpectLabels(host.Finish(), expected, clocks);
}

// A job of a 2 x 3 layout on `host`'s document: one page for each count of
// cells used, closed statically or by that count. Adds the labels it must print.
void PrintCellPages(HostSession& host, std::initializer_list<int> used, bool dynamic, std::vector<RgbImage>& expected) {
  host.Initialize();
  ASSERT_TRUE(host.Header(1420, 760));
  host.Layout(0, 3, 2, 330, 250);
  const HostPicture base = Design(400, 300);
  const std::vector<Cell> cells = LayoutCells(0, 2, 3, TenthsToDots(330), TenthsToDots(250), 20, 30);
  bool first = true;
  for (const int count : used) {
    ASSERT_TRUE(host.Page());
    if (first) ASSERT_TRUE(host.Send("BASE01", base));
    first = false;
    RgbImage label = RgbImage::White(1420, 760);
    for (const Cell& cell : cells) {
      if (cell.index < count) Blit(label, base.pixels, cell.x, cell.y);
    }
    for (int n = 0; n < count; ++n) ASSERT_TRUE(host.Base(20, 30));
    ASSERT_TRUE(dynamic ? host.CloseDynamic(count) : host.CloseStatic(1));
    ASSERT_TRUE(host.Final());
    expected.push_back(label);
  }
  ASSERT_TRUE(host.Write());
}

TEST_F(PrintedEqualsPlaced, CellsBlankedByADynamicCloseComeBackOnTheNextFullPage) {
  HostSession host(plugin, kPlacedPrinter, L"placed-cells.prn");
  ASSERT_TRUE(host.Ready());
  std::vector<RgbImage> expected;
  PrintCellPages(host, {4, 6, 1, 6}, true, expected);
  ExpectLabels(host.Finish(), expected);
}

TEST_F(PrintedEqualsPlaced, PagesClosedPartlyUsedInTheMiddleOfAJobBlankOnlyTheirUnusedCells) {
  // Two cells 200 dots apart: the first page uses one, the second both.
  HostSession host(plugin, kPlacedPrinter, L"placed-partly1.prn");
  ASSERT_TRUE(host.Ready());
  host.Initialize();
  ASSERT_TRUE(host.Header(kPlacedPageWidth, kPlacedPageLength));
  host.Layout(0, 2, 1, 141, 0);
  const HostPicture base = Design(200, 200);
  RgbImage one = RgbImage::White(kPlacedPageWidth, kPlacedPageLength);
  Blit(one, base.pixels, 0, 0);
  RgbImage both = one;
  Blit(both, base.pixels, TenthsToDots(141), 0);
  ASSERT_TRUE(host.Page());
  ASSERT_TRUE(host.Send("BASE01", base));
  ASSERT_TRUE(host.Base(0, 0));
  ASSERT_TRUE(host.CloseStatic(1));
  ASSERT_TRUE(host.Final());
  ASSERT_TRUE(host.Page());
  ASSERT_TRUE(host.Base(0, 0));
  ASSERT_TRUE(host.Base(200, 0));
  ASSERT_TRUE(host.CloseStatic(1));
  ASSERT_TRUE(host.Final());
  ASSERT_TRUE(host.Write());
  ExpectLabels(host.NextDocument(L"placed-partly2.prn"), {one, both});

  // 2 x 3 cells over three pages, the middle one closed with four used.
  std::vector<RgbImage> expected;
  PrintCellPages(host, {6, 4, 6}, false, expected);
  ExpectLabels(host.Finish(), expected);
}

TEST_F(PrintedEqualsPlaced, AClearInsideAJobKeepsItsPagesPrintingWithOrWithoutANewBase) {
  HostSession host(plugin, kPlacedPrinter, L"placed-clear.prn");
  ASSERT_TRUE(host.Ready());
  const HostPicture first = Design(kPlacedPageWidth, kPlacedPageLength);
  const HostPicture second = PaintColourPicture(300, 200, RGB(230, 255, 230), RGB(120, 0, 60));
  const HostPicture wide = PaintColourPicture(300, 60, RGB(200, 230, 255), RGB(0, 120, 0));
  const HostPicture narrow = PaintColourPicture(120, 40, RGB(255, 220, 200), RGB(90, 0, 90));
  ASSERT_TRUE(StartOneLabelJob(host));
  std::vector<RgbImage> expected;
  RgbImage label = RgbImage::White(kPlacedPageWidth, kPlacedPageLength);
  Blit(label, first.pixels, 0, 0);
  const RgbImage onFirst = label;
  // Page 1: the design and a wide field.
  ASSERT_TRUE(host.Page());
  ASSERT_TRUE(host.Send("BASE01", first));
  ASSERT_TRUE(host.Base(0, 0));
  ASSERT_TRUE(host.Send("SERIAL", wide));
  ASSERT_TRUE(host.Variable("SERIAL", 50, 250));
  ASSERT_TRUE(host.CloseStatic(1));
  ASSERT_TRUE(host.Final());
  Blit(label, wide.pixels, 50, 250);
  expected.push_back(label);
  // A clear between pages: no new base; the narrower field restores the rest from the design.
  ASSERT_TRUE(host.T().clear(host.Object()));
  ASSERT_TRUE(host.Page());
  ASSERT_TRUE(host.Base(0, 0));
  ASSERT_TRUE(host.Send("SERIAL", narrow));
  ASSERT_TRUE(host.Variable("SERIAL", 150, 250));
  ASSERT_TRUE(host.CloseStatic(1));
  ASSERT_TRUE(host.Final());
  label = onFirst;
  Blit(label, narrow.pixels, 150, 250);
  expected.push_back(label);
  // A clear inside a page, the field left out: the design comes back where it was.
  ASSERT_TRUE(host.Page());
  ASSERT_TRUE(host.T().clear(host.Object()));
  ASSERT_TRUE(host.Base(0, 0));
  ASSERT_TRUE(host.CloseStatic(1));
  ASSERT_TRUE(host.Final());
  expected.push_back(onFirst);
  // A clear inside a page, then a new design: the pages after it are on the new one.
  ASSERT_TRUE(host.Page());
  ASSERT_TRUE(host.Send("SERIAL", narrow));
  ASSERT_TRUE(host.Variable("SERIAL", 400, 300));
  ASSERT_TRUE(host.T().clear(host.Object()));
  ASSERT_TRUE(host.Send("BASE01", second));
  ASSERT_TRUE(host.Base(100, 50));
  ASSERT_TRUE(host.CloseStatic(1));
  ASSERT_TRUE(host.Final());
  label = RgbImage::White(kPlacedPageWidth, kPlacedPageLength);
  Blit(label, second.pixels, 100, 50);
  const RgbImage onSecond = label;
  Blit(label, narrow.pixels, 400, 300);
  expected.push_back(label);
  ASSERT_TRUE(host.Page());
  ASSERT_TRUE(host.Base(100, 50));
  ASSERT_TRUE(host.CloseStatic(1));
  ASSERT_TRUE(host.Final());
  expected.push_back(onSecond);
  ASSERT_TRUE(host.Write());
  ExpectLabels(host.Finish(), expected);
}

TEST_F(PrintedEqualsPlaced, EveryJobOnOneObjectPrintsOnItsOwnThroughItsOwnHandle) {
  HostSession host(plugin, kPlacedPrinter, L"placed-job1.prn");
  ASSERT_TRUE(host.Ready());
  const HostPicture first = Design(400, 300);
  const HostPicture second = PaintColourPicture(300, 200, RGB(230, 255, 230), RGB(120, 0, 60));
  const HostPicture field = PaintColourPicture(200, 50, RGB(200, 230, 255), RGB(0, 120, 0));
  const HostPicture small = PaintColourPicture(80, 30, RGB(255, 220, 200), RGB(90, 0, 90));

  // Job 1: a design, a field, two labels of a 1 x 2 layout with one blanked.
  host.Initialize();
  ASSERT_TRUE(host.Header(kPlacedPageWidth, kPlacedPageLength));
  host.Layout(0, 2, 1, 300, 0);
  ASSERT_TRUE(host.Page());
  ASSERT_TRUE(host.Send("BASE01", first));
  ASSERT_TRUE(host.Base(0, 0));
  ASSERT_TRUE(host.Send("SERIAL", field));
  ASSERT_TRUE(host.Variable("SERIAL", 40, 40));
  ASSERT_TRUE(host.CloseDynamic(1));
  ASSERT_TRUE(host.Final());
  ASSERT_TRUE(host.Write());
  RgbImage label1 = RgbImage::White(kPlacedPageWidth, kPlacedPageLength);
  Blit(label1, first.pixels, 0, 0);
  Blit(label1, field.pixels, 40, 40);
  ExpectLabels(host.NextDocument(L"placed-job2.prn"), {label1});

  // Job 2, through a new handle: a new design, refused nowhere.
  ASSERT_TRUE(StartOneLabelJob(host));
  ASSERT_TRUE(host.Page());
  ASSERT_TRUE(host.Send("BASE01", second));
  ASSERT_TRUE(host.Base(100, 50));
  ASSERT_TRUE(host.Send("SERIAL", small));
  ASSERT_TRUE(host.Variable("SERIAL", 120, 60));
  ASSERT_TRUE(host.CloseStatic(1));
  ASSERT_TRUE(host.Final());
  ASSERT_TRUE(host.Write());
  RgbImage label2 = RgbImage::White(kPlacedPageWidth, kPlacedPageLength);
  Blit(label2, second.pixels, 100, 50);
  Blit(label2, small.pixels, 120, 60);
  ExpectLabels(host.NextDocument(L"placed-job3.prn"), {label2});

  // Job 3 sends no base bitmap: the kept design, laid out for this job. A
  // bitmap it sends but never places is dropped by the job after it.
  ASSERT_TRUE(StartOneLabelJob(host));
  ASSERT_TRUE(host.Page());
  ASSERT_TRUE(host.Base(300, 100));
  ASSERT_TRUE(host.CloseStatic(1));
  ASSERT_TRUE(host.Final());
  ASSERT_TRUE(host.Write());
  ASSERT_TRUE(host.Page());  // given up: a page never closed, a bitmap never placed
  ASSERT_TRUE(host.Send("SERIAL", field));
  RgbImage label3 = RgbImage::White(kPlacedPageWidth, kPlacedPageLength);
  Blit(label3, second.pixels, 300, 100);
  ExpectLabels(host.NextDocument(L"placed-job4.prn"), {label3});

  // Job 4: its base bitmap is taken, not refused for the one left unplaced,
  // and nothing of the abandoned page reaches this job's stream.
  ASSERT_TRUE(StartOneLabelJob(host));
  ASSERT_TRUE(host.Page());
  ASSERT_TRUE(host.Send("BASE01", first));
  ASSERT_TRUE(host.Base(0, 0));
  ASSERT_TRUE(host.Final());
  ASSERT_TRUE(host.Page());
  ASSERT_TRUE(host.Send("SERIAL", small));
  ASSERT_TRUE(host.Variable("SERIAL", 600, 300));  // only a field: the base stays under it
  ASSERT_TRUE(host.Final());
  ASSERT_TRUE(host.Write());
  RgbImage label4 = RgbImage::White(kPlacedPageWidth, kPlacedPageLength);
  Blit(label4, first.pixels, 0, 0);
  RgbImage label5 = label4;
  Blit(label5, small.pixels, 600, 300);
  const PrintedJob job4 = host.NextDocument(L"placed-job5.prn");
  ExpectLabels(job4, {label4, label5});
  // The stream opens with this job's marker label.
  ASSERT_GT(job4.parsed.commands.size(), 1u);
  EXPECT_EQ(job4.parsed.commands[0].kind, streamcheck::CommandKind::FormatStart);
  EXPECT_EQ(job4.parsed.commands[1].kind, streamcheck::CommandKind::Comment);

  // Job 5 after a clear: the kept design is gone, so a base reference needs
  // a base bitmap again.
  ASSERT_TRUE(host.T().clear(host.Object()));
  ASSERT_TRUE(StartOneLabelJob(host));
  ASSERT_TRUE(host.Page());
  ASSERT_FALSE(host.Base(0, 0));  // 209: the job fails
  ASSERT_TRUE(StartOneLabelJob(host));
  ASSERT_TRUE(host.Page());
  ASSERT_TRUE(host.Send("BASE01", second));
  ASSERT_TRUE(host.Base(0, 0));
  ASSERT_TRUE(host.Send("SERIAL", small));
  ASSERT_TRUE(host.Variable("SERIAL", 10, 10));
  ASSERT_TRUE(host.Final());
  ASSERT_TRUE(host.Write());
  RgbImage label6 = RgbImage::White(kPlacedPageWidth, kPlacedPageLength);
  Blit(label6, second.pixels, 0, 0);
  Blit(label6, small.pixels, 10, 10);
  ExpectLabels(host.Finish(), {label6});
}

TEST_F(PrintedEqualsPlaced, AJobOfOnlyFieldsStartsFromAWhitePage) {
  HostSession host(plugin, kPlacedPrinter, L"placed-fields-only1.prn");
  ASSERT_TRUE(host.Ready());
  const HostPicture design = Design(kPlacedPageWidth, kPlacedPageLength);
  const HostPicture field = PaintColourPicture(200, 50, RGB(200, 230, 255), RGB(0, 120, 0));
  ASSERT_TRUE(StartOneLabelJob(host));
  ASSERT_TRUE(host.Page());
  ASSERT_TRUE(host.Send("BASE01", design));
  ASSERT_TRUE(host.Base(0, 0));
  ASSERT_TRUE(host.Final());
  ASSERT_TRUE(host.Write());
  host.NextDocument(L"placed-fields-only2.prn");

  ASSERT_TRUE(StartOneLabelJob(host));
  ASSERT_TRUE(host.Page());
  ASSERT_TRUE(host.Send("SERIAL", field));
  ASSERT_TRUE(host.Variable("SERIAL", 100, 100));
  ASSERT_TRUE(host.Final());
  ASSERT_TRUE(host.Write());
  RgbImage label = RgbImage::White(kPlacedPageWidth, kPlacedPageLength);
  Blit(label, field.pixels, 100, 100);
  const PrintedJob job = host.Finish();
  ExpectLabels(job, {label});
  // Printed after the first job without a power cycle, the page is the same:
  // the job's first page covers the whole label.
  EXPECT_EQ(Formats(job.parsed).size(), 3u);
}

}  // namespace
