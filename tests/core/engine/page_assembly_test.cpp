#include <gtest/gtest.h>
#include <png.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/print_control.h"
#include "support/native/debug_output_capture.h"
#include "support/native/engine_access.h"
#include "support/native/fakes.h"

namespace {

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kRed{200, 10, 20};
constexpr Rgb kBlue{10, 20, 200};
constexpr Rgb kGreen{30, 180, 40};
constexpr Rgb kUnprinted{7, 7, 7};

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
  return os << "rgb(" << int{c.r} << "," << int{c.g} << "," << int{c.b} << ")";
}

// A host bitmap of one colour, delivered as 24-bit rows.
class SolidBitmap : public HostBitmap {
 public:
  SolidBitmap(int32_t width, int32_t height, Rgb colour) {
    const auto stride = static_cast<size_t>(RasterStride(width));
    rows_ = {width, height, 24, std::vector<uint8_t>(stride * static_cast<size_t>(height), 0)};
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t x = 0; x < width; ++x) {
        uint8_t* p = &rows_.bytes[y * stride + x * 3];
        p[0] = colour.b, p[1] = colour.g, p[2] = colour.r;
      }
    }
  }
  ResultCode Read(DibRows& out) noexcept override {
    out = rows_;
    return result::kOk;
  }

 private:
  DibRows rows_;
};

// One downloaded image and where it was recalled.
struct Band {
  int32_t x = 0, y = 0;
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;
  Rgb At(uint32_t px, uint32_t py) const {
    const uint8_t* p = &rgb.at((size_t{py} * width + px) * 3);
    return {p[0], p[1], p[2]};
  }
};

// The stream as read back: its commands as text with every download-and-recall
// pair written "[x,y wxh]", and the decoded bands.
struct Stream {
  std::string shape;
  std::vector<Band> bands;
};

bool DecodePng(const uint8_t* data, size_t size, Band& band) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data, size)) return false;
  image.format = PNG_FORMAT_RGB;
  band.rgb.resize(PNG_IMAGE_SIZE(image));
  const bool ok = png_image_finish_read(&image, nullptr, band.rgb.data(), 0, nullptr) != 0;
  band.width = image.width;
  band.height = image.height;
  png_image_free(&image);
  return ok;
}

bool Consume(const std::string& s, size_t& at, std::string_view token) {
  if (s.compare(at, token.size(), token) != 0) return false;
  at += token.size();
  return true;
}

int64_t Number(const std::string& s, size_t& at) {
  size_t used = 0;
  const int64_t value = std::stoll(s.substr(at, 24), &used);
  at += used;
  return value;
}

Stream Parse(const std::vector<uint8_t>& bytes, size_t from = 0) {
  const std::string s(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end());
  Stream out;
  size_t at = 0;
  while (at < s.size()) {
    if (!Consume(s, at, "~DYR:DIFF,B,P,")) {
      out.shape.push_back(s[at++]);
      continue;
    }
    const auto count = static_cast<size_t>(Number(s, at));
    if (!Consume(s, at, ",0,") || at + count > s.size()) {
      ADD_FAILURE() << "malformed download at " << at;
      return out;
    }
    Band band;
    EXPECT_TRUE(DecodePng(reinterpret_cast<const uint8_t*>(s.data() + at), count, band)) << "band PNG";
    at += count;
    if (!Consume(s, at, "^FO")) {
      ADD_FAILURE() << "download not followed by its recall";
      return out;
    }
    band.x = static_cast<int32_t>(Number(s, at));
    EXPECT_TRUE(Consume(s, at, ","));
    band.y = static_cast<int32_t>(Number(s, at));
    EXPECT_TRUE(Consume(s, at, "^IMR:DIFF.PNG^FS"));
    out.shape += "[" + std::to_string(band.x) + "," + std::to_string(band.y) + " " + std::to_string(band.width) + "x" +
                 std::to_string(band.height) + "]";
    out.bands.push_back(std::move(band));
  }
  return out;
}

