// CPrintImage: the label raster. Holds the host's latest bitmap (the source),
// the base image of the job, and what the page being assembled holds on top
// of the base (the variable images and white cells placed so far, and what
// the page before held), and composes page images and the windows to send.
//
// The printer keeps the last printed page and starts the next one from it,
// so every window sent must carry exactly what the composed page holds
// there: the base (white when the job has sent none), then every element
// placed on this page so far, in order. Whatever the page before held and
// this page has not covered yet is sent back to that at the page's close.
//
// The base image is kept as what it is made of: the tile and the grid it was
// tiled over on a white page. Any window of it (a band to send, a restore
// strip) is composed on demand, so a job never holds the 68 MB of a full
// page nor pays for first touching that much memory.
#pragma once
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/host_bitmap.h"
#include "platform/raster_image.h"
#include "platform/result_codes.h"
#include "platform/text_renderer.h"

struct PageSize {
  int32_t width = 0;
  int32_t length = 0;
};

struct TileSize {
  int32_t width = 0;
  int32_t height = 0;
};

// A rectangle of the page in dots: [x, x + width) x [y, y + height).
struct PageRect {
  int64_t x = 0;
  int64_t y = 0;
  int64_t width = 0;
  int64_t height = 0;

  bool Empty() const { return width <= 0 || height <= 0; }
  int64_t Right() const { return x + width; }
  int64_t Bottom() const { return y + height; }
  bool Contains(const PageRect& other) const {
    return !other.Empty() && other.x >= x && other.y >= y && other.Right() <= Right() && other.Bottom() <= Bottom();
  }
  bool operator==(const PageRect&) const = default;
};

PageRect Intersection(const PageRect& a, const PageRect& b);
// The smallest rectangle holding both; an empty one counts for nothing.
PageRect BoundingBox(const PageRect& a, const PageRect& b);
// True when the rectangles together cover all of `area`. Gives up (false)
// on a pile of pieces too large to sort out: the caller then sends the area
// again, which is never wrong.
bool CoveredBy(const PageRect& area, const std::vector<PageRect>& cover);

// Half-open run [begin, end) along one axis.
struct Interval {
  int64_t begin = 0;
  int64_t end = 0;
};

// White over the page: every run of `columns` crossed with every run of
// `rows`. One rectangle is one run each; the cells of a dense layout are a
// few runs each however many cells there are.
struct WhiteArea {
  std::vector<Interval> columns;
  std::vector<Interval> rows;
  PageRect Bounds() const;
};

class CPrintImage {
 public:
  explicit CPrintImage(TextRenderer& text) : text_(text) {}
  virtual ~CPrintImage() = default;
  CPrintImage(const CPrintImage&) = delete;
  CPrintImage& operator=(const CPrintImage&) = delete;

  // Reads the host's bitmap into the source raster: 401 when it cannot be read,
  // is neither 1 nor 24 bits per pixel, or the previous source is not consumed.
  ResultCode SetSourceBitmap(HostBitmap& bitmap);

  // Composes the job's base image: the source tiled over the grid on a white
  // page (the source becomes its tile, and is emptied), or, without a source,
  // the tile kept from an earlier job laid over this grid. 404 when there is
  // neither or the page is too large. Its pixels are read with
  // ComposeBaseRows, or with ComposeWindow together with what lies on it.
  // The pitches are 64-bit: a layout's pitch turned by the rotation may be
  // 2^31 dots, and the white cells of the same grid are laid out with it.
  ResultCode ComposeBaseImage(RasterPoint position, PageSize page, int32_t rows, int32_t columns, int64_t verticalPitch,
                              int64_t horizontalPitch);
  // Page rows [firstRow, firstRow + rowCount) of the base image, full width,
  // into `out`. 404 when no base image is composed or the rows are off its page.
  ResultCode ComposeBaseRows(int64_t firstRow, int64_t rowCount, RasterImage& out) const;
  bool HasBase() const { return !baseTile_.Empty(); }
  // Places the source once on a white page.
  ResultCode ComposeStaticImage(RasterPoint position, PageSize page, RasterImage& out);
  // Cuts the source to the page and places it on the page being assembled.
  // `out` is the window to send: the image, widened to cover the rectangle
  // the same key held on the page before, with the page's content where the
  // image does not reach. `position` moves to the window's top-left corner.
  // A source that misses the page gives an empty `out`; the key's earlier
  // rectangle is then left to the page's close.
  ResultCode ComposeVariableImage(RasterPoint& position, PageSize page, RasterImage& out, int32_t key);
  ResultCode ComposeTextImage(RasterPoint& position, PageSize page, const char16_t* text, int32_t fontHeight,
                              const char16_t* faceName, int32_t rotation, RasterImage& out, int32_t key);
  // Forgets the base image, the source and everything placed.
  void Reset();
  // Drops the bitmap waiting to be placed.
  void DropSource() { source_.Clear(); }
  // Forgets the base tile; what the pages placed and the printer holds stays.
  // For a job none of whose pages lie on the base.
  void ForgetKeptBase();

