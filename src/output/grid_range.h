// Which positions of a regular grid can touch the page. Layout counts come
// from the host unchecked; walking only the positions that can land on the
// page keeps a huge or far-off grid from looping over millions of cells.
#pragma once
#include <algorithm>
#include <cstdint>

#include "platform/geometry.h"

// The indices of a grid's copies are an Interval of [0, count).

// Indices k in [0, count) whose span [start + k*step, start + k*step + extent)
// overlaps [0, pageSize).
constexpr Interval VisibleRange(int64_t start, int64_t step, int64_t count, int64_t extent, int64_t pageSize) {
  if (count <= 0 || extent <= 0 || pageSize <= 0) return {};
  auto overlaps = [&](int64_t origin) { return origin + extent > 0 && origin < pageSize; };
  if (step == 0) return overlaps(start) ? Interval{0, count} : Interval{};
  // Solve start + k*step > -extent and start + k*step < pageSize for k.
  auto floorDiv = [](int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); };
  auto ceilDiv = [&](int64_t a, int64_t b) { return -floorDiv(-a, b); };
  int64_t lo = 0;
  int64_t hi = 0;
  if (step > 0) {
    lo = floorDiv(-extent - start, step) + 1;  // first k with origin > -extent
    hi = ceilDiv(pageSize - start, step);      // first k with origin >= pageSize
  } else {
    lo = floorDiv(start - pageSize, -step) + 1;  // first k with origin < pageSize
    hi = ceilDiv(start + extent, -step);         // first k with origin <= -extent
  }
  Interval range{std::max<int64_t>(lo, 0), std::min<int64_t>(hi, count)};
  return range.Empty() ? Interval{} : range;
}

// The indices worth visiting: those of VisibleRange, except that along an
// axis without a pitch (step 0) every copy lies on the same spot and only the
// last one, drawn over all the others, is kept.
inline Interval IndicesToVisit(int64_t start, int64_t step, int64_t count, int64_t extent, int64_t pageSize) {
  Interval range = VisibleRange(start, step, count, extent, pageSize);
  if (!range.Empty() && step == 0) range.begin = range.end - 1;
  return range;
}