// What the printer's page holds after the bands were printed over it.
struct Sheet {
  int32_t width, height;
  std::vector<Rgb> pixels;
  Sheet(int32_t w, int32_t h) : width(w), height(h), pixels(static_cast<size_t>(w) * h, kUnprinted) {}
  void Print(const Stream& stream) {
    for (const Band& band : stream.bands) {
      for (uint32_t y = 0; y < band.height; ++y) {
        for (uint32_t x = 0; x < band.width; ++x) {
          const int64_t px = band.x + int64_t{x}, py = band.y + int64_t{y};
          ASSERT_TRUE(px < width && py < height) << "band reaches past the page at " << px << "," << py;
          pixels[py * width + px] = band.At(x, y);
        }
      }
    }
  }
  Rgb At(int32_t x, int32_t y) const { return pixels.at(static_cast<size_t>(y) * width + x); }
  // True when every pixel of the rectangle has `colour`.
  bool Filled(int32_t x, int32_t y, int32_t w, int32_t h, Rgb colour) const {
    for (int32_t j = y; j < y + h; ++j)
      for (int32_t i = x; i < x + w; ++i)
        if (!(At(i, j) == colour)) return false;
    return true;
  }
};

bool AllWhite(const Stream& stream) {
  for (const Band& band : stream.bands)
    for (size_t i = 0; i < band.rgb.size(); ++i)
      if (band.rgb[i] != 255) return false;
  return !stream.bands.empty();
}

uint32_t Tenths(int32_t value) { return static_cast<uint32_t>(value); }

class PageAssembly : public testing::Test {
 protected:
  MemoryPrinter printer;
  FixedClock clock;
  BlockTextRenderer text;
  RecordingLog log;
  std::unique_ptr<CPrintControl> engine;
  LayoutData layout_;
  size_t mark = 0;

  // A job of the given page size; pitches in tenths of a millimetre.
  void Start(int32_t width, int32_t length, int32_t rows = 1, int32_t columns = 1, int32_t rotation = 0,
             int32_t horizontalPitch = 0, int32_t verticalPitch = 0) {
    engine = std::make_unique<CPrintControl>(360, printer, JobServices{clock, text, log});
    header_[0] = width, header_[1] = length;
    ASSERT_EQ(engine->WritePrintJobHeader(header_), 0);
    layout_ = {};
    ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.rotation = rotation; });
    ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.labelRows = rows; });
    ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.labelColumns = columns; });
    ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.horizontalPitch = horizontalPitch; });
    ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.verticalPitch = verticalPitch; });
    mark = Written(*engine, printer).size();
  }
  // A new job of the same size that lays the kept base out again at `at`,
  // over the layout and with the adjustment as they now stand.
  void LayOutAgain(DotPoint at = {20, 30}) {
    engine->BeginJob(printer);
    ASSERT_EQ(engine->WritePrintJobHeader(header_), 0);
    engine->CreateNewPage();
    ASSERT_EQ(Base(at), 0);
    mark = Written(*engine, printer).size();
  }
  int32_t header_[2] = {};
  // Everything appended since the last call.
  Stream Appended() {
    Stream stream = Parse(Written(*engine, printer), mark);
    mark = printer.output.size();
    return stream;
  }
  void Give(int32_t w, int32_t h, Rgb colour, const char* name) {
    SolidBitmap bitmap(w, h, colour);
    ASSERT_EQ(engine->ReceiveBitmap(bitmap, name), 0);
  }
  ResultCode Base(DotPoint at) { return engine->ReferToBaseBitmap(at); }
  ResultCode Variable(DotPoint at, const char* name) { return engine->ReferToVariableBitmap(at, name); }
  void Adjust(int32_t horizontalTenths, int32_t verticalTenths) {
    printer.Set(u"HOffset", Tenths(horizontalTenths));
    printer.Set(u"VOffset", Tenths(verticalTenths));
  }
  // One page holding `references` base references, closed statically.
  std::string StaticPage(int references, int32_t copies = 1) {
    engine->CreateNewPage();
    for (int i = 0; i < references; ++i) EXPECT_EQ(Base({20, 30}), 0);
    EXPECT_EQ(engine->CloseNewPageStatic(copies), 0);
    EXPECT_EQ(engine->CloseNewPageFinal(), 0);
    return Appended().shape;
  }
};

