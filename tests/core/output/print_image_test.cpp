#include "output/print_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <random>

#include "support/native/fakes.h"

namespace {

class MemoryBitmap : public HostBitmap {
 public:
  DibRows rows;
  ResultCode Read(DibRows& out) noexcept override {
    out = rows;
    return rows.bitCount == 0 ? result::kBadSourceBitmap : result::kOk;
  }
};

using Bgr = std::array<uint8_t, 3>;
constexpr Bgr kWhitePixel{255, 255, 255};

// A 24-bit bitmap whose pixel (x, y) is (tag, x, y), so a test can tell which
// source pixel landed where. Row padding is 0xEE, as from a careless platform.
MemoryBitmap Tagged(int32_t width, int32_t height, uint8_t tag) {
  MemoryBitmap bitmap;
  const auto stride = static_cast<size_t>(RasterStride(width));
  bitmap.rows = {width, height, 24, std::vector<uint8_t>(stride * height, 0xEE)};
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = &bitmap.rows.bytes[y * stride + x * 3];
      p[0] = tag, p[1] = static_cast<uint8_t>(x), p[2] = static_cast<uint8_t>(y);
    }
  return bitmap;
}

Bgr At(const RasterImage& r, int64_t x, int64_t y) {
  const uint8_t* p = &r.pixels.at(static_cast<size_t>(y * r.stride + x * 3));
  return {p[0], p[1], p[2]};
}

Bgr Tag(uint8_t tag, int x, int y) { return {tag, static_cast<uint8_t>(x), static_cast<uint8_t>(y)}; }

// The raster with the page model it composes from, driven as the engine
// drives them: place into the model, then compose the window to send.
struct Fixture {
  BlockTextRenderer text;
  CPrintImage image{text};
  PageModel model;
  RasterImage out;
  RasterImage pixels;

  ResultCode Give(MemoryBitmap bitmap) { return image.SetSourceBitmap(bitmap); }
  // The tile (the source, or the kept one) laid over a grid of the page.
  ResultCode LayOut(DotPoint at, DotSize page, int32_t rows, int32_t columns, int32_t dy, int32_t dx) {
    if (!CPrintImage::PageFits(page)) return result::kStaticCompose;
    BaseGrid grid;
    grid.origin = at;
    grid.page = page;
    grid.outerCount = rows;
    grid.innerCount = columns;
    grid.outerStep = dy;
    grid.innerStep = dx;
    grid.columns = columns;
    RasterImage tile;
    const bool taken = image.TakeSource(tile);
    return model.LayOutBase(grid, taken ? &tile : nullptr) ? result::kOk : result::kStaticCompose;
  }
  // The source and the base are forgotten.
  void Reset() {
    image.Reset();
    model.ForgetBase();
  }
  ResultCode Base(MemoryBitmap bitmap, DotSize page, DotPoint at = {}, int32_t rows = 1, int32_t columns = 1,
                  int32_t dy = 0, int32_t dx = 0) {
    if (ResultCode code = Give(std::move(bitmap))) return code;
    return LayOut(at, page, rows, columns, dy, dx);
  }
  // The source placed under `key`; `out` the window to send, `at` its corner.
  ResultCode PlaceSource(DotPoint& at, DotSize page, int32_t key) {
    DotRect placed;
    if (ResultCode code = image.CutSourceToPage(at, page, placed, pixels)) return code;
    out.Clear();
    if (placed.Empty()) return result::kOk;
    const DotRect window = model.PlaceImage(placed, key, pixels, page);
    at = {static_cast<int32_t>(window.x), static_cast<int32_t>(window.y)};
    return image.ComposeWindow(model, window, out);
  }
  ResultCode Variable(MemoryBitmap bitmap, DotPoint& at, DotSize page, int32_t key = 0) {
    if (ResultCode code = Give(std::move(bitmap))) return code;
    return PlaceSource(at, page, key);
  }
  ResultCode Text(DotPoint& at, DotSize page, std::u16string_view text, int32_t height, std::u16string_view face,
                  int32_t rotation, int32_t key) {
    bool drawn = false;
    if (ResultCode code = image.RenderTextSource(at, text, height, face, rotation, drawn)) return code;
    out.Clear();
    return drawn ? PlaceSource(at, page, key) : result::kOk;
  }
};

