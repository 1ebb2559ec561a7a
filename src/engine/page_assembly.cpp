// Page assembly: places base images, variable bitmaps, clocks, white cells,
// start and end labels and empty pages, and frames the pages of the stream.
#include <algorithm>
#include <cstring>

#include "config/settings_store.h"
#include "engine/print_control.h"
#include "output/grid_range.h"
#include "output/png_encoder.h"
#include "platform/quarter_turn.h"
#include "platform/saturate.h"

namespace {

constexpr int64_t kBandPixels = 1071360;
constexpr int64_t kBandMaxRows = 2976;
// More white cells than this are sent together, as the runs they make.
constexpr int64_t kMaxWhiteCellsOneByOne = 4096;

// How the layout lies on the label for one rotation: the outer loop moves
// along y, the inner one along x.
struct Grid {
  int64_t outerCount = 0;
  int64_t innerCount = 0;
  int64_t outerStep = 0;
  int64_t innerStep = 0;
  bool columnsOuter = false;  // cell index i × columns + j instead of j × columns + i

  int64_t CellIndex(int64_t j, int64_t i, int64_t columns) const {
    return columnsOuter ? i * columns + j : j * columns + i;
  }
};

// The grid of the layout at the job's resolution; 208 for a rotation other
// than a quarter turn.
[[nodiscard]] ResultCode MakeGrid(const LayoutData& layout, int32_t resolution, Grid& grid) {
  const std::optional<int> turns = QuarterTurns(layout.rotation);
  if (!turns) return result::kBadRotation;
  const int64_t h = TenthsMmToDots(layout.horizontalPitch, resolution);
  const int64_t v = TenthsMmToDots(layout.verticalPitch, resolution);
  switch (*turns) {
    case 0: grid = {layout.labelRows, layout.labelColumns, v, h, false}; break;
    case 1: grid = {layout.labelColumns, layout.labelRows, -h, v, true}; break;
    case 2: grid = {layout.labelRows, layout.labelColumns, -v, -h, false}; break;
    default: grid = {layout.labelColumns, layout.labelRows, h, -v, true}; break;
  }
  return result::kOk;
}

RasterPoint Moved(const DotPoint& position, const OffsetsInDots& offsets) {
  return {SaturateToInt32(int64_t{position.x} + offsets.horizontal),
          SaturateToInt32(int64_t{position.y} + offsets.vertical)};
}

// Rows per band for a raster of this width: at most kBandPixels pixels and
// kBandMaxRows rows, and at least one row however wide.
int64_t RowsPerBand(int64_t width) {
  const int64_t rows = kBandPixels / width;
  return std::clamp<int64_t>(rows < 2 ? 1 : rows, 1, kBandMaxRows);
}

}  // namespace

ResultCode CPrintControl::SendDiffImage(const RasterImage& raster, DotPoint start) {
  const int64_t width = raster.width;
  const int64_t height = raster.height;
  if (width <= 0 || height <= 0) return result::kOk;
  const int64_t rowsPerBand = RowsPerBand(width);
  const PngWriteSettings settings;
  const auto dpi = static_cast<uint32_t>(resolution_);
  for (int64_t row = 0; row < height; row += rowsPerBand) {
    const int64_t rows = std::min(rowsPerBand, height - row);
    // Each band is encoded straight from the raster's rows: no copy of the band.
    const uint8_t* first = raster.pixels.data() + row * raster.stride;
    if (!settings.EncodePng(pngBuffer_, first, static_cast<uint32_t>(width), static_cast<uint32_t>(rows),
                            static_cast<uint32_t>(raster.stride), dpi, dpi)) {
      return result::kEncodingFailed;
    }
    if (const ResultCode code = command_.AppendImageDownload(kDiffImageName, pngBuffer_); code != result::kOk) {
      return code;
    }
    const int32_t at[2] = {std::max(0, start.x), SaturateToInt32(std::max<int64_t>(0, int64_t{start.y} + row))};
    if (const ResultCode code = command_.AppendImageRecall(kDiffImageName, at); code != result::kOk) return code;
  }
  return result::kOk;
}