TEST_F(PageAssembly, TheBaseImageGoesOutOnceInBandsAtTheFirstReference) {
  Start(1587, 14400);
  Adjust(127, 254);  // 180 and 360 dots
  Give(100, 50, kRed, "BASE01");
  engine->CreateNewPage();
  ASSERT_EQ(Base({10, 20}), 0);
  const Stream first = Appended();
  std::string expected = "^XA^C(L";
  for (int band = 0; band < 21; ++band) expected += "[0," + std::to_string(band * 675) + " 1587x675]";
  expected += "[0,14175 1587x225]";
  EXPECT_EQ(first.shape, expected);
  Sheet sheet(1587, 14400);
  sheet.Print(first);
  EXPECT_TRUE(sheet.Filled(190, 380, 100, 50, kRed));
  EXPECT_EQ(sheet.At(189, 380), kWhite);
  EXPECT_EQ(sheet.At(190, 379), kWhite);
  EXPECT_EQ(sheet.At(290, 430), kWhite);
  EXPECT_EQ(sheet.At(1586, 14399), kWhite);
  EXPECT_EQ(engine->Page().Grid().origin.x, 190);  // the adjustment included
  EXPECT_EQ(engine->Page().Grid().origin.y, 380);

  // Later references neither look at the name nor send anything.
  Give(8, 8, kRed, "SOMETHING");
  EXPECT_EQ(Base({500, 500}), 0);
  EXPECT_EQ(Base({0, 0}), 0);
  EXPECT_EQ(Appended().shape, "");
  EXPECT_EQ(engine->Page().Grid().origin.x, 190);
  ASSERT_EQ(Variable({0, 0}, "SOMETHING"), 0);  // the bitmap still waited for its own reference
  EXPECT_EQ(Appended().shape, "[180,360 8x8]");

  // A tall narrow raster: 3571 rows would fit the pixel limit, 2976 is the most.
  Give(300, 3000, kBlue, "V");
  ASSERT_EQ(Variable({0, 0}, "V"), 0);
  EXPECT_EQ(Appended().shape, "[180,360 300x2976][180,3336 300x24]");
}

TEST_F(PageAssembly, LaterPagesSendOnlyVariableImagesWithTheirRestoreStrips) {
  Start(1587, 1200);
  Give(1587, 1200, kGreen, "BASE01");
  engine->CreateNewPage();
  ASSERT_EQ(Base({0, 0}), 0);
  Give(100, 40, kRed, "SERIAL");
  ASSERT_EQ(Variable({50, 60}, "SERIAL"), 0);
  ASSERT_EQ(engine->CloseNewPageStatic(1), 0);
  EXPECT_EQ(engine->CloseNewPageFinal(), 0);
  Sheet sheet(1587, 1200);
  const Stream page1 = Appended();
  sheet.Print(page1);
  EXPECT_EQ(page1.shape, "^XA^C(L[0,0 1587x675][0,675 1587x525][50,60 100x40]^C(S^XZ");

  // The next page starts the keys again; the shorter image is widened over the
  // old one's rectangle with the base's pixels.
  engine->CreateNewPage();
  ASSERT_EQ(Base({0, 0}), 0);
  Give(80, 40, kBlue, "SERIAL");
  ASSERT_EQ(Variable({50, 60}, "SERIAL"), 0);
  ASSERT_EQ(engine->CloseNewPageStatic(1), 0);
  EXPECT_EQ(engine->CloseNewPageFinal(), 0);
  const Stream page2 = Appended();
  EXPECT_EQ(page2.shape, "^XA^C(L[50,60 100x40]^C(S^XZ");
  sheet.Print(page2);
  EXPECT_TRUE(sheet.Filled(50, 60, 80, 40, kBlue));
  EXPECT_TRUE(sheet.Filled(130, 60, 20, 40, kGreen));
  EXPECT_EQ(sheet.At(49, 60), kGreen);

  // A name other than the last one sent: 209, and the key stays where it
  // was: on the next page the second element meets this one's rectangle.
  Give(80, 40, kRed, "LOT");
  EXPECT_EQ(Variable({50, 60}, "lot"), 209);
  EXPECT_EQ(Variable({50, 60}, "LOT "), 209);
  EXPECT_EQ(Appended().shape, "");
  EXPECT_EQ(Variable({50, 60}, "LOT"), 0);
  ASSERT_EQ(engine->CloseNewPageStatic(1), 0);
  EXPECT_EQ(engine->CloseNewPageFinal(), 0);
  Appended();
  engine->CreateNewPage();
  Give(10, 10, kBlue, "A");
  ASSERT_EQ(Variable({50, 60}, "A"), 0);
  Give(10, 10, kBlue, "B");
  ASSERT_EQ(Variable({50, 60}, "B"), 0);
  EXPECT_EQ(Appended().shape, "^XA^C(L[50,60 80x40][50,60 80x40]");
}

