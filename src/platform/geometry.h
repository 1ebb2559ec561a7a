// The geometry every layer shares: points and sizes in dots (32-bit, as the
// host and the rasters give them), rectangles and runs of the page (64-bit,
// so that sums of host positions and pitches never overflow).
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

// A position in dots: x to the right, y down from the label's top-left
// corner. Also the host's position record.
struct DotPoint {
  int32_t x = 0;
  int32_t y = 0;
};
static_assert(sizeof(DotPoint) == 8, "DotPoint crosses the host boundary as two 32-bit values");

// A displacement in dots: dx to the right, dy down.
struct DotStep {
  int64_t dx = 0;
  int64_t dy = 0;
};

// A width and a height in dots (a label's height is its length along the feed).
struct DotSize {
  int32_t width = 0;
  int32_t height = 0;
  bool operator==(const DotSize&) const = default;
};

// A rectangle of the page in dots: [x, x + width) x [y, y + height).
struct DotRect {
  int64_t x = 0;
  int64_t y = 0;
  int64_t width = 0;
  int64_t height = 0;

  bool Empty() const { return width <= 0 || height <= 0; }
  int64_t Right() const { return x + width; }
  int64_t Bottom() const { return y + height; }
  bool Contains(const DotRect& other) const {
    return !other.Empty() && other.x >= x && other.y >= y && other.Right() <= Right() && other.Bottom() <= Bottom();
  }
  bool operator==(const DotRect&) const = default;
};

// Half-open run [begin, end) along one axis: of dots, or of the indices of a grid's copies.
struct Interval {
  int64_t begin = 0;
  int64_t end = 0;
  bool Empty() const { return begin >= end; }
  int64_t Size() const { return Empty() ? 0 : end - begin; }
};

inline DotRect Intersection(const DotRect& a, const DotRect& b) {
  const int64_t left = std::max(a.x, b.x);
  const int64_t top = std::max(a.y, b.y);
  const int64_t right = std::min(a.Right(), b.Right());
  const int64_t bottom = std::min(a.Bottom(), b.Bottom());
  if (right <= left || bottom <= top) return {};
  return {left, top, right - left, bottom - top};
}

// The smallest rectangle holding both; an empty one counts for nothing.
inline DotRect BoundingBox(const DotRect& a, const DotRect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  const int64_t left = std::min(a.x, b.x);
  const int64_t top = std::min(a.y, b.y);
  return {left, top, std::max(a.Right(), b.Right()) - left, std::max(a.Bottom(), b.Bottom()) - top};
}

// The whole of a page of `size`.
inline DotRect WholePage(DotSize size) { return {0, 0, size.width, size.height}; }

// An area of the page made of runs: every run of `columns` crossed with every
// run of `rows`. One rectangle is one run each; the white cells of a dense
// layout are a few runs each however many cells there are.
struct WhiteArea {
  std::vector<Interval> columns;
  std::vector<Interval> rows;
  DotRect Bounds() const {
    if (columns.empty() || rows.empty()) return {};
    int64_t left = columns.front().begin, right = columns.front().end;
    for (const Interval& c : columns) left = std::min(left, c.begin), right = std::max(right, c.end);
    int64_t top = rows.front().begin, bottom = rows.front().end;
    for (const Interval& r : rows) top = std::min(top, r.begin), bottom = std::max(bottom, r.end);
    return DotRect{left, top, right - left, bottom - top};
  }
};