// Paints the grid copy by copy, the slow obvious way.
RasterImage NaiveTiling(const RasterImage& src, DotPoint at, DotSize page, int rows, int cols, int dy, int dx) {
  RasterImage page_raster;
  CPrintImage::CreatePageCanvas(page, page_raster);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j)
      for (int sy = 0; sy < src.height; ++sy)
        for (int sx = 0; sx < src.width; ++sx) {
          const int64_t px = at.x + int64_t{j} * dx + sx, py = at.y + int64_t{i} * dy + sy;
          if (px < 0 || py < 0 || px >= page.width || py >= page.height) continue;
          std::memcpy(&page_raster.pixels[py * page_raster.stride + px * 3], &src.pixels[sy * src.stride + sx * 3], 3);
        }
  return page_raster;
}

}  // namespace

TEST(PrintImageSource, MonochromeSetBitsBecomeWhiteWithZeroPadding) {
  Fixture f;
  MemoryBitmap mono;
  // 10 pixels: row 0 = 1010 0000 01.., row 1 = 0000 0001 10..; delivered rows 4 bytes, junk after the width.
  mono.rows = {10, 2, 1, {0xA0, 0x7F, 0xFF, 0xFF, 0x01, 0x80, 0xFF, 0xFF}};
  ASSERT_EQ(f.Give(mono), 0);
  const RasterImage& s = f.image.Source();
  EXPECT_EQ(s.bitsPerPixel, 24);
  EXPECT_EQ(s.stride, 32);
  const char* expected[2] = {"1010000001", "0000000110"};
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 10; ++x) EXPECT_EQ(At(s, x, y), expected[y][x] == '1' ? kWhitePixel : Bgr{}) << x << "," << y;
    EXPECT_EQ(s.pixels[y * 32 + 30], 0);
    EXPECT_EQ(s.pixels[y * 32 + 31], 0);
  }
}

TEST(PrintImageSource, RefusesUnusableBitmapsAndAnUnconsumedSource) {
  Fixture f;
  MemoryBitmap deep = Tagged(2, 2, 1);
  deep.rows.bitCount = 32;
  EXPECT_EQ(f.Give(deep), 401);
  EXPECT_EQ(f.Give(MemoryBitmap{}), 401);  // the platform could not read it
  MemoryBitmap tooWide = Tagged(2, 2, 1);
  tooWide.rows.width = INT32_MAX;  // rows far shorter than the width claims
  EXPECT_EQ(f.Give(tooWide), 401);
  tooWide.rows.bitCount = 1;
  EXPECT_EQ(f.Give(tooWide), 401);
  MemoryBitmap noRows = Tagged(2, 2, 1);
  noRows.rows.height = 0;
  EXPECT_EQ(f.Give(noRows), 401);
  EXPECT_TRUE(f.image.Source().Empty());

  ASSERT_EQ(f.Give(Tagged(3, 2, 7)), 0);
  EXPECT_EQ(f.Give(Tagged(3, 2, 8)), 401);
  EXPECT_EQ(At(f.image.Source(), 2, 1), Tag(7, 2, 1));  // kept as delivered, padding included
  EXPECT_EQ(f.image.Source().pixels[9], 0xEE);
  ASSERT_EQ(f.image.ComposeStaticImage({0, 0}, {4, 4}, f.out), 0);
  EXPECT_EQ(f.Give(Tagged(3, 2, 8)), 0);  // consumed, so a new one is taken
}

TEST(PrintImageTiling, ClipsAtEveryEdgeOnAWhitePage) {
  Fixture f;
  ASSERT_EQ(f.Give(Tagged(4, 3, 1)), 0);
  ASSERT_EQ(f.image.ComposeStaticImage({-1, -2}, {10, 8}, f.out), 0);
  EXPECT_EQ(At(f.out, 0, 0), Tag(1, 1, 2));
  EXPECT_EQ(At(f.out, 2, 0), Tag(1, 3, 2));
  EXPECT_EQ(At(f.out, 3, 0), kWhitePixel);
  EXPECT_EQ(At(f.out, 0, 1), kWhitePixel);
  EXPECT_TRUE(f.image.Source().Empty());

  ASSERT_EQ(f.Give(Tagged(4, 3, 2)), 0);
  ASSERT_EQ(f.image.ComposeStaticImage({8, 6}, {10, 8}, f.out), 0);
  EXPECT_EQ(At(f.out, 9, 7), Tag(2, 1, 1));
  EXPECT_EQ(At(f.out, 7, 7), kWhitePixel);
  EXPECT_EQ(f.out.pixels[7 * 32 + 30], 0);  // padding after the last pixel

  EXPECT_EQ(f.image.ComposeStaticImage({0, 0}, {10, 8}, f.out), 404);  // nothing handed over
}