TEST_F(PageAssembly, CopiesAddEmptyPageFormatsAndLabelsAreFormatsOfTheirOwn) {
  Start(1587, 1200, 2, 3, 0, 254, 381);
  Give(300, 500, kRed, "BASE01");
  const std::string first = StaticPage(6, 3);
  EXPECT_TRUE(first.ends_with("[0,675 1587x525]^C(S^XZ^XA^C(L^C(S^XZ^XA^C(L^C(S^XZ")) << first;

  // A dynamic close keeps the copies of the last static close.
  engine->CreateNewPage();
  for (int i = 0; i < 6; ++i) ASSERT_EQ(Base({20, 30}), 0);
  ASSERT_EQ(engine->CloseNewPageDynamic(6), 0);
  EXPECT_EQ(engine->CloseNewPageFinal(), 0);
  EXPECT_EQ(Appended().shape, "^XA^C(L^C(S^XZ^XA^C(L^C(S^XZ^XA^C(L^C(S^XZ");

  // Start label with the adjustment, an empty page: no carry-over framing.
  Adjust(127, 254);
  Give(200, 100, kBlue, "START01");
  DotPoint origin{0, 0};
  ASSERT_EQ(engine->ReferToLabel(origin, "START01"), 0);
  const Stream label = Appended();
  EXPECT_EQ(label.shape, "^XA[0,0 1587x675][0,675 1587x525]^XZ");
  Sheet sheet(1587, 1200);
  sheet.Print(label);
  EXPECT_TRUE(sheet.Filled(180, 360, 200, 100, kBlue));
  EXPECT_EQ(sheet.At(179, 360), kWhite);
  EXPECT_EQ(sheet.At(380, 459), kWhite);

  ASSERT_EQ(engine->AddEmptyPage(), 0);
  const Stream empty = Appended();
  EXPECT_EQ(empty.shape, "^XA[0,0 1587x675][0,675 1587x525]^XZ");
  EXPECT_TRUE(AllWhite(empty));

  Give(200, 100, kBlue, "END01");
  EXPECT_EQ(engine->ReferToLabel(origin, "START01"), 209);
  EXPECT_EQ(engine->ReferToLabel(origin, "END01"), 0);
  EXPECT_EQ(Appended().shape, "^XA[0,0 1587x675][0,675 1587x525]^XZ");
}

