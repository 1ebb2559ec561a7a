// CPrinterLedger: what the printer holds of the page being assembled.
//
// The printer keeps the last printed page and starts the next one from it,
// so every window sent must carry exactly what the composed page holds
// there: the base (white when the job has sent none), then every element
// placed on this page so far, in order. The ledger keeps those elements,
// what the page before held, and what this page has sent. It decides which
// areas must be sent again: the window of a field (its new rectangle
// widened over the one its key held on the page before) and, at the page's
// close, whatever the page before held that this page has neither sent
// again nor covered. The base under the elements is the image's business.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/geometry.h"
#include "platform/raster_image.h"

// True when the rectangles together cover all of `area`. Gives up (false)
// on a pile of pieces too large to sort out: the caller then sends the area
// again, which is never wrong.
bool CoveredBy(const DotRect& area, const std::vector<DotRect>& cover);

class CPrinterLedger {
 public:
  // Pixel bytes the elements of one page may hold before they are painted
  // together into one page of pixels.
  static constexpr int64_t kPlacedBytesBudget = int64_t{64} << 20;
  explicit CPrinterLedger(int64_t placedBytesBudget = kPlacedBytesBudget) : placedBytesBudget_(placedBytesBudget) {}

  // A new job: whatever the pages of an earlier job held is forgotten.
  void BeginJob();
  // A new page: what the finished page held becomes the page before.
  void BeginPage();

  // The window to send for a field placed at `placed` under `key`: the
  // rectangle, widened to cover what the same key held on the page before,
  // so that whatever the new image leaves of the old one goes back to the
  // page. That earlier rectangle is then no longer left to the page's close.
  DotRect FieldWindow(const DotRect& placed, int32_t key);
  // A new image element of `rect` under `key`, on top of everything placed
  // so far. Its pixels (exactly those of `rect`) are filled by the caller in
  // the raster returned; it shows only once ShowImage is called, so an
  // element whose pixels could not be stored is never painted.
  RasterImage& AddImage(const DotRect& rect, int32_t key);
  // Shows the element just added, on `page`. Returns its pixels while the
  // ledger still holds them on their own, or null once they have been
  // painted into the flat page.
  const RasterImage* ShowImage(DotSize page);
  // White over the page being assembled, on top of everything placed so far.
  void PlaceWhite(const WhiteArea& area);

  // Paints everything placed on this page over `out`, which holds the page
  // under them in `window` (rows `out.stride` bytes apart, `window`'s size).
  void PaintOver(const DotRect& window, RasterImage& out) const;

  // The printer now holds the composed page in `window`.
  void NoteSent(const DotRect& window, DotSize page);
  // What the page before held that this page has neither sent again nor
  // covered: the areas to send at the page's close. Each is returned once.
  void TakeStaleAreas(std::vector<DotRect>& out);

 private:
  static constexpr int32_t kNoKey = -1;
  // One element placed on the page being assembled.
  struct PlacedItem {
    DotRect rect;
    int32_t key = kNoKey;
    bool white = false;
    bool hidden = false;  // wholly covered by a later element, or painted into the flat page
    RasterImage pixels;   // an image: exactly the pixels of `rect`
    WhiteArea whiteArea;  // white cells
  };
  // What an element of the page before covered.
  struct EarlierItem {
    DotRect rect;
    int32_t key = kNoKey;
    bool handled = false;  // sent again on this page
  };
  PlacedItem& NewItem(const DotRect& rect, int32_t key);
  void HideCoveredBy(const DotRect& rect);
  void PaintItems(const DotRect& window, RasterImage& out) const;
  // Calls run(row, left, right) for each run of page pixels [left, right) in
  // `row` that `item` covers inside `window`.
  template <typename Run>
  static void ForEachRun(const PlacedItem& item, const DotRect& window, Run&& run);
  // Paints every element placed so far into one page of pixels with a mask
  // of what they cover, and drops their own pixels: however many large
  // images a page takes, it holds at most one page of them.
  void FlattenPlaced();
  void DropFlatPage();

  int64_t placedBytesBudget_;
  std::vector<PlacedItem> items_;  // storage reused from page to page
  size_t itemCount_ = 0;
  int64_t placedBytes_ = 0;        // pixels the placed elements hold
  DotSize placedPage_;             // the page they were placed on
  RasterImage flatPage_;           // elements painted together, once they hold too much
  std::vector<uint8_t> flatMask_;  // 1 where flatPage_ holds an element's pixel
  std::vector<EarlierItem> earlier_;
  std::vector<DotRect> sent_;
  bool pageSent_ = false;  // the whole page went out on this page
};
