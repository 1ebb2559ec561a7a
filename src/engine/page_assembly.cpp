// Page assembly: places base images, variable bitmaps, clocks, white cells,
// start and end labels and empty pages, and frames the pages of the stream.
#include <algorithm>
#include <cstring>

#include "config/settings_store.h"
#include "engine/print_control.h"
#include "output/grid_range.h"
#include "output/png_encoder.h"

namespace {

constexpr std::string_view kFormatStart = "^XA";
constexpr std::string_view kFormatEnd = "^XZ";
constexpr std::string_view kPageCarryIn = "^C(L";
constexpr std::string_view kPageCarryOut = "^C(S";
constexpr int64_t kBandPixels = 1071360;
constexpr int64_t kBandMaxRows = 2976;
constexpr int32_t kRotation0 = 0;
constexpr int32_t kRotation90 = 90;
constexpr int32_t kRotation180 = 180;
constexpr int32_t kRotation270 = 270;
static_assert(kCopyFormatBytes ==
                  static_cast<int64_t>(kFormatStart.size() + kPageCarryIn.size() + kPageCarryOut.size() +
                                       kFormatEnd.size()),
              "one extra copy is one empty page format");

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

// The grid of the layout at the job's resolution; throws 208 for a rotation
// other than a quarter turn.
Grid MakeGrid(const LayoutData& layout, int32_t resolution) {
  const int64_t h = TenthsMmToDots(layout.horizontalPitch, resolution);
  const int64_t v = TenthsMmToDots(layout.verticalPitch, resolution);
  switch (layout.rotation) {
    case kRotation0: return {layout.labelRows, layout.labelColumns, v, h, false};
    case kRotation90: return {layout.labelColumns, layout.labelRows, -h, v, true};
    case kRotation180: return {layout.labelRows, layout.labelColumns, -v, -h, false};
    case kRotation270: return {layout.labelColumns, layout.labelRows, h, -v, true};
    default: throw result::kBadRotation;
  }
}

// Calls `work`, turning a thrown result code back into the operation's result.
template <typename Work>
ResultCode Guard(Work&& work) {
  try {
    work();
    return result::kOk;
  } catch (ResultCode code) {
    return code;
  }
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

void MakeWhiteRaster(int32_t width, int32_t height, RasterImage& raster) {
  CPrintImage::CreatePageCanvas({width, height}, raster);
}

}  // namespace

void CPrintControl::SendDiffImage(const RasterImage& raster, DotPoint start) {
  const int64_t width = raster.width;
  const int64_t height = raster.height;
  if (width <= 0 || height <= 0) return;
  const int64_t rowsPerBand = RowsPerBand(width);
  const PngWriteSettings settings;
  const auto dpi = static_cast<uint32_t>(resolution_);
  for (int64_t row = 0; row < height; row += rowsPerBand) {
    const int64_t rows = std::min(rowsPerBand, height - row);
    // Each band is encoded straight from the raster's rows: no copy of the band.
    const uint8_t* first = raster.pixels.data() + row * raster.stride;
    if (!settings.EncodePng(pngBuffer_, first, static_cast<uint32_t>(width), static_cast<uint32_t>(rows),
                            static_cast<uint32_t>(raster.stride), dpi, dpi)) {
      throw result::kEncodingFailed;
    }
    command.AppendImageDownload(kDiffImageName, pngBuffer_);
    const int32_t at[2] = {std::max(0, start.x), SaturateToInt32(std::max<int64_t>(0, int64_t{start.y} + row))};
    ThrowIfFailed(command.AppendImageRecall(kDiffImageName, at));
  }
}

void CPrintControl::SendBaseImage() {
  // The base page goes out band by band, each band composed just before it
  // is encoded: the whole page is never held.
  const PageSize page = Page();
  if (page.width <= 0 || page.length <= 0) return;
  const int64_t rowsPerBand = RowsPerBand(page.width);
  for (int64_t row = 0; row < page.length; row += rowsPerBand) {
    const int64_t rows = std::min<int64_t>(rowsPerBand, page.length - row);
    ThrowIfFailed(image.ComposeBaseRows(row, rows, scratch_));
    SendDiffImage(scratch_, {0, static_cast<int32_t>(row)});
  }
}

ResultCode CPrintControl::ReceiveBitmap(HostBitmap& bitmap, const char* name) {
  if (name == nullptr) return result::kNullArgument;
  if (const ResultCode code = image.SetSourceBitmap(bitmap); code != result::kOk) return code;
  imageName = name;
  return result::kOk;
}

void CPrintControl::CreateNewPage() {
  variableKey_ = 0;
  command.AppendRaw(kFormatStart);
  command.AppendRaw(kPageCarryIn);
}

ResultCode CPrintControl::ReferToBaseBitmap(const DotPoint* position) {
  if (position == nullptr) return result::kBaseNullPosition;
  if (baseReferCount_ >= 1) {
    ++baseReferCount_;
    return result::kOk;
  }
  if (imageName != kBaseBitmapName) return result::kWrongBitmapName;
  return Guard([&] {
    const RasterPoint start = Moved(*position, LoadOffsetsInDots(services_.printer, resolution_));
    const Grid grid = MakeGrid(layout, resolution_);
    ThrowIfFailed(image.ComposeBaseImage(start, Page(), SaturateToInt32(grid.outerCount),
                                         SaturateToInt32(grid.innerCount), SaturateToInt32(grid.outerStep),
                                         SaturateToInt32(grid.innerStep)));
    SendBaseImage();
    basePosition_ = *position;
    ++baseReferCount_;
  });
}

ResultCode CPrintControl::ReferToVariableBitmap(const DotPoint* position, const char* name) {
  if (position == nullptr || name == nullptr) return result::kVariableNullArgument;
  if (imageName != name) return result::kWrongBitmapName;
  return Guard([&] {
    RasterPoint point = Moved(*position, LoadOffsetsInDots(services_.printer, resolution_));
    ThrowIfFailed(image.ComposeVariableImage(point, Page(), scratch_, variableKey_));
    if (!scratch_.Empty()) SendDiffImage(scratch_, {point.x, point.y});
    ++variableKey_;
  });
}

ResultCode CPrintControl::WriteClock(const char16_t* text, const DotPoint* position, int32_t fontHeight,
                                     const char16_t* faceName) {
  if (text == nullptr || position == nullptr || faceName == nullptr) return result::kClockBadArgument;
  // Clock positions are given on the label as the host laid it out; turn them with the layout.
  const int64_t x = position->x;
  const int64_t y = position->y;
  const int64_t w = headerWidth_;
  const int64_t l = headerLength_;
  DotPoint turned{};
  switch (layout.rotation) {
    case kRotation0: turned = {SaturateToInt32(x), SaturateToInt32(y)}; break;
    case kRotation90: turned = {SaturateToInt32(y), SaturateToInt32(l - x)}; break;
    case kRotation180: turned = {SaturateToInt32(w - x), SaturateToInt32(l - y)}; break;
    case kRotation270: turned = {SaturateToInt32(w - y), SaturateToInt32(x)}; break;
    default: return result::kClockBadArgument;
  }
  return Guard([&] {
    RasterPoint point = Moved(turned, LoadOffsetsInDots(services_.printer, resolution_));
    ThrowIfFailed(
        image.ComposeTextImage(point, Page(), text, fontHeight, faceName, layout.rotation, scratch_, variableKey_));
    if (!scratch_.Empty()) SendDiffImage(scratch_, {point.x, point.y});
    ++variableKey_;
  });
}

ResultCode CPrintControl::CloseNewPageStatic(int32_t copies) {
  if (copies < 1 || copies > kMaxCopies) return result::kNullArgument;
  extraCopies_ = copies - 1;
  const int64_t cells = int64_t{layout.labelRows} * layout.labelColumns;
  if (layout.labelRows <= 0 || layout.labelColumns <= 0) return result::kOk;
  const int64_t used = baseReferCount_ % cells;
  if (used <= 0) return result::kOk;
  return Guard([&] { BlankUnusedLabels(used); });
}

ResultCode CPrintControl::CloseNewPageDynamic(int32_t labelsUsed) {
  const int64_t cells = int64_t{layout.labelRows} * layout.labelColumns;
  if (layout.labelRows <= 0 || layout.labelColumns <= 0) return result::kOk;
  const int64_t used = labelsUsed % cells;
  if (used <= 0) return result::kOk;
  return Guard([&] { BlankUnusedLabels(used); });
}

void CPrintControl::BlankUnusedLabels(int64_t firstCell) {
  const Grid grid = MakeGrid(layout, resolution_);
  const TileSize cell = image.GetTileSize();
  if (cell.width <= 0 || cell.height <= 0) return;
  const OffsetsInDots offsets = LoadOffsetsInDots(services_.printer, resolution_);
  const int64_t originX = int64_t{basePosition_.x} + offsets.horizontal;
  const int64_t originY = int64_t{basePosition_.y} + offsets.vertical;
  // Only the rows and columns that can reach the page are walked.
  IndexRange outer = VisibleRange(originY, grid.outerStep, grid.outerCount, cell.height, labelLength_);
  IndexRange inner = VisibleRange(originX, grid.innerStep, grid.innerCount, cell.width, labelWidth_);
  // Along an axis without a pitch every cell lies on the same spot. The cell
  // index grows along both axes, so the last one decides whether that spot is
  // blanked; sending the same white cell once per cell would only repeat it,
  // up to thousands of millions of times for a huge layout.
  if (grid.outerStep == 0 && !outer.Empty()) outer.first = outer.last - 1;
  if (grid.innerStep == 0 && !inner.Empty()) inner.first = inner.last - 1;
  // The scratch raster may still hold the last variable image or clock: the
  // white cell is built afresh here, then reused while the size stays.
  bool whiteReady = false;
  for (int64_t j = outer.first; j < outer.last; ++j) {
    for (int64_t i = inner.first; i < inner.last; ++i) {
      if (grid.CellIndex(j, i, layout.labelColumns) < firstCell) continue;
      const int64_t x = originX + i * grid.innerStep;
      const int64_t y = originY + j * grid.outerStep;
      const int64_t left = std::max<int64_t>(0, -x);
      const int64_t top = std::max<int64_t>(0, -y);
      const int64_t right = std::max<int64_t>(0, x + cell.width - labelWidth_);
      const int64_t bottom = std::max<int64_t>(0, y + cell.height - labelLength_);
      const int64_t w = cell.width - left - right;
      const int64_t h = cell.height - top - bottom;
      if (w <= 0 || h <= 0) continue;
      if (!whiteReady || scratch_.width != w || scratch_.height != h) {
        MakeWhiteRaster(static_cast<int32_t>(w), static_cast<int32_t>(h), scratch_);
        whiteReady = true;
      }
      SendDiffImage(scratch_, {static_cast<int32_t>(std::max<int64_t>(0, x)),
                               static_cast<int32_t>(std::max<int64_t>(0, y))});
    }
  }
}

void CPrintControl::CloseNewPageFinal() {
  command.AppendRaw(kPageCarryOut);
  command.AppendRaw(kFormatEnd);
  // Each extra copy is an empty page format carrying the page over; at most
  // kMaxCopies - 1 of them, whatever was stored.
  constexpr std::string_view kEmptyCopy = "^XA^C(L^C(S^XZ";
  static_assert(kEmptyCopy.size() == kCopyFormatBytes);
  const int32_t copies = std::clamp(extraCopies_, 0, kMaxCopies - 1);
  for (int32_t copy = 0; copy < copies; ++copy) command.AppendRaw(kEmptyCopy);
}

ResultCode CPrintControl::AddEmptyPage() {
  return Guard([&] {
    CPrintImage::CreatePageCanvas(Page(), scratch_);
    command.AppendRaw(kFormatStart);
    SendDiffImage(scratch_, {0, 0});
    command.AppendRaw(kFormatEnd);
  });
}

ResultCode CPrintControl::ReferToLabel(const DotPoint* position, const char* name) {
  if (position == nullptr || name == nullptr) return result::kLabelNullArgument;
  if (imageName != name) return result::kWrongBitmapName;
  return Guard([&] {
    const RasterPoint point = Moved(*position, LoadOffsetsInDots(services_.printer, resolution_));
    ThrowIfFailed(image.ComposeStaticImage(point, Page(), scratch_));
    if (scratch_.Empty()) return;
    command.AppendRaw(kFormatStart);
    SendDiffImage(scratch_, {0, 0});
    command.AppendRaw(kFormatEnd);
  });
}