TEST_F(PageAssembly, UnusedCellsOfTwoByThreeAreBlankedOnPartlyUsedPages) {
  // H = 360, V = 540 dots; cells at x 20, 380, 740 and y 30, 570.
  Start(1587, 1200, 2, 3, 0, 254, 381);
  Give(300, 500, kRed, "BASE01");
  const std::string page1 = StaticPage(6);
  EXPECT_TRUE(page1.ends_with("[0,675 1587x525]^C(S^XZ")) << page1;
  EXPECT_EQ(page1.find("x500]"), std::string::npos);
  EXPECT_EQ(StaticPage(6), "^XA^C(L^C(S^XZ");

  engine->CreateNewPage();
  ASSERT_EQ(Base({20, 30}), 0);
  ASSERT_EQ(Base({20, 30}), 0);
  ASSERT_EQ(engine->CloseNewPageStatic(1), 0);
  const Stream third = Appended();
  EXPECT_EQ(third.shape, "^XA^C(L[740,30 300x500][20,570 300x500][380,570 300x500][740,570 300x500]");
  EXPECT_TRUE(AllWhite(third));
  EXPECT_EQ(engine->CloseNewPageFinal(), 0);
  Appended();

  for (int32_t used : {6, 12}) {
    ASSERT_EQ(engine->CloseNewPageDynamic(used), 0);
    EXPECT_EQ(Appended().shape, "") << used;
  }
  // White cells lie on the base's copies: an adjustment stored after the
  // base was laid out moves neither. The next base laid out takes it.
  ASSERT_EQ(engine->CloseNewPageDynamic(4), 0);
  EXPECT_EQ(Appended().shape, "[380,570 300x500][740,570 300x500]");
  Adjust(127, -127);
  ASSERT_EQ(engine->CloseNewPageDynamic(4), 0);
  EXPECT_EQ(Appended().shape, "[380,570 300x500][740,570 300x500]");
  LayOutAgain();
  ASSERT_EQ(engine->CloseNewPageDynamic(4), 0);
  EXPECT_EQ(Appended().shape, "[560,390 300x500][920,390 300x500]");

  // A white cell past the right edge is cut to the page; one left of it is
  // cut on the left and recalled at x = 0.
  Adjust(635, 0);  // 900 dots: the last column at 1640, the middle one reaches 1580
  LayOutAgain();
  ASSERT_EQ(engine->CloseNewPageDynamic(4), 0);
  EXPECT_EQ(Appended().shape, "[1280,570 300x500]");
  Adjust(-127, 0);  // -180 dots: the first column starts at -160
  LayOutAgain();
  ASSERT_EQ(engine->CloseNewPageDynamic(3), 0);
  const Stream cut = Appended();
  EXPECT_EQ(cut.shape, "[0,570 140x500][200,570 300x500][560,570 300x500]");
  EXPECT_TRUE(AllWhite(cut));
}

TEST_F(PageAssembly, BlankCellsAreWhiteEvenAfterAVariableImageOfTheCellSize) {
  Start(1587, 1200, 2, 3, 0, 254, 381);
  Give(300, 500, kRed, "BASE01");
  engine->CreateNewPage();
  ASSERT_EQ(Base({20, 30}), 0);
  Give(300, 500, kBlue, "FIELD");
  ASSERT_EQ(Variable({20, 30}, "FIELD"), 0);
  Appended();
  ASSERT_EQ(engine->CloseNewPageDynamic(4), 0);
  const Stream blanks = Appended();
  EXPECT_EQ(blanks.shape, "[380,570 300x500][740,570 300x500]");
  EXPECT_TRUE(AllWhite(blanks));
}

TEST_F(PageAssembly, RotationNinetyWalksColumnsUpAndRowsAcross) {
  // Rotation 90 on 2 x 3: the outer loop walks the columns upwards by H, the
  // inner one the rows to the right by V. Cell 4 is at basePosition + (V, -H).
  Start(1587, 1700, 2, 3, 90, 254, 381);
  Adjust(127, -127);
  Give(300, 300, kRed, "BASE01");
  engine->CreateNewPage();
  ASSERT_EQ(Base({20, 1300}), 0);
  Sheet sheet(1587, 1700);
  sheet.Print(Appended());
  for (auto [x, y] : {std::pair{200, 1120}, {740, 1120}, {200, 760}, {740, 760}, {200, 400}, {740, 400}}) {
    EXPECT_TRUE(sheet.Filled(x, y, 300, 300, kRed)) << x << "," << y;
  }
  ASSERT_EQ(engine->CloseNewPageDynamic(4), 0);
  EXPECT_EQ(Appended().shape, "[740,760 300x300][740,400 300x300]");
  ASSERT_EQ(engine->CloseNewPageDynamic(2), 0);
  EXPECT_EQ(Appended().shape, "[740,1120 300x300][740,760 300x300][200,400 300x300][740,400 300x300]");
}

