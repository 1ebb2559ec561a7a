// Page assembly: places base images, variable bitmaps, clocks, white cells,
// start and end labels and empty pages into the page model and frames the
// pages of the stream. Each operation places, then hands over to emission.
#include <algorithm>
#include <cstdlib>

#include "config/settings_store.h"
#include "engine/print_control.h"
#include "platform/quarter_turn.h"
#include "platform/saturate.h"

namespace {

// The grid the base's copies are laid over, at the job's resolution, from
// `origin`; false for a rotation other than a quarter turn. Columns step by
// the horizontal pitch and rows by the vertical one on the host's label; the
// turn decides which of them runs along the printed label's y.
bool MakeGrid(const LayoutData& layout, int32_t resolution, DotPoint origin, DotSize page, BaseGrid& grid) {
  const std::optional<int> turns = QuarterTurns(layout.rotation);
  if (!turns) return false;
  const DotStep column = TurnStep(*turns, TenthsMmToDots(layout.horizontalPitch, resolution), 0);
  const DotStep row = TurnStep(*turns, 0, TenthsMmToDots(layout.verticalPitch, resolution));
  const bool columnsOuter = *turns % 2 == 1;
  grid.origin = origin;
  grid.page = page;
  grid.outerCount = columnsOuter ? layout.labelColumns : layout.labelRows;
  grid.innerCount = columnsOuter ? layout.labelRows : layout.labelColumns;
  grid.outerStep = columnsOuter ? column.dy : row.dy;
  grid.innerStep = columnsOuter ? row.dx : column.dx;
  grid.columnsOuter = columnsOuter;
  grid.columns = layout.labelColumns;
  return true;
}

DotPoint Moved(const DotPoint& position, const PositionAdjustment& offsets) {
  return {SaturateToInt32(int64_t{position.x} + offsets.horizontal),
          SaturateToInt32(int64_t{position.y} + offsets.vertical)};
}

}  // namespace

void CPrintControl::CreateNewPage() {
  page_.BeginPage();
  command_.BeginPage();
}

ResultCode CPrintControl::ReferToBaseBitmap(const DotPoint& position) {
  const bool bitmapWaiting = !image_.Source().Empty();
  const bool baseWaiting = bitmapWaiting && imageName_ == kBaseBitmapName;
  if (page_.JobBaseReferences() >= 1) {
    // Later references of the job send nothing: the printer holds the page
    // on its base. After a clear, a base bitmap the host sends again is a
    // new design; after a layout that moves the copies, the kept tile is
    // laid out again on the new grid. Either sends the whole page.
    const bool newDesign = page_.ClearedSinceBase() && baseWaiting;
    if (newDesign || LayoutMovesBase()) {
      if (const ResultCode code = LayOutBase(position, newDesign); code != result::kOk) return code;
    }
    page_.CountBaseReference();
    return result::kOk;
  }
  // The first reference of the job sends its base: from the base bitmap the
  // host sent for this job, or, when it sent none, from the one an earlier
  // job left. With neither, the last bitmap's name decides: 209 for another
  // name, 404 (nothing to lay out) for the base's own.
  if (imageName_ != kBaseBitmapName && (bitmapWaiting || !page_.HasBase())) return result::kWrongBitmapName;
  if (const ResultCode code = LayOutBase(position, bitmapWaiting); code != result::kOk) return code;
  page_.CountBaseReference();
  return result::kOk;
}

bool CPrintControl::LayoutMovesBase() const {
  // Only a base this job's pages lie on is laid out again.
  if (!page_.OnBase()) return false;
  BaseGrid grid;
  // A rotation that is no quarter turn lays nothing out: the closes refuse it.
  if (!MakeGrid(layout_, resolution_, {}, LabelSize(), grid)) return false;
  return !grid.SameCells(page_.Grid());
}

ResultCode CPrintControl::LayOutBase(const DotPoint& position, bool fromBitmap) {
  BaseGrid grid;
  if (!MakeGrid(layout_, resolution_, Moved(position, ReadAdjustment()), LabelSize(), grid)) {
    return result::kBadRotation;
  }
  if (!CPrintImage::PageFits(LabelSize())) return result::kStaticCompose;
  // The waiting bitmap's pixels become the tile, handed over and not copied.
  RasterImage tile;
  const bool taken = fromBitmap && image_.TakeSource(tile);
  if (!page_.LayOutBase(grid, taken ? &tile : nullptr)) return result::kStaticCompose;  // nothing to lay out
  // The whole page, with whatever this page placed before the reference.
  return SendComposedWindow(WholePage(LabelSize()));
}

ResultCode CPrintControl::ReferToVariableBitmap(const DotPoint& position, std::string_view name) {
  if (imageName_ != name) return result::kWrongBitmapName;
  if (const ResultCode code = PlaceField(Moved(position, ReadAdjustment())); code != result::kOk) return code;
  page_.NextVariableKey();
  return result::kOk;
}

ResultCode CPrintControl::PlaceField(DotPoint point) {
  if (const ResultCode code = CoverPageOnce(); code != result::kOk) return code;
  DotRect placed;
  if (const ResultCode code = image_.CutSourceToPage(point, LabelSize(), placed, field_); code != result::kOk) {
    return code;
  }
  if (placed.Empty()) return result::kOk;  // nothing lands on the page; what the key held goes at the close
  const DotRect window = page_.PlaceImage(placed, page_.VariableKey(), field_, LabelSize());
  // A field that widens nothing goes out as its own pixels.
  if (const RasterImage* pixels = page_.PlacedPixels(); window == placed && pixels != nullptr) {
    return SendOnPage(*pixels, {static_cast<int32_t>(window.x), static_cast<int32_t>(window.y)});
  }
  return SendComposedWindow(window);
}

