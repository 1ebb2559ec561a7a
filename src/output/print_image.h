// CPrintImage: the label raster. Holds the host's latest bitmap (the source),
// cuts it to the page for the engine to place, and composes the windows to
// send: the page model's base tile tiled over its grid, with what the page
// model holds on top of it.
//
// The base image is kept as what it is made of: the tile and the grid it is
// tiled over on a white page. Any window of it (a band to send, a restore
// strip) is composed on demand, so a job never holds the 68 MB of a full
// page nor pays for first touching that much memory.
#pragma once
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "output/page_model.h"
#include "platform/host_bitmap.h"
#include "platform/raster_image.h"
#include "platform/result_codes.h"
#include "platform/text_renderer.h"

class CPrintImage {
 public:
  explicit CPrintImage(TextRenderer& text) : text_(text) {}
  virtual ~CPrintImage() = default;
  CPrintImage(const CPrintImage&) = delete;
  CPrintImage& operator=(const CPrintImage&) = delete;

  // Reads the host's bitmap into the source raster: 401 when it cannot be read,
  // is neither 1 nor 24 bits per pixel, or the previous source is not consumed.
  ResultCode SetSourceBitmap(HostBitmap& bitmap);

  // Hands the source over as `into` (its pixels swapped, not copied) and
  // empties it; false, leaving `into` alone, when there is no well-formed source.
  bool TakeSource(RasterImage& into);
  // Whether a page of `size` can be held in one raster: a window of it can be composed.
  static bool PageFits(DotSize size);
  // Places the source once on a white page.
  ResultCode ComposeStaticImage(DotPoint position, DotSize page, RasterImage& out);
  // The source at `position`, cut to the page: `placed` is the rectangle it
  // covers there and `pixels` exactly its pixels. A source that misses the
  // page gives an empty `placed`. The source is emptied; 405 when there is none.
  ResultCode CutSourceToPage(DotPoint position, DotSize page, DotRect& placed, RasterImage& pixels);
  // Renders a clock's text into the source, moving `position` to the text's
  // top-left corner on the page; `drawn` tells whether it did. A text that
  // prints nothing (empty, or without extent) leaves the source, and the
  // bitmap waiting in it, as it was; one that prints takes its place. 402
  // for a negative height; 406, 407 from the renderer, which leave the
  // source as it was.
  ResultCode RenderTextSource(DotPoint& position, std::u16string_view text, int32_t fontHeight,
                              std::u16string_view faceName, int32_t rotation, bool& drawn);
  // Forgets the source, the text drawn and the restore strip.
  void Reset();
  // Drops the bitmap waiting to be placed.
  void DropSource() { source_.Clear(); }
  // A new job: the source is dropped.
  void BeginJob();
  // The composed page in `window` (cut to the page): the base, or white
  // while the job's pages lie on none, with everything placed on `page` on top.
  ResultCode ComposeWindow(const PageModel& page, const DotRect& window, RasterImage& out);

  // A white raster of the page size (padding 0); an empty raster for a page
  // without area. Throws std::bad_alloc for a page no raster can hold.
  static void CreatePageCanvas(DotSize page, RasterImage& out);

  const RasterImage& Source() const { return source_; }

 private:
  // A window of the tiled page: white, with every copy of the tile that
  // reaches it, later copies over earlier ones. 404 when a copy would leave
  // its pixel arrays.
  static ResultCode PlaceTiled(const RasterImage& tile, const BaseGrid& grid, const DotRect& window, RasterImage& out);
  // `rows` x `columns` pixels of the base from page row `row` and column
  // `column` on, written from `toByte` of `out`'s row `toRow` down; white
  // where the base page has no pixels. False when the output cannot take them.
  bool CopyRestoreBlock(const RasterImage& tile, const BaseGrid& grid, int64_t row, int64_t column, int64_t rows,
                        int64_t columns, RasterImage& out, int64_t toRow, int64_t toByte);

  TextRenderer& text_;
  RasterImage source_;
  RasterImage strip_;     // a block of the base, composed before it is copied
  RasterImage rendered_;  // a message text, drawn here before it becomes the source
};

// Expands 1-bit rows (set bits white, clear bits black) into a 24-bit raster
// with zero padding. 401, leaving `out` empty, when the rows cannot be a
// 1-bit image of their width and height or the raster would be too large to hold.
[[nodiscard]] ResultCode ExpandMonochrome(const DibRows& rows, RasterImage& out);
