#include "output/printer_ledger.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace {

constexpr uint8_t kWhite = 0xFF;

}  // namespace

void CPrinterLedger::BeginJob() {
  itemCount_ = 0;
  earlier_.clear();
  sent_.clear();
  pageSent_ = false;
  DropFlatPage();
}

void CPrinterLedger::BeginPage() {
  earlier_.clear();
  for (size_t i = 0; i < itemCount_; ++i) earlier_.push_back({items_[i].rect, items_[i].key, false});
  itemCount_ = 0;
  sent_.clear();
  pageSent_ = false;
  DropFlatPage();
}

void CPrinterLedger::DropFlatPage() {
  placedBytes_ = 0;
  if (flatPage_.pixels.empty()) return;
  // A page of pixels is not kept from page to page: it is only needed on the
  // rare page that holds that many images.
  flatPage_ = RasterImage();
  flatMask_ = std::vector<uint8_t>();
}

void CPrinterLedger::FlattenPlaced() {
  const DotSize page = placedPage_;
  if (page.width <= 0 || page.height <= 0) return;
  const DotRect whole = WholePage(page);
  if (flatPage_.pixels.empty()) {
    // Only the pixels the mask marks are ever read, so the page starts as
    // zeroes. Both or neither: the mask is read wherever the page has pixels.
    std::vector<uint8_t> mask(static_cast<size_t>(page.width) * static_cast<size_t>(page.height), 0);
    SetUpRasterOrThrow(flatPage_, page.width, page.height, RasterFill::kZero);
    flatMask_ = std::move(mask);
  }
  // Painted into the flat page in their order; the mask marks each pixel.
  PaintItems(whole, flatPage_);
  for (size_t n = 0; n < itemCount_; ++n) {
    PlacedItem& item = items_[n];
    if (item.hidden) continue;
    ForEachRun(item, whole, [&](int64_t row, int64_t left, int64_t right) {
      std::memset(&flatMask_[static_cast<size_t>(row * page.width + left)], 1, static_cast<size_t>(right - left));
    });
    item.hidden = true;
    item.pixels.Clear();
  }
  placedBytes_ = 0;
}

CPrinterLedger::PlacedItem& CPrinterLedger::NewItem(const DotRect& rect, int32_t key) {
  if (itemCount_ == items_.size()) items_.emplace_back();
  PlacedItem& item = items_[itemCount_++];
  item.rect = rect;
  item.key = key;
  item.white = false;
  // Shown only once its pixels are in place: an element whose pixels could
  // not be stored (memory ran out) is never painted.
  item.hidden = true;
  item.pixels.Clear();
  item.whiteArea.columns.clear();
  item.whiteArea.rows.clear();
  return item;
}

void CPrinterLedger::HideCoveredBy(const DotRect& rect) {
  // An element wholly under a later one never shows again: its pixels are
  // not needed, and dropping them keeps a page of many large images small.
  for (size_t i = 0; i + 1 < itemCount_; ++i) {
    PlacedItem& item = items_[i];
    if (!item.hidden && rect.Contains(item.rect)) {
      item.hidden = true;
      placedBytes_ -= static_cast<int64_t>(item.pixels.pixels.size());
      item.pixels.Clear();
    }
  }
}

DotRect CPrinterLedger::FieldWindow(const DotRect& placed, int32_t key) {
  DotRect window = placed;
  for (EarlierItem& earlier : earlier_) {
    if (earlier.key != key || earlier.handled) continue;
    window = BoundingBox(window, earlier.rect);
    earlier.handled = true;
    break;
  }
  return window;
}

RasterImage& CPrinterLedger::AddImage(const DotRect& rect, int32_t key) { return NewItem(rect, key).pixels; }

const RasterImage* CPrinterLedger::ShowImage(DotSize page) {
  if (itemCount_ == 0) return nullptr;
  PlacedItem& item = items_[itemCount_ - 1];
  HideCoveredBy(item.rect);
  item.hidden = false;
  placedPage_ = page;
  placedBytes_ += static_cast<int64_t>(item.pixels.pixels.size());
  if (placedBytes_ > placedBytesBudget_) FlattenPlaced();
  return item.hidden ? nullptr : &item.pixels;
}

void CPrinterLedger::PlaceWhite(const WhiteArea& area) {
  const DotRect bounds = area.Bounds();
  if (bounds.Empty()) return;
  PlacedItem& item = NewItem(bounds, kNoKey);
  item.white = true;
  item.whiteArea = area;
  item.hidden = false;
  if (area.columns.size() == 1 && area.rows.size() == 1) HideCoveredBy(bounds);
}