ResultCode CPrintControl::WriteClock(std::u16string_view text, const DotPoint& position, int32_t fontHeight,
                                     std::u16string_view faceName) {
  // Clock positions are given on the label as the host laid it out: turned with the layout.
  DotPoint turned{};
  if (!TurnPosition(layout_.rotation, position, {headerWidth_, headerLength_}, turned)) {
    return result::kClockBadArgument;
  }
  DotPoint point = Moved(turned, ReadAdjustment());
  if (const ResultCode code = CoverPageOnce(); code != result::kOk) return code;
  bool drawn = false;
  if (const ResultCode code = image_.RenderTextSource(point, text, fontHeight, faceName, layout_.rotation, drawn);
      code != result::kOk) {
    return code;
  }
  if (drawn) {
    if (const ResultCode code = PlaceField(point); code != result::kOk) return code;
  }
  page_.NextVariableKey();
  return result::kOk;
}

ResultCode CPrintControl::CloseNewPageStatic(int32_t copies) {
  extraCopies_ = copies - 1;
  // The cells this page used are the base references since it was created:
  // a page of a job may be closed partly used, and the next one starts again
  // at the first cell. A page that referred to no base uses no cell of it.
  const int64_t cells = int64_t{layout_.labelRows} * layout_.labelColumns;
  const int64_t used = page_.PageBaseReferences();
  if (cells == 0 || used <= 0 || used >= std::abs(cells)) return result::kOk;
  return BlankUnusedLabels(used);
}

ResultCode CPrintControl::CloseNewPageDynamic(int32_t labelsUsed) {
  // Counts of unlike sign make a negative number of cells: the remainder
  // keeps the sign of the labels used.
  const int64_t cells = int64_t{layout_.labelRows} * layout_.labelColumns;
  if (cells == 0) return result::kOk;
  const int64_t used = labelsUsed % cells;
  if (used <= 0) return result::kOk;
  return BlankUnusedLabels(used);
}

ResultCode CPrintControl::BlankUnusedLabels(int64_t firstCell) {
  // The cells are the layout's, counted as the close counted them, from
  // where the base's first copy was laid out and of its tile's size. Every
  // base reference after a layout that moves the copies lays the base out
  // again on the layout's grid, so on a page that refers to the base the
  // white cells lie on its copies, whatever the adjustment does after.
  BaseGrid cells;
  if (!MakeGrid(layout_, resolution_, page_.Grid().origin, LabelSize(), cells)) return result::kBadRotation;
  cells.cell = page_.Grid().cell;
  PageModel::WhiteCells(cells, firstCell, LabelSize(), whiteCells_, whiteRuns_);
  if (!whiteRuns_.empty()) {
    DotRect window;
    for (const WhiteArea& area : whiteRuns_) {
      if (const ResultCode code = CoverPageOnce(); code != result::kOk) return code;
      page_.PlaceWhite(area);
      window = BoundingBox(window, area.Bounds());
    }
    return SendComposedWindow(window);
  }
  // Cells that lie apart go out one white rectangle each.
  for (const DotRect& white : whiteCells_) {
    if (const ResultCode code = CoverPageOnce(); code != result::kOk) return code;
    page_.PlaceWhite({{{white.x, white.Right()}}, {{white.y, white.Bottom()}}});
    const DotPoint at{static_cast<int32_t>(white.x), static_cast<int32_t>(white.y)};
    const DotSize size{static_cast<int32_t>(white.width), static_cast<int32_t>(white.height)};
    if (const ResultCode code = emitter_.SendWhite(size, at); code != result::kOk) return code;
    page_.NoteSent(white, LabelSize());
  }
  return result::kOk;
}

ResultCode CPrintControl::CloseNewPageFinal() {
  // Whatever the page before showed and this page neither sent again nor
  // covered goes back to what this page holds there.
  if (const ResultCode code = CoverPageOnce(); code != result::kOk) return code;
  page_.TakeStaleAreas(stale_);
  for (const DotRect& area : stale_) {
    if (const ResultCode code = SendComposedWindow(area); code != result::kOk) return code;
  }
  // At most kMaxCopies - 1 extra copies, whatever was stored.
  command_.EndPage(std::clamp(extraCopies_, 0, kMaxCopies - 1));
  return result::kOk;
}

ResultCode CPrintControl::AddEmptyPage() {
  return SendLabelFormat([&] { return emitter_.SendWhite(LabelSize(), {0, 0}); });
}

ResultCode CPrintControl::ReferToLabel(const DotPoint& position, std::string_view name) {
  if (imageName_ != name) return result::kWrongBitmapName;
  const DotPoint point = Moved(position, ReadAdjustment());
  if (const ResultCode code = image_.ComposeStaticImage(point, LabelSize(), labelImage_); code != result::kOk) {
    return code;
  }
  if (labelImage_.Empty()) return result::kOk;
  return SendLabelFormat([&] { return emitter_.SendRaster(labelImage_, {0, 0}); });
}