// The whole base page, composed window by window in bands of `bandRows` rows.
RasterImage WholeBase(Fixture& f, DotSize page, int64_t bandRows = 0) {
  RasterImage whole;
  if (!f.model.HasBase()) return whole;
  CPrintImage::CreatePageCanvas(page, whole);
  if (bandRows <= 0) bandRows = page.height;
  RasterImage band;
  for (int64_t row = 0; row < page.height; row += bandRows) {
    const int64_t rows = std::min<int64_t>(bandRows, page.height - row);
    EXPECT_EQ(f.image.ComposeWindow(f.model, {0, row, page.width, rows}, band), 0);
    EXPECT_EQ(band.width, page.width);
    EXPECT_EQ(band.height, rows);
    std::copy(band.pixels.begin(), band.pixels.end(), whole.pixels.begin() + row * whole.stride);
  }
  return whole;
}

TEST(PrintImageTiling, MatchesCopyByCopyPaintingForAnyGrid) {
  std::mt19937 random(7);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  for (int round = 0; round < 300; ++round) {
    Fixture f;
    const int w = pick(1, 6), h = pick(1, 5), rows = pick(1, 4), cols = pick(1, 4);
    const int dy = pick(-7, 7), dx = pick(-7, 7);
    const DotPoint at{pick(-8, 14), pick(-8, 14)};
    const DotSize page{pick(1, 17), pick(1, 13)};
    ASSERT_EQ(f.Give(Tagged(w, h, static_cast<uint8_t>(round))), 0);
    const RasterImage source = f.image.Source();
    ASSERT_EQ(f.LayOut(at, page, rows, cols, dy, dx), 0);
    const RasterImage expected = NaiveTiling(source, at, page, rows, cols, dy, dx);
    ASSERT_EQ(WholeBase(f, page, pick(1, 5)).pixels, expected.pixels) << "round " << round;
  }
}

TEST(PrintImageTiling, HugeOrFarOffGridsFinishAndStayCorrect) {
  Fixture f;
  // Pitch 1 over two billion rows and columns: every page pixel ends up
  // covered last by a copy whose corner lies on it.
  ASSERT_EQ(f.Base(Tagged(4, 4, 3), {100, 80}, {0, 0}, INT32_MAX, INT32_MAX, 1, 1), 0);
  EXPECT_EQ(At(WholeBase(f, {100, 80}), 99, 79), Tag(3, 0, 0));
  EXPECT_EQ(At(WholeBase(f, {100, 80}), 0, 0), Tag(3, 0, 0));

  f.Reset();
  ASSERT_EQ(f.Base(Tagged(4, 4, 4), {100, 80}, {5, 5}, INT32_MAX, INT32_MAX, 0, 0), 0);  // all on one spot
  EXPECT_EQ(At(WholeBase(f, {100, 80}), 8, 8), Tag(4, 3, 3));

  f.Reset();
  ASSERT_EQ(f.Base(Tagged(4, 4, 5), {100, 80}, {INT32_MIN, INT32_MAX}, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MIN), 0);
  RasterImage white;
  CPrintImage::CreatePageCanvas({100, 80}, white);
  EXPECT_EQ(WholeBase(f, {100, 80}).pixels, white.pixels);

  f.Reset();
  EXPECT_EQ(f.Base(Tagged(4, 4, 6), {INT32_MAX, INT32_MAX}), 404);  // no raster could hold that page
  EXPECT_FALSE(f.model.HasBase());
  EXPECT_FALSE(f.image.Source().Empty());  // a failing composition keeps its source
}

