// CPrintImage: the label raster. Holds the host's latest bitmap (the source),
// the base image composed once per job, and the rectangle each variable
// element last covered, and composes page images and variable rectangles.
//
// The base image is kept as what it is made of: the tile and the grid it was
// tiled over on a white page. Any window of it (a band to send, a restore
// strip) is composed on demand, so a job never holds the 68 MB of a full
// page nor pays for first touching that much memory.
#pragma once
#include <cstdint>
#include <map>
#include <string_view>
#include <utility>

#include "output/raster_image.h"
#include "platform/host_bitmap.h"
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

class CPrintImage {
 public:
  explicit CPrintImage(TextRenderer& text) : text_(text) {}
  virtual ~CPrintImage() = default;
  CPrintImage(const CPrintImage&) = delete;
  CPrintImage& operator=(const CPrintImage&) = delete;

  // Reads the host's bitmap into the source raster: 401 when it cannot be read,
  // is neither 1 nor 24 bits per pixel, or the previous source is not consumed.
  ResultCode SetSourceBitmap(HostBitmap& bitmap);

  // Composes the base image once (the source tiled over the grid on a white
  // page; the source becomes its tile) and empties the source. Its pixels are
  // then read with ComposeBaseRows.
  ResultCode ComposeBaseImage(RasterPoint position, PageSize page, int32_t rows, int32_t columns,
                              int32_t verticalPitch, int32_t horizontalPitch);
  // Page rows [firstRow, firstRow + rowCount) of the base image, full width,
  // into `out`. 404 when no base image is composed or the rows are off its page.
  ResultCode ComposeBaseRows(int64_t firstRow, int64_t rowCount, RasterImage& out) const;
  bool HasBase() const { return !baseTile_.Empty(); }
  // Places the source once on a white page.
  ResultCode ComposeStaticImage(RasterPoint position, PageSize page, RasterImage& out);
  // Cuts the source to the page, widens it by restore strips over the key's
  // previous rectangle and moves `position` to the output's top-left corner.
  ResultCode ComposeVariableImage(RasterPoint& position, PageSize page, RasterImage& out, int32_t key);
  ResultCode ComposeTextImage(RasterPoint& position, PageSize page, const char16_t* text, int32_t fontHeight,
                              const char16_t* faceName, int32_t rotation, RasterImage& out, int32_t key);
  void Reset();
  // Forgets a source that was never placed.
  void DropSource() { source_.Clear(); }

  // A white raster of the page size (padding 0); an empty raster for a page
  // without area. Throws std::bad_alloc for a page no raster can hold.
  static void CreatePageCanvas(PageSize page, RasterImage& out);

  TileSize GetTileSize() const { return tileSize_; }
  const RasterImage& Source() const { return source_; }

 private:
  struct AreaSize {
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
  };

  // How copies of a tile lie on a white page: the base image's grid, or a
  // single copy for the static image.
  struct TileGrid {
    RasterPoint position;
    PageSize page;
    int32_t rows = 0;
    int32_t columns = 0;
    int32_t verticalPitch = 0;
    int32_t horizontalPitch = 0;
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
  bool CopyRestoreBlock(int64_t row, int64_t column, int64_t rows, int64_t columns, RasterImage& out,
                        int64_t toRow, int64_t toByte);

  // Remembers the rectangle element `key` covered last.
  void RememberArea(int32_t key, AreaSize size, RasterPoint position);

  TextRenderer& text_;
  RasterImage source_;
  RasterImage baseTile_;  // the source the base image was tiled from; empty when there is none
  TileGrid baseGrid_;
  RasterImage strip_;  // a restore block of the base, composed before it is copied
  std::map<int32_t, AreaSize> areaSizes_;
  std::map<int32_t, RasterPoint> areaPositions_;
  TileSize tileSize_;
  RasterImage rendered_;  // a message text, drawn here before it becomes the source
};

// Expands 1-bit rows (set bits white, clear bits black) into a 24-bit raster
// with zero padding. Leaves `out` empty when the rows cannot be a 1-bit image
// of their width and height, or the raster would be too large to hold.
void ExpandMonochrome(const DibRows& rows, RasterImage& out);