ResultCode CPrintControl::SendOnPage(const RasterImage& raster, RasterPoint at) {
  if (const ResultCode code = SendDiffImage(raster, {at.x, at.y}); code != result::kOk) return code;
  image_.Ledger().NoteSent({at.x, at.y, raster.width, raster.height}, Page());
  return result::kOk;
}

ResultCode CPrintControl::SendComposedWindow(const PageRect& window) {
  // Composed band by band, just before each band is encoded: a large window,
  // the whole base page among them, is never held at once. The bands are
  // those SendDiffImage would cut the whole window into.
  if (window.Empty()) return result::kOk;
  const int64_t rowsPerBand = RowsPerBand(window.width);
  for (int64_t row = 0; row < window.height; row += rowsPerBand) {
    const int64_t rows = std::min<int64_t>(rowsPerBand, window.height - row);
    ResultCode code = image_.ComposeWindow({window.x, window.y + row, window.width, rows}, scratch_);
    if (code == result::kOk) {
      code = SendDiffImage(scratch_, {static_cast<int32_t>(window.x), static_cast<int32_t>(window.y + row)});
    }
    if (code != result::kOk) return code;
  }
  image_.Ledger().NoteSent(window, Page());
  return result::kOk;
}

ResultCode CPrintControl::CoverPageOnce() {
  if (jobCoveredPage_) return result::kOk;
  if (const ResultCode code = SendComposedWindow({0, 0, labelWidth_, labelLength_}); code != result::kOk) return code;
  jobCoveredPage_ = true;
  return result::kOk;
}

void CPrintControl::BeginJob(PrinterPort& printer) {
  printer_ = &printer;
  command_.TruncateTo(0);
  // A clear during the last job let it finish on its base; that base is not kept for this one.
  if (clearedSinceBase_) image_.Reset();
  image_.BeginJob();
  baseReferCount_ = 0;
  pageBaseRefers_ = 0;
  clearedSinceBase_ = false;
  variableKey_ = 0;
  extraCopies_ = 0;
  jobCoveredPage_ = false;
}

void CPrintControl::ClearImages() {
  image_.DropSource();
  if (baseReferCount_ > 0) {
    clearedSinceBase_ = true;  // the printer still holds this job's pages on its base
  } else {
    image_.ForgetKeptBase();  // no page of this job lies on it: it goes now
  }
}

ResultCode CPrintControl::ReceiveBitmap(HostBitmap& bitmap, const char* name) {
  if (name == nullptr) return result::kNullArgument;
  if (const ResultCode code = image_.SetSourceBitmap(bitmap); code != result::kOk) return code;
  imageName_ = name;
  return result::kOk;
}

void CPrintControl::CreateNewPage() {
  variableKey_ = 0;
  pageBaseRefers_ = 0;
  image_.Ledger().BeginPage();
  command_.BeginPage();
}

ResultCode CPrintControl::ReferToBaseBitmap(const DotPoint* position) {
  if (position == nullptr) return result::kBaseNullPosition;
  const bool bitmapWaiting = !image_.Source().Empty();
  // Later references of the job send nothing: the printer holds the page on
  // its base. After a clear, a base bitmap the host sends again is a new design.
  const bool newDesign = clearedSinceBase_ && bitmapWaiting && imageName_ == kBaseBitmapName;
  if (baseReferCount_ >= 1 && !newDesign) {
    ++baseReferCount_;
    ++pageBaseRefers_;
    return result::kOk;
  }
  // The first reference of the job sends its base: from the base bitmap the
  // host sent for this job, or, when it sent none, from the one an earlier
  // job left.
  if (bitmapWaiting ? imageName_ != kBaseBitmapName : !image_.HasBase()) return result::kWrongBitmapName;
  if (const ResultCode code = LayOutBase(*position); code != result::kOk) return code;
  clearedSinceBase_ = false;
  ++baseReferCount_;
  ++pageBaseRefers_;
  return result::kOk;
}

