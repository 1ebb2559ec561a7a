// CPrintImage: the label raster. Holds the host's latest bitmap (the source)
// and the base image of the job, and composes page images and the windows to
// send: the base, with what the ledger says the page holds on top of it.
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

#include "output/printer_ledger.h"
#include "platform/host_bitmap.h"
#include "platform/raster_image.h"
#include "platform/result_codes.h"
#include "platform/text_renderer.h"

struct TileSize {
  int32_t width = 0;
  int32_t height = 0;
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

  // Lays out the job's base image: records the tile and the grid it is tiled
  // over on a white page. The source becomes the tile (and is emptied), or,
  // without a source, the tile kept from an earlier job is laid over this
  // grid. 404 when there is neither or the page is too large. Nothing is
  // composed here; ComposeWindow composes any window of it on demand.
  // The pitches are 64-bit: a layout's pitch turned by the rotation may be
  // 2^31 dots, and the white cells of the same grid are laid out with it.
  ResultCode LayOutBase(RasterPoint position, PageSize page, int32_t rows, int32_t columns, int64_t verticalPitch,
                        int64_t horizontalPitch);
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
  // The composed page in `window` (cut to the page): the base, or white
  // while the job has none, with everything placed on this page on top.
  ResultCode ComposeWindow(const PageRect& window, RasterImage& out);
  // What the printer holds of the page being assembled: the elements placed
  // on it and what was sent. Pages begin, white is placed, windows are noted
  // as sent and stale areas are taken there.
  CPrinterLedger& Ledger() { return ledger_; }

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

  // A window of the tiled page: white, with every copy of the tile that
  // reaches it, later copies over earlier ones. 404 when a copy would leave
  // its pixel arrays.
  static ResultCode PlaceTiled(const RasterImage& tile, const TileGrid& grid, const PageRect& window, RasterImage& out);
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

  CPrinterLedger ledger_;
  RasterImage rendered_;  // a message text, drawn here before it becomes the source
};

// Expands 1-bit rows (set bits white, clear bits black) into a 24-bit raster
// with zero padding. Leaves `out` empty when the rows cannot be a 1-bit image
// of their width and height, or the raster would be too large to hold.
void ExpandMonochrome(const DibRows& rows, RasterImage& out);