TEST(PrintImageBase, EachJobTakesItsNewSourceOrLaysTheKeptTileOverItsGrid) {
  Fixture f;
  ASSERT_EQ(f.Base(Tagged(4, 3, 1), {20, 10}), 0);
  EXPECT_EQ(f.model.Grid().cell.width, 0);
  EXPECT_EQ(f.model.Grid().cell.height, 0);
  EXPECT_EQ(At(WholeBase(f, {20, 10}), 3, 2), Tag(1, 3, 2));
  // A later job's base bitmap replaces the tile.
  ASSERT_EQ(f.Base(Tagged(5, 5, 2), {20, 10}, {3, 3}, 2, 3, 5, 6), 0);
  EXPECT_TRUE(f.image.Source().Empty());
  EXPECT_EQ(f.model.Grid().cell.width, 5);
  EXPECT_EQ(At(WholeBase(f, {20, 10}), 3 + 6, 3), Tag(2, 0, 0));
  // A job without one lays the kept tile over its own grid.
  ASSERT_EQ(f.LayOut({1, 0}, {20, 10}, 1, 1, 0, 0), 0);
  EXPECT_EQ(f.model.Grid().cell.width, 0);
  EXPECT_EQ(At(WholeBase(f, {20, 10}), 1, 0), Tag(2, 0, 0));
  EXPECT_EQ(At(WholeBase(f, {20, 10}), 9, 0), kWhitePixel);

  f.Reset();
  EXPECT_FALSE(f.model.HasBase());
  EXPECT_EQ(f.LayOut({0, 0}, {20, 10}, 1, 1, 0, 0), 404);  // nothing to lay out
  ASSERT_EQ(f.Base(Tagged(4, 3, 2), {20, 10}, {0, 0}, 2, 3, 5, 6), 0);
  EXPECT_EQ(f.model.Grid().cell.width, 4);
  EXPECT_EQ(f.model.Grid().cell.height, 3);
  // Windows reaching off the base page are white there; an empty one is empty.
  RasterImage band;
  ASSERT_EQ(f.image.ComposeWindow(f.model, {0, 7, 20, 4}, band), 0);
  EXPECT_EQ(band.width, 20);
  EXPECT_EQ(band.height, 4);
  EXPECT_EQ(At(band, 0, 0), Tag(2, 0, 2));  // page row 7: the last row of the second row of copies
  EXPECT_EQ(At(band, 0, 3), kWhitePixel);   // row 10 lies below the page
  ASSERT_EQ(f.image.ComposeWindow(f.model, {0, -1, 20, 2}, band), 0);
  EXPECT_EQ(At(band, 0, 0), kWhitePixel);
  EXPECT_EQ(At(band, 0, 1), Tag(2, 0, 0));
  ASSERT_EQ(f.image.ComposeWindow(f.model, {0, 0, 20, 0}, band), 0);
  EXPECT_TRUE(band.Empty());
  EXPECT_EQ(At(WholeBase(f, {20, 10}), 12 + 3, 5 + 2), Tag(2, 3, 2));  // row 1, column 2
}

TEST(PrintImageVariable, TheWindowCoversTheKeysRectangleOfThePageBeforeWhereverItMoved) {
  Fixture f;
  ASSERT_EQ(f.Base(Tagged(20, 12, 9), {20, 12}), 0);
  DotPoint at{-2, 3};
  ASSERT_EQ(f.Variable(Tagged(8, 5, 1), at, {20, 12}), 0);  // first: exactly the clipped image
  EXPECT_EQ(f.out.width, 6);
  EXPECT_EQ(f.out.height, 5);
  EXPECT_EQ(at.x, 0);
  EXPECT_EQ(At(f.out, 0, 0), Tag(1, 2, 0));

  f.model.BeginPage();
  at = {3, 5};  // narrower, shorter, lower and further right under the same key
  ASSERT_EQ(f.Variable(Tagged(2, 1, 2), at, {20, 12}), 0);
  EXPECT_EQ(at.x, 0);  // the old left edge
  EXPECT_EQ(at.y, 3);  // the old top
  EXPECT_EQ(f.out.width, 6);
  EXPECT_EQ(f.out.height, 5);
  EXPECT_EQ(At(f.out, 0, 0), Tag(9, 0, 3));  // above: the base
  EXPECT_EQ(At(f.out, 1, 2), Tag(9, 1, 5));  // left of the new image: the base
  EXPECT_EQ(At(f.out, 3, 2), Tag(2, 0, 0));  // the new image
  EXPECT_EQ(At(f.out, 5, 2), Tag(9, 5, 5));  // right of it
  EXPECT_EQ(At(f.out, 3, 4), Tag(9, 3, 7));  // below it

  f.model.BeginPage();
  at = {1, 6};  // further left and lower
  ASSERT_EQ(f.Variable(Tagged(3, 1, 3), at, {20, 12}), 0);
  EXPECT_EQ(at.x, 1);
  EXPECT_EQ(at.y, 5);
  EXPECT_EQ(f.out.width, 4);
  EXPECT_EQ(f.out.height, 2);
  EXPECT_EQ(At(f.out, 3, 0), Tag(9, 4, 5));
  EXPECT_EQ(At(f.out, 0, 1), Tag(3, 0, 0));

  f.model.BeginPage();
  at = {40, 40};  // off the page: nothing now, the old rectangle goes back at the close
  ASSERT_EQ(f.Variable(Tagged(2, 1, 4), at, {20, 12}), 0);
  EXPECT_TRUE(f.out.Empty());
  at = {INT32_MAX - 1, INT32_MIN};  // far positions clip without overflow
  EXPECT_EQ(f.Variable(Tagged(4, 4, 5), at, {20, 12}, 1), 0);
  EXPECT_TRUE(f.out.Empty());
  std::vector<DotRect> stale;
  f.model.TakeStaleAreas(stale);
  ASSERT_EQ(stale.size(), 1u);
  EXPECT_EQ(stale[0], (DotRect{1, 6, 3, 1}));
  f.model.TakeStaleAreas(stale);
  EXPECT_TRUE(stale.empty());  // each is handed out once
}