TEST_F(PageAssembly, ClocksAreTurnedWithTheHeaderSizeAndAdjustedAtEachPlacement) {
  Start(1000, 2000);
  Adjust(-35, -14);  // -50 and -20 dots
  engine->CreateNewPage();
  Give(1000, 2000, kGreen, "BASE01");
  ASSERT_EQ(Base({0, 0}), 0);
  Appended();
  // The block renderer puts the raster's corner at the point less its extent
  // for 90 (40 up) and 180 (40 left, 10 up), and for 270 (10 left).
  struct Case {
    int32_t rotation;
    const char* shape;
  } cases[] = {{0, "[50,30 40x10]"}, {90, "[0,1840 10x40]"}, {180, "[810,1920 40x10]"}, {270, "[890,80 10x40]"}};
  const DotPoint clockAt{100, 50};
  for (const Case& c : cases) {
    ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.rotation = c.rotation; });
    ASSERT_EQ(engine->WriteClock(u"12:00", clockAt, 20, u"Arial"), 0);
    EXPECT_EQ(Appended().shape, c.shape) << c.rotation;
  }
  // Without the adjustment, rotation 180 puts (100, 50) at (900, 1950).
  Adjust(0, 0);
  ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.rotation = 180; });
  ASSERT_EQ(engine->WriteClock(u"12:00", clockAt, 20, u"Arial"), 0);
  EXPECT_EQ(Appended().shape, "[860,1940 40x10]");
  EXPECT_EQ(text.rendered.size(), 5u);

  ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.rotation = 45; });
  EXPECT_EQ(engine->WriteClock(u"12:00", clockAt, 20, u"Arial"), 205);
  ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.rotation = 0; });
  EXPECT_EQ(Appended().shape, "");
}

TEST_F(PageAssembly, FailuresStopWithTheirCodeAndAdvanceNothing) {
  Start(1587, 1200, 2, 3, 45, 254, 381);
  engine->CreateNewPage();
  Appended();
  Give(300, 500, kRed, "base01");  // names are compared exactly
  EXPECT_EQ(Base({20, 30}), 209);
  engine->ClearImages();
  Give(300, 500, kRed, "BASE01");
  EXPECT_EQ(Base({20, 30}), 208);
  ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.rotation = 0; });
  EXPECT_EQ(Appended().shape, "");
  // The failed references consumed nothing and counted for nothing: this one
  // is the job's first, and the same bitmap builds the base.
  ASSERT_EQ(Base({20, 30}), 0);
  EXPECT_EQ(Appended().shape, "[0,0 1587x675][0,675 1587x525]");

  ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.rotation = 45; });
  EXPECT_EQ(engine->CloseNewPageDynamic(4), 208);
  EXPECT_EQ(engine->CloseNewPageStatic(1), 208);
  EXPECT_EQ(Appended().shape, "");
}

TEST_F(PageAssembly, AnEncodingFailureIs210AndKeepsWhatWasAppended) {
  // A refused header leaves the host's size in place: a page too wide for any PNG.
  printer.Set(u"PrintError", 0);
  engine = std::make_unique<CPrintControl>(360, printer, JobServices{clock, text, log});
  const int32_t header[2] = {2000000, 1};
  ASSERT_EQ(engine->WritePrintJobHeader(header), 102);
  TakeDebugOutput();
  EXPECT_EQ(engine->AddEmptyPage(), 210);
  Written(*engine, printer);
  EXPECT_EQ(printer.OutputText(), "^XA");
  EXPECT_EQ(TakeDebugOutput(), u"compression failed.\n");
}