  // A new job: the source and whatever the pages of an earlier job held are
  // dropped; the base tile is kept for a job that sends none, but nothing
  // is composed from it until the job's first base reference lays it out.
  void BeginJob();
  // A new page: what the finished page held becomes the page before.
  void BeginPage();
  // White over the page being assembled, on top of everything placed so far.
  void PlaceWhite(const WhiteArea& area);
  // The composed page in `window` (cut to the page): the base, or white
  // while the job has none, with everything placed on this page on top.
  ResultCode ComposeWindow(const PageRect& window, RasterImage& out);
  // The printer now holds the composed page in `window`.
  void NoteSent(const PageRect& window, PageSize page);
  // What the page before held that this page has neither sent again nor
  // covered: the areas to send at the page's close. Each is returned once.
  void TakeStaleAreas(std::vector<PageRect>& out);

  // A white raster of the page size (padding 0); an empty raster for a page
  // without area. Throws std::bad_alloc for a page no raster can hold.
  static void CreatePageCanvas(PageSize page, RasterImage& out);

  TileSize GetTileSize() const { return tileSize_; }
  const RasterImage& Source() const { return source_; }

 private:
  // How copies of a tile lie on a white page: the base image's grid, or a
  // single copy for the static image.
  struct TileGrid {
    RasterPoint position;
    PageSize page;
    int32_t rows = 0;
    int32_t columns = 0;
    int64_t verticalPitch = 0;
    int64_t horizontalPitch = 0;
  };
  struct Window {
    int64_t x = 0;
    int64_t y = 0;
    int64_t width = 0;
    int64_t height = 0;
  };

  // A window of the tiled page: white, with every copy of the tile that
  // reaches it, later copies over earlier ones. 404 when a copy would leave
  // its pixel arrays.
  static ResultCode PlaceTiled(const RasterImage& tile, const TileGrid& grid, Window window, RasterImage& out);
  // `rows` x `columns` pixels of the base from page row `row` and column
  // `column` on, written from `toByte` of `out`'s row `toRow` down; white
  // where the base page has no pixels. False when the output cannot take them.
  bool CopyRestoreBlock(int64_t row, int64_t column, int64_t rows, int64_t columns, RasterImage& out, int64_t toRow,
                        int64_t toByte);

  TextRenderer& text_;
  RasterImage source_;
  RasterImage baseTile_;  // the source the base image was tiled from; empty when there is none
  TileGrid baseGrid_;
  RasterImage strip_;  // a block of the base, composed before it is copied
  TileSize tileSize_;
  bool baseActive_ = false;  // the base belongs to this job: pages are composed on it

  static constexpr int32_t kNoKey = -1;
  // One element placed on the page being assembled.
  struct PlacedItem {
    PageRect rect;
    int32_t key = kNoKey;
    bool white = false;
    bool hidden = false;  // wholly covered by a later element, or painted into the flat page
    RasterImage pixels;   // an image: exactly the pixels of `rect`
    WhiteArea whiteArea;  // white cells
  };
  // What an element of the page before covered.
  struct EarlierItem {
    PageRect rect;
    int32_t key = kNoKey;
    bool handled = false;  // sent again on this page
  };
  PlacedItem& NewItem(const PageRect& rect, int32_t key);
  void HideCoveredBy(const PageRect& rect);
  void PaintItems(const PageRect& window, RasterImage& out) const;
  // Calls run(row, left, right) for each run of page pixels [left, right) in
  // `row` that `item` covers inside `window`.
  template <typename Run>
  static void ForEachRun(const PlacedItem& item, const PageRect& window, Run&& run);
  // Paints every element placed so far into one page of pixels with a mask
  // of what they cover, and drops their own pixels: however many large
  // images a page takes, it holds at most one page of them.
  void FlattenPlaced();
  void DropFlatPage();

  std::vector<PlacedItem> items_;  // storage reused from page to page
  size_t itemCount_ = 0;
  int64_t placedBytes_ = 0;        // pixels the placed elements hold
  PageSize placedPage_;            // the page they were placed on
  RasterImage flatPage_;           // elements painted together, once they hold too much
  std::vector<uint8_t> flatMask_;  // 1 where flatPage_ holds an element's pixel
  std::vector<EarlierItem> earlier_;
  std::vector<PageRect> sent_;
  bool pageSent_ = false;  // the whole page went out on this page
  RasterImage rendered_;   // a message text, drawn here before it becomes the source
};

// Expands 1-bit rows (set bits white, clear bits black) into a 24-bit raster
// with zero padding. Leaves `out` empty when the rows cannot be a 1-bit image
// of their width and height, or the raster would be too large to hold.
void ExpandMonochrome(const DibRows& rows, RasterImage& out);
