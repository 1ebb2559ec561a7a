#include "output/page_model.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "output/grid_range.h"

namespace {

// More white cells than this are sent together, as the runs they make.
constexpr int64_t kMaxWhiteCellsOneByOne = 4096;

// The runs along one axis that the cells [first, last) of a grid cover,
// cut to [0, pageSize): one run when neighbours touch or overlap, one per
// cell when they lie apart.
std::vector<Interval> CellRuns(int64_t origin, int64_t step, int64_t extent, Interval cells, int64_t pageSize) {
  std::vector<Interval> runs;
  if (cells.Empty()) return runs;
  const auto clipped = [&](int64_t begin, int64_t end) {
    begin = std::max<int64_t>(begin, 0);
    end = std::min(end, pageSize);
    if (begin < end) runs.push_back({begin, end});
  };
  if (std::abs(step) <= extent) {
    const int64_t a = origin + cells.begin * step;
    const int64_t b = origin + (cells.end - 1) * step;
    clipped(std::min(a, b), std::max(a, b) + extent);
  } else {
    for (int64_t k = cells.begin; k < cells.end; ++k) clipped(origin + k * step, origin + k * step + extent);
  }
  return runs;
}

Interval Overlap(Interval a, int64_t first, int64_t last) {
  Interval range{std::max(a.begin, first), std::min(a.end, last)};
  return range.Empty() ? Interval{} : range;
}

// The white the cells from `firstCell` on make together, cut to the page.
void MergedCells(const BaseGrid& grid, int64_t firstCell, Interval outer, Interval inner, DotSize page,
                 std::vector<WhiteArea>& areas) {
  // The cells from `firstCell` on are, in grid indices, the rest of one line
  // of the grid and every whole line after it.
  const int64_t line = firstCell / grid.columns;
  const int64_t along = firstCell % grid.columns;
  struct Block {
    Interval outer, inner;
  };
  Block blocks[2];
  if (!grid.columnsOuter) {
    // The cell index runs along the inner axis first: lines are outer indices.
    blocks[0] = {Overlap(outer, line, line + 1), Overlap(inner, along, grid.innerCount)};
    blocks[1] = {Overlap(outer, line + 1, grid.outerCount), inner};
  } else {
    blocks[0] = {Overlap(outer, along, grid.outerCount), Overlap(inner, line, line + 1)};
    blocks[1] = {outer, Overlap(inner, line + 1, grid.innerCount)};
  }
  for (const Block& block : blocks) {
    if (block.outer.Empty() || block.inner.Empty()) continue;
    WhiteArea area{CellRuns(grid.origin.x, grid.innerStep, grid.cell.width, block.inner, page.width),
                   CellRuns(grid.origin.y, grid.outerStep, grid.cell.height, block.outer, page.height)};
    if (!area.Bounds().Empty()) areas.push_back(std::move(area));
  }
}

}  // namespace

void PageModel::BeginJob() {
  if (clearedSinceBase_) ForgetBase();  // the last job finished on a base the host had cleared
  ForgetPrinted();
  jobBaseRefers_ = 0;
  pageBaseRefers_ = 0;
  clearedSinceBase_ = false;
  variableKey_ = 0;
}

void PageModel::ForgetPrinted() {
  ledger_.BeginJob();
  onBase_ = false;
  jobCoveredPage_ = false;
  shown_ = nullptr;
}

bool PageModel::LayOutBase(BaseGrid grid, RasterImage* tile) {
  if (tile != nullptr) {
    std::swap(tile_, *tile);  // no copy
    clearedSinceBase_ = false;
  }
  if (tile_.Empty()) return false;
  grid.cell = grid.outerCount > 1 || grid.innerCount > 1 ? DotSize{tile_.width, tile_.height} : DotSize{};
  grid_ = grid;
  onBase_ = true;
  return true;
}

void PageModel::ForgetBase() {
  tile_.Clear();
  grid_ = {};
  onBase_ = false;
}

void PageModel::Clear() {
  if (jobBaseRefers_ > 0) {
    clearedSinceBase_ = true;  // the printer still holds this job's pages on its base
  } else {
    ForgetBase();
  }
}

DotRect PageModel::PlaceImage(const DotRect& placed, int32_t key, RasterImage& pixels, DotSize page) {
  const DotRect window = ledger_.FieldWindow(placed, key);
  std::swap(ledger_.AddImage(placed, key), pixels);
  shown_ = ledger_.ShowImage(page);
  return window;
}

void PageModel::PlaceWhite(const WhiteArea& area) {
  shown_ = nullptr;
  ledger_.PlaceWhite(area);
}

void PageModel::NoteSent(const DotRect& window, DotSize page) {
  ledger_.NoteSent(window, page);
  if (window.Contains(WholePage(page))) jobCoveredPage_ = true;
}

void PageModel::WhiteCells(const BaseGrid& grid, int64_t firstCell, DotSize page, std::vector<DotRect>& cells,
                           std::vector<WhiteArea>& merged) {
  cells.clear();
  merged.clear();
  const DotSize cell = grid.cell;
  if (cell.width <= 0 || cell.height <= 0 || grid.columns <= 0) return;
  const int64_t originX = grid.origin.x;
  const int64_t originY = grid.origin.y;
  // Only the rows and columns that can reach the page are walked. Along an
  // axis without a pitch every cell lies on the same spot. The cell index
  // grows along both axes, so the last one decides whether that spot is
  // blanked; sending the same white cell once per cell would only repeat it,
  // up to thousands of millions of times for a huge layout.
  const Interval outer = IndicesToVisit(originY, grid.outerStep, grid.outerCount, cell.height, page.height);
  const Interval inner = IndicesToVisit(originX, grid.innerStep, grid.innerCount, cell.width, page.width);
  if (outer.Empty() || inner.Empty()) return;

  // Cells that lie apart, as on every real label sheet, go out one white
  // cell each. Cells that overlap, or more of them than a page of labels
  // could hold, go out as the few white runs they make together.
  const bool overlapping = (outer.end - outer.begin > 1 && std::abs(grid.outerStep) < cell.height) ||
                           (inner.end - inner.begin > 1 && std::abs(grid.innerStep) < cell.width);
  if (overlapping || (outer.end - outer.begin) * (inner.end - inner.begin) > kMaxWhiteCellsOneByOne) {
    MergedCells(grid, firstCell, outer, inner, page, merged);
    return;
  }
  for (int64_t j = outer.begin; j < outer.end; ++j) {
    for (int64_t i = inner.begin; i < inner.end; ++i) {
      if (grid.CellIndex(j, i) < firstCell) continue;
      const DotRect white = Intersection(
          {originX + i * grid.innerStep, originY + j * grid.outerStep, cell.width, cell.height}, WholePage(page));
      if (!white.Empty()) cells.push_back(white);
    }
  }
}
