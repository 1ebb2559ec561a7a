// PageModel: the page a job assembles. It owns the base (its tile and the
// grid it is laid out on), the job's and the page's counts, and, in its
// ledger, what the printer holds. The job engine changes it with the verbs
// of a page: lay out the base, begin a page, place an image or white, note
// what was sent, take the areas left stale, forget the base. CPrintImage
// reads it to compose a window of the page.
#pragma once
#include <cstdint>
#include <vector>

#include "output/printer_ledger.h"
#include "platform/raster_image.h"
#include "platform/text_renderer.h"

// How the base's copies lie on the page, recorded when the base is laid out:
// `outerCount` lines stepping `outerStep` along y, each of `innerCount`
// copies stepping `innerStep` along x, from `origin` (the first copy's
// top-left corner, the adjustment included). The white cells of a page's
// close are placed on this grid, so they lie on the base's copies whatever
// the stored adjustment or the layout does after it.
struct BaseGrid {
  DotPoint origin;
  DotSize page;
  int32_t outerCount = 0;
  int32_t innerCount = 0;
  int64_t outerStep = 0;
  int64_t innerStep = 0;
  // The layout's cell index of outer j, inner i: j × columns + i, or
  // i × columns + j when the layout's columns run along y.
  bool columnsOuter = false;
  int64_t columns = 0;
  // One cell: the tile's size when the grid has more than one copy, else
  // nothing (and no cell is ever blanked).
  DotSize cell;

  int64_t CellIndex(int64_t j, int64_t i) const { return columnsOuter ? i * columns + j : j * columns + i; }
  // Whether `other` numbers and steps its cells alike (wherever it starts).
  bool SameCells(const BaseGrid& other) const {
    return page == other.page && outerCount == other.outerCount && innerCount == other.innerCount &&
           outerStep == other.outerStep && innerStep == other.innerStep && columnsOuter == other.columnsOuter &&
           columns == other.columns;
  }
};

class PageModel {
 public:
  // A new job: whatever the pages of an earlier job held and counted is
  // forgotten, and the base too when a clear came after the last job laid
  // it out. Otherwise the base stays for a job that sends none, but no page
  // lies on it until the job lays it out again.
  void BeginJob();
  // A new page: what the finished page held becomes the page before, and
  // the page's counts start again.
  void BeginPage() {
    shown_ = nullptr;
    pageBaseRefers_ = 0;
    variableKey_ = 0;
    ledger_.BeginPage();
  }
  // The printer now holds a page of something else (the error print-out):
  // nothing of what it held for the pages is known any more.
  void ForgetPrinted();

  // The base: the tile and the grid it is laid out on.
  bool HasBase() const { return !tile_.Empty(); }
  const RasterImage& Tile() const { return tile_; }
  const BaseGrid& Grid() const { return grid_; }
  // The job's pages lie on the base tiled over `grid` from now on: `tile`
  // (its pixels taken over) is a new design, or, null, the kept tile is
  // laid out again. One cell is the tile's size where the grid has more
  // than one copy. False, changing nothing, when there is no tile.
  bool LayOutBase(BaseGrid grid, RasterImage* tile);
  // The base is gone, tile and grid: pages lie on white and no cell is blanked.
  void ForgetBase();
  // Whether this job's pages lie on the base (else on white).
  bool OnBase() const { return onBase_; }
  // The host's clear. A base this job laid out stays under its pages until
  // the job ends (ClearedSinceBase); one no page of the job lies on goes now.
  void Clear();
  bool ClearedSinceBase() const { return clearedSinceBase_; }

  // The counts of the job and of the page.
  void CountBaseReference() {
    ++jobBaseRefers_;
    ++pageBaseRefers_;
  }
  int32_t JobBaseReferences() const { return jobBaseRefers_; }
  int32_t PageBaseReferences() const { return pageBaseRefers_; }
  // The key of the page's next variable element (a bitmap or a clock).
  int32_t VariableKey() const { return variableKey_; }
  void NextVariableKey() { ++variableKey_; }

  // An image element of `placed` under `key`, its pixels in `pixels` (taken
  // over; `pixels` receives storage to reuse). Returns the window to send:
  // `placed`, widened over what the key held on the page before.
  DotRect PlaceImage(const DotRect& placed, int32_t key, RasterImage& pixels, DotSize page);
  // The pixels of the image just placed while they are held on their own
  // (then the window of an image that widens nothing is those pixels), or null.
  const RasterImage* PlacedPixels() const { return shown_; }
  // White over everything placed so far.
  void PlaceWhite(const WhiteArea& area);
  // The white the cells from `firstCell` on make on `grid`, cut to `page`:
  // one rectangle per cell in `cells` while the cells lie apart and are
  // few; otherwise, in `merged`, the few runs they make together.
  static void WhiteCells(const BaseGrid& grid, int64_t firstCell, DotSize page, std::vector<DotRect>& cells,
                         std::vector<WhiteArea>& merged);

  // The printer now holds the composed page in `window`.
  void NoteSent(const DotRect& window, DotSize page);
  // Whether this job has sent a whole page: until it has, the printer may
  // still hold an earlier job's page.
  bool JobCoveredPage() const { return jobCoveredPage_; }
  // What the page before held that this page has neither sent again nor
  // covered: the areas to send at the page's close.
  void TakeStaleAreas(std::vector<DotRect>& out) { ledger_.TakeStaleAreas(out); }

  // Paints everything placed on this page over `out`, which holds the page
  // under them in `window`.
  void PaintOver(const DotRect& window, RasterImage& out) const { ledger_.PaintOver(window, out); }

 private:
  CPrinterLedger ledger_;  // what the printer holds, and what this page placed
  RasterImage tile_;       // the base's tile; empty when there is none
  BaseGrid grid_;
  bool onBase_ = false;
  bool jobCoveredPage_ = false;
  const RasterImage* shown_ = nullptr;
  int32_t jobBaseRefers_ = 0;
  int32_t pageBaseRefers_ = 0;
  bool clearedSinceBase_ = false;
  int32_t variableKey_ = 0;
};