ResultCode CPrintControl::LayOutBase(const DotPoint& position) {
  const RasterPoint start = Moved(position, LoadOffsetsInDots(*printer_, resolution_));
  Grid grid;
  ResultCode code = MakeGrid(layout_, resolution_, grid);
  if (code == result::kOk) {
    code = image_.LayOutBase(start, Page(), SaturateToInt32(grid.outerCount), SaturateToInt32(grid.innerCount),
                             grid.outerStep, grid.innerStep);
  }
  // The whole page, with whatever this page placed before the reference.
  if (code == result::kOk) code = SendComposedWindow({0, 0, labelWidth_, labelLength_});
  if (code != result::kOk) return code;
  jobCoveredPage_ = true;
  basePosition_ = position;
  return result::kOk;
}

ResultCode CPrintControl::ReferToVariableBitmap(const DotPoint* position, const char* name) {
  if (position == nullptr || name == nullptr) return result::kVariableNullArgument;
  if (imageName_ != name) return result::kWrongBitmapName;
  RasterPoint point = Moved(*position, LoadOffsetsInDots(*printer_, resolution_));
  ResultCode code = CoverPageOnce();
  if (code == result::kOk) code = image_.ComposeVariableImage(point, Page(), scratch_, variableKey_);
  if (code == result::kOk && !scratch_.Empty()) code = SendOnPage(scratch_, point);
  if (code != result::kOk) return code;
  ++variableKey_;
  return result::kOk;
}

ResultCode CPrintControl::WriteClock(const char16_t* text, const DotPoint* position, int32_t fontHeight,
                                     const char16_t* faceName) {
  if (text == nullptr || position == nullptr || faceName == nullptr) return result::kClockBadArgument;
  // Clock positions are given on the label as the host laid it out; turn them with the layout.
  const int64_t x = position->x;
  const int64_t y = position->y;
  const int64_t w = headerWidth_;
  const int64_t l = headerLength_;
  const std::optional<int> turns = QuarterTurns(layout_.rotation);
  if (!turns) return result::kClockBadArgument;
  DotPoint turned{};
  switch (*turns) {
    case 0: turned = {SaturateToInt32(x), SaturateToInt32(y)}; break;
    case 1: turned = {SaturateToInt32(y), SaturateToInt32(l - x)}; break;
    case 2: turned = {SaturateToInt32(w - x), SaturateToInt32(l - y)}; break;
    default: turned = {SaturateToInt32(w - y), SaturateToInt32(x)}; break;
  }
  RasterPoint point = Moved(turned, LoadOffsetsInDots(*printer_, resolution_));
  ResultCode code = CoverPageOnce();
  if (code == result::kOk) {
    code = image_.ComposeTextImage(point, Page(), text, fontHeight, faceName, layout_.rotation, scratch_, variableKey_);
  }
  if (code == result::kOk && !scratch_.Empty()) code = SendOnPage(scratch_, point);
  if (code != result::kOk) return code;
  ++variableKey_;
  return result::kOk;
}

ResultCode CPrintControl::CloseNewPageStatic(int32_t copies) {
  if (copies < 1 || copies > kMaxCopies) return result::kNullArgument;
  extraCopies_ = copies - 1;
  // The cells this page used are the base references since it was created:
  // a page of a job may be closed partly used, and the next one starts again
  // at the first cell. A page that referred to no base uses no cell of it.
  const int64_t cells = int64_t{layout_.labelRows} * layout_.labelColumns;
  if (layout_.labelRows <= 0 || layout_.labelColumns <= 0) return result::kOk;
  const int64_t used = pageBaseRefers_;
  if (used <= 0 || used >= cells) return result::kOk;
  return BlankUnusedLabels(used);
}