TEST(PrintImageVariable, WindowsBeyondTheBaseRasterAreWhiteNotFailures) {
  Fixture f;
  ASSERT_EQ(f.Base(Tagged(10, 5, 9), {10, 5}), 0);  // rows 32 bytes: 2 of padding
  DotPoint at{2, 0};
  ASSERT_EQ(f.Variable(Tagged(8, 5, 1), at, {10, 10}), 0);
  f.model.BeginPage();
  at = {6, 6};  // the window reaches below the base's last row
  ASSERT_EQ(f.Variable(Tagged(2, 1, 2), at, {10, 10}), 0);
  EXPECT_EQ(at.x, 2);
  EXPECT_EQ(at.y, 0);
  EXPECT_EQ(f.out.width, 8);
  EXPECT_EQ(f.out.height, 7);
  EXPECT_EQ(At(f.out, 0, 0), Tag(9, 2, 0));
  EXPECT_EQ(At(f.out, 7, 4), Tag(9, 9, 4));
  EXPECT_EQ(At(f.out, 0, 5), kWhitePixel);
  EXPECT_EQ(At(f.out, 4, 6), Tag(2, 0, 0));
  EXPECT_EQ(At(f.out, 6, 6), kWhitePixel);
}

TEST(PrintImageVariable, WithoutABaseTheOldAreaGoesBackToWhite) {
  Fixture f;
  DotPoint at{0, 0};
  ASSERT_EQ(f.Variable(Tagged(6, 4, 1), at, {20, 12}, 5), 0);
  f.model.BeginPage();
  ASSERT_EQ(f.Variable(Tagged(3, 4, 2), at, {20, 12}, 5), 0);
  EXPECT_EQ(f.out.width, 6);
  EXPECT_EQ(At(f.out, 0, 0), Tag(2, 0, 0));
  EXPECT_EQ(At(f.out, 4, 0), kWhitePixel);
  f.Reset();
  EXPECT_EQ(f.PlaceSource(at, {20, 12}, 5), 405);  // empty source
}

TEST(PrintImageText, RendersThroughTheRendererAndPlacesLikeAVariable) {
  Fixture f;
  DotPoint at{30, 40};
  EXPECT_EQ(f.Text(at, {100, 100}, u"x", -1, u"Face", 0, 0), 402);
  EXPECT_EQ(f.Text(at, {100, 100}, u"abc", 20, u"Face", 45, 0), 406);
  EXPECT_EQ(at.x, 30);
  EXPECT_TRUE(f.image.Source().Empty());

  ASSERT_EQ(f.Text(at, {100, 100}, u"abc", 20, u"Face", 90, 0), 0);
  EXPECT_EQ(f.out.width, 10);
  EXPECT_EQ(f.out.height, 24);
  EXPECT_EQ(at.y, 16);
  EXPECT_TRUE(f.image.Source().Empty());

  // An empty text sends nothing: the earlier image must not be left to resend.
  EXPECT_EQ(f.Text(at, {100, 100}, u"", 20, u"Face", 0, 1), 0);
  EXPECT_TRUE(f.out.Empty());
  EXPECT_EQ(f.text.rendered.size(), 2u);
  // Nor does it take the place of the bitmap waiting for its reference.
  ASSERT_EQ(f.Give(Tagged(4, 2, 9)), 0);
  EXPECT_EQ(f.Text(at, {100, 100}, u"", 20, u"Face", 0, 1), 0);
  EXPECT_EQ(f.image.Source().width, 4);
}