template <typename Run>
void CPrinterLedger::ForEachRun(const PlacedItem& item, const DotRect& window, Run&& run) {
  const DotRect common = Intersection(item.rect, window);
  if (common.Empty()) return;
  if (!item.white) {
    for (int64_t row = common.y; row < common.Bottom(); ++row) run(row, common.x, common.Right());
    return;
  }
  for (const Interval& rows : item.whiteArea.rows) {
    for (int64_t row = std::max(rows.begin, common.y); row < std::min(rows.end, common.Bottom()); ++row) {
      for (const Interval& columns : item.whiteArea.columns) {
        const int64_t left = std::max(columns.begin, common.x);
        const int64_t right = std::min(columns.end, common.Right());
        if (left < right) run(row, left, right);
      }
    }
  }
}

void CPrinterLedger::PaintItems(const DotRect& window, RasterImage& out) const {
  for (size_t n = 0; n < itemCount_; ++n) {
    const PlacedItem& item = items_[n];
    if (item.hidden) continue;
    ForEachRun(item, window, [&](int64_t row, int64_t left, int64_t right) {
      uint8_t* to = out.pixels.data() + (row - window.y) * out.stride + (left - window.x) * kBytesPerPixel;
      const auto bytes = static_cast<size_t>((right - left) * kBytesPerPixel);
      if (item.white) {
        std::memset(to, kWhite, bytes);
      } else {
        std::memcpy(to,
                    item.pixels.pixels.data() + (row - item.rect.y) * item.pixels.stride +
                        (left - item.rect.x) * kBytesPerPixel,
                    bytes);
      }
    });
  }
}

void CPrinterLedger::PaintOver(const DotRect& window, RasterImage& out) const {
  if (!flatPage_.pixels.empty()) {
    const DotRect common = Intersection(window, WholePage({flatPage_.width, flatPage_.height}));
    for (int64_t row = common.y; row < common.Bottom(); ++row) {
      const uint8_t* mask = &flatMask_[static_cast<size_t>(row * flatPage_.width)];
      const uint8_t* from = flatPage_.pixels.data() + row * flatPage_.stride;
      uint8_t* to = out.pixels.data() + (row - window.y) * out.stride;
      for (int64_t x = common.x; x < common.Right(); ++x) {
        if (mask[x] != 0) std::memcpy(to + (x - window.x) * kBytesPerPixel, from + x * kBytesPerPixel, kBytesPerPixel);
      }
    }
  }
  PaintItems(window, out);
}

void CPrinterLedger::NoteSent(const DotRect& window, DotSize page) {
  if (window.Empty()) return;
  if (window.Contains(WholePage(page))) {
    pageSent_ = true;
    sent_.clear();
    return;
  }
  if (!pageSent_) sent_.push_back(window);
}

void CPrinterLedger::TakeStaleAreas(std::vector<DotRect>& out) {
  out.clear();
  for (EarlierItem& earlier : earlier_) {
    if (earlier.handled) continue;
    earlier.handled = true;
    if (pageSent_ || CoveredBy(earlier.rect, sent_)) continue;
    out.push_back(earlier.rect);
  }
}
namespace {

constexpr int kCoverSteps = 4096;

// `area` less the rectangles from `next` on, piece by piece; `steps` bounds the work.
bool CoveredFrom(const DotRect& area, const std::vector<DotRect>& cover, size_t next, int& steps) {
  if (area.Empty()) return true;
  for (size_t i = next; i < cover.size(); ++i) {
    const DotRect common = Intersection(area, cover[i]);
    if (common.Empty()) continue;
    if (common == area) return true;
    if (--steps <= 0) return false;
    // What lies outside cover[i]: above, below, and left and right of it.
    const DotRect pieces[] = {
        {area.x, area.y, area.width, common.y - area.y},
        {area.x, common.Bottom(), area.width, area.Bottom() - common.Bottom()},
        {area.x, common.y, common.x - area.x, common.height},
        {common.Right(), common.y, area.Right() - common.Right(), common.height},
    };
    for (const DotRect& piece : pieces) {
      if (!CoveredFrom(piece, cover, i + 1, steps)) return false;
    }
    return true;
  }
  return false;
}

}  // namespace

bool CoveredBy(const DotRect& area, const std::vector<DotRect>& cover) {
  int steps = kCoverSteps;
  return CoveredFrom(area, cover, 0, steps);
}