ResultCode CPrintControl::CloseNewPageDynamic(int32_t labelsUsed) {
  const int64_t cells = int64_t{layout_.labelRows} * layout_.labelColumns;
  if (layout_.labelRows <= 0 || layout_.labelColumns <= 0) return result::kOk;
  const int64_t used = labelsUsed % cells;
  if (used <= 0) return result::kOk;
  return BlankUnusedLabels(used);
}

namespace {

// The runs along one axis that the cells [first, last) of a grid cover,
// cut to [0, pageSize): one run when neighbours touch or overlap, one per
// cell when they lie apart.
std::vector<Interval> CellRuns(int64_t origin, int64_t step, int64_t extent, IndexRange cells, int64_t pageSize) {
  std::vector<Interval> runs;
  if (cells.Empty()) return runs;
  const auto clipped = [&](int64_t begin, int64_t end) {
    begin = std::max<int64_t>(begin, 0);
    end = std::min(end, pageSize);
    if (begin < end) runs.push_back({begin, end});
  };
  if (std::abs(step) <= extent) {
    const int64_t a = origin + cells.first * step;
    const int64_t b = origin + (cells.last - 1) * step;
    clipped(std::min(a, b), std::max(a, b) + extent);
  } else {
    for (int64_t k = cells.first; k < cells.last; ++k) clipped(origin + k * step, origin + k * step + extent);
  }
  return runs;
}

IndexRange Overlap(IndexRange a, int64_t first, int64_t last) {
  IndexRange range{std::max(a.first, first), std::min(a.last, last)};
  return range.Empty() ? IndexRange{} : range;
}

// The white the cells from `firstCell` on make together, cut to the page.
std::vector<WhiteArea> MergedCells(const Grid& grid, int64_t columns, int64_t firstCell, int64_t originX,
                                   int64_t originY, IndexRange outer, IndexRange inner, TileSize cell, PageSize page) {
  // The cells from `firstCell` on are, in grid indices, the rest of one line
  // of the grid and every whole line after it.
  const int64_t line = firstCell / columns;
  const int64_t along = firstCell % columns;
  struct Block {
    IndexRange outer, inner;
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
  std::vector<WhiteArea> areas;
  for (const Block& block : blocks) {
    if (block.outer.Empty() || block.inner.Empty()) continue;
    WhiteArea area{CellRuns(originX, grid.innerStep, cell.width, block.inner, page.width),
                   CellRuns(originY, grid.outerStep, cell.height, block.outer, page.length)};
    if (!area.Bounds().Empty()) areas.push_back(std::move(area));
  }
  return areas;
}

}  // namespace

ResultCode CPrintControl::BlankUnusedLabels(int64_t firstCell) {
  Grid grid;
  if (const ResultCode code = MakeGrid(layout_, resolution_, grid); code != result::kOk) return code;
  const TileSize cell = image_.GetTileSize();
  if (cell.width <= 0 || cell.height <= 0) return result::kOk;
  // The cells lie where the base reference laid out the base's copies.
  const RasterPoint origin = Moved(basePosition_, LoadOffsetsInDots(*printer_, resolution_));
  const int64_t originX = origin.x;
  const int64_t originY = origin.y;
  // Only the rows and columns that can reach the page are walked. Along an
  // axis without a pitch every cell lies on the same spot. The cell index
  // grows along both axes, so the last one decides whether that spot is
  // blanked; sending the same white cell once per cell would only repeat it,
  // up to thousands of millions of times for a huge layout.
  const IndexRange outer = IndicesToVisit(originY, grid.outerStep, grid.outerCount, cell.height, labelLength_);
  const IndexRange inner = IndicesToVisit(originX, grid.innerStep, grid.innerCount, cell.width, labelWidth_);
  if (outer.Empty() || inner.Empty()) return result::kOk;

  // Cells that lie apart, as on every real label sheet, go out one white
  // cell each. Cells that overlap, or more of them than a page of labels
  // could hold, go out as the few white runs they make together.
  const bool overlapping = (outer.last - outer.first > 1 && std::abs(grid.outerStep) < cell.height) ||
                           (inner.last - inner.first > 1 && std::abs(grid.innerStep) < cell.width);
  if (overlapping || (outer.last - outer.first) * (inner.last - inner.first) > kMaxWhiteCellsOneByOne) {
    PageRect window;
    for (const WhiteArea& area :
         MergedCells(grid, layout_.labelColumns, firstCell, originX, originY, outer, inner, cell, Page())) {
      if (const ResultCode code = CoverPageOnce(); code != result::kOk) return code;
      image_.Ledger().PlaceWhite(area);
      window = BoundingBox(window, area.Bounds());
    }
    return SendComposedWindow(window);
  }

  // The scratch raster may still hold the last variable image or clock: the
  // white cell is built afresh here, then reused while the size stays.
  bool whiteReady = false;
  for (int64_t j = outer.first; j < outer.last; ++j) {
    for (int64_t i = inner.first; i < inner.last; ++i) {
      if (grid.CellIndex(j, i, layout_.labelColumns) < firstCell) continue;
      const PageRect white =
          Intersection({originX + i * grid.innerStep, originY + j * grid.outerStep, cell.width, cell.height},
                       {0, 0, labelWidth_, labelLength_});
      if (white.Empty()) continue;
      if (const ResultCode code = CoverPageOnce(); code != result::kOk) return code;
      if (!whiteReady || scratch_.width != white.width || scratch_.height != white.height) {
        CPrintImage::CreatePageCanvas({static_cast<int32_t>(white.width), static_cast<int32_t>(white.height)},
                                      scratch_);
        whiteReady = true;
      }
      image_.Ledger().PlaceWhite({{{white.x, white.Right()}}, {{white.y, white.Bottom()}}});
      if (const ResultCode code = SendOnPage(scratch_, {static_cast<int32_t>(white.x), static_cast<int32_t>(white.y)});
          code != result::kOk) {
        return code;
      }
    }
  }
  return result::kOk;
}

ResultCode CPrintControl::CloseNewPageFinal() {
  // Whatever the page before showed and this page neither sent again nor
  // covered goes back to what this page holds there.
  if (const ResultCode code = CoverPageOnce(); code != result::kOk) return code;
  image_.Ledger().TakeStaleAreas(stale_);
  for (const PageRect& area : stale_) {
    if (const ResultCode code = SendComposedWindow(area); code != result::kOk) return code;
  }
  // At most kMaxCopies - 1 extra copies, whatever was stored.
  command_.EndPage(std::clamp(extraCopies_, 0, kMaxCopies - 1));
  return result::kOk;
}

ResultCode CPrintControl::SendLabelFormat(const RasterImage& page) {
  command_.BeginLabel();
  if (const ResultCode code = SendDiffImage(page, {0, 0}); code != result::kOk) return code;
  command_.EndLabel();
  return result::kOk;
}

ResultCode CPrintControl::AddEmptyPage() {
  CPrintImage::CreatePageCanvas(Page(), scratch_);
  return SendLabelFormat(scratch_);
}

ResultCode CPrintControl::ReferToLabel(const DotPoint* position, const char* name) {
  if (position == nullptr || name == nullptr) return result::kLabelNullArgument;
  if (imageName_ != name) return result::kWrongBitmapName;
  const RasterPoint point = Moved(*position, LoadOffsetsInDots(*printer_, resolution_));
  if (const ResultCode code = image_.ComposeStaticImage(point, Page(), scratch_); code != result::kOk) return code;
  if (scratch_.Empty()) return result::kOk;
  return SendLabelFormat(scratch_);
}