TEST_F(PageAssembly, LayoutsWithoutCellsOrWithHugeCountsStayBounded) {
  Start(1587, 1200, 2, 3, 0, 254, 381);
  Give(300, 500, kRed, "BASE01");
  engine->CreateNewPage();
  ASSERT_EQ(Base({20, 30}), 0);
  Appended();

  // No cells: nothing is blanked, even when the two counts multiply to a positive number.
  for (auto [rows, columns] : {std::pair{0, 3}, {2, 0}, {-2, -3}, {-1, 6}}) {
    ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.labelRows = rows; });
    ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.labelColumns = columns; });
    EXPECT_EQ(engine->CloseNewPageStatic(1), 0);
    EXPECT_EQ(engine->CloseNewPageDynamic(1), 0);
    EXPECT_EQ(Appended().shape, "") << rows << " x " << columns;
  }

  // 65536 x 65536 cells: a 32-bit product would be 0. Every cell on the page
  // but the first is blanked, the ones at the edges cut to the page.
  ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.labelRows = 65536; });
  ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.labelColumns = 65536; });
  LayOutAgain();
  std::string expected, fromSecondRow;
  for (int32_t j = 0; j < 3; ++j) {
    for (int32_t i = 0; i < 5; ++i) {
      if (i == 0 && j == 0) continue;
      const int32_t x = 20 + 360 * i, y = 30 + 540 * j;
      const std::string cell = "[" + std::to_string(x) + "," + std::to_string(y) + " " +
                               std::to_string(std::min(300, 1587 - x)) + "x" + std::to_string(std::min(500, 1200 - y)) +
                               "]";
      expected += cell;
      if (j * 65536 + i >= 65537) fromSecondRow += cell;
    }
  }
  ASSERT_EQ(engine->CloseNewPageStatic(1), 0);
  EXPECT_EQ(Appended().shape, expected);
  ASSERT_EQ(engine->CloseNewPageDynamic(65537), 0);
  EXPECT_EQ(Appended().shape, fromSecondRow);

  // Ten thousand million cells, all off the page: nothing to walk, nothing sent.
  ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.labelRows = 100000; });
  ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.labelColumns = 100000; });
  Adjust(2540, 0);
  LayOutAgain();
  EXPECT_EQ(engine->CloseNewPageDynamic(1), 0);
  EXPECT_EQ(Appended().shape, "");

  // The same count with no pitch: every cell lies on the same spot, which is
  // blanked once rather than once per cell.
  Adjust(0, 0);
  ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.horizontalPitch = 0; });
  ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.verticalPitch = 0; });
  LayOutAgain();
  EXPECT_EQ(engine->CloseNewPageDynamic(1), 0);
  EXPECT_EQ(Appended().shape, "[20,30 300x500]");
  ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.labelRows = INT32_MAX; });
  ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.labelColumns = INT32_MAX; });
  ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.rotation = 270; });
  LayOutAgain();
  EXPECT_EQ(engine->CloseNewPageStatic(1), 0);
  EXPECT_EQ(Appended().shape, "[20,30 300x500]");
}

TEST_F(PageAssembly, DenseHugeLayoutsSendAFewWindowsBoundedByThePage) {
  // One-dot pitches and 2147483647 rows and columns: millions of cells on
  // the page, overlapping. The base and the white cells go out as a few
  // windows, and the label is what the cells make together: white over every
  // cell but the first, of which one pixel still shows.
  Start(1587, 2000, INT32_MAX, INT32_MAX, 0, 1, 1);
  Give(40, 20, kRed, "BASE01");
  engine->CreateNewPage();
  ASSERT_EQ(Base({100, 50}), 0);
  ASSERT_EQ(engine->CloseNewPageStatic(1), 0);
  ASSERT_EQ(engine->CloseNewPageFinal(), 0);
  const Stream page = Appended();
  EXPECT_LE(page.bands.size(), 8u);
  Sheet sheet(1587, 2000);
  sheet.Print(page);
  EXPECT_EQ(sheet.At(100, 50), kRed);
  EXPECT_TRUE(sheet.Filled(101, 50, 1486, 1950, kWhite));
  EXPECT_TRUE(sheet.Filled(100, 51, 1, 1949, kWhite));
  EXPECT_TRUE(sheet.Filled(0, 0, 100, 2000, kWhite));

  // The same with rotation 90 and a dynamic close from the second line on.
  ChangeLayout(*engine, layout_, [&](LayoutData& l) { l.rotation = 90; });
  engine->CreateNewPage();
  ASSERT_EQ(engine->CloseNewPageDynamic(INT32_MAX), 0);
  ASSERT_EQ(engine->CloseNewPageFinal(), 0);
  EXPECT_LE(Appended().bands.size(), 8u);
}

}  // namespace
