#include "output/print_image.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "output/grid_range.h"

namespace {

constexpr uint8_t kWhite = 0xFF;
constexpr uint16_t kMonochromeBits = 1;
constexpr int64_t kBitsPerByte = 8;
constexpr uint8_t kLeftmostBit = 0x80;

// A filled raster whose fields agree with its pixels, so that every row run
// computed from width, height and stride lies inside the pixel array.
bool WellFormed(const RasterImage& raster) {
  if (raster.Empty() || raster.bitsPerPixel != kRasterBitsPerPixel) return false;
  if (raster.width <= 0 || raster.height <= 0) return false;
  if (raster.stride < int64_t{raster.width} * kBytesPerPixel) return false;
  const int64_t bytes = RasterBytes(raster.stride, raster.height);
  return bytes >= 0 && static_cast<uint64_t>(bytes) <= raster.pixels.size();
}

// True when [offset, offset + count) lies inside an array of `size` bytes.
bool RunInside(int64_t offset, int64_t count, size_t size) {
  return offset >= 0 && count >= 0 && static_cast<uint64_t>(offset) <= size &&
         static_cast<uint64_t>(count) <= size - static_cast<uint64_t>(offset);
}

// Copies `count` bytes from row `fromRow` (starting `fromByte` into the row)
// of `from` into row `toRow` (starting `toByte`) of `to`. False, copying
// nothing, when either run would leave its pixel array.
bool CopyRun(const RasterImage& from, int64_t fromRow, int64_t fromByte, RasterImage& to, int64_t toRow, int64_t toByte,
             int64_t count) {
  if (fromRow < 0 || toRow < 0 || fromByte < 0 || toByte < 0) return false;
  const int64_t fromOffset = fromRow * from.stride + fromByte;
  const int64_t toOffset = toRow * to.stride + toByte;
  if (!RunInside(fromOffset, count, from.pixels.size()) || !RunInside(toOffset, count, to.pixels.size())) {
    return false;
  }
  if (count > 0) {
    std::memcpy(to.pixels.data() + toOffset, from.pixels.data() + fromOffset, static_cast<size_t>(count));
  }
  return true;
}

// Along one axis of a tiled grid: the part of copy k's span [origin, origin +
// extent) that no later copy covers. Later copies overwrite earlier ones, and
// with a regular step the later ones form one run starting at the next copy,
// so what stays visible is a single interval.
Interval UncoveredSpan(int64_t origin, int64_t step, int64_t extent, bool lastCopy) {
  Interval span{origin, origin + extent};
  if (lastCopy) return span;
  if (step == 0) return {origin, origin};  // the next copy lies exactly on top
  if (step > 0) {
    span.end = std::min(span.end, origin + step);
  } else {
    span.begin = std::max(span.begin, origin + step + extent);
  }
  return span;
}

// A run of window columns [begin, end) that one copy of the tile shows.
struct TileRun {
  int64_t begin;
  int64_t end;
  int64_t tileByte;  // where the run starts in a tile row
};

// The runs the copies `copies` of a grid row show in the page columns [x0,
// x1), left to right, as window columns (x0 is the window's column 0).
std::vector<TileRun> ColumnRuns(int64_t originX, int64_t pitch, int64_t count, int64_t width, Interval copies,
                                int64_t x0, int64_t x1) {
  std::vector<TileRun> runs;
  for (int64_t j = copies.begin; j < copies.end; ++j) {
    const int64_t x = originX + j * pitch;
    const Interval span = UncoveredSpan(x, pitch, width, j == count - 1);
    const int64_t left = std::max(span.begin, x0);
    const int64_t right = std::min(span.end, x1);
    if (left < right) runs.push_back({left - x0, right - x0, (left - x) * kBytesPerPixel});
  }
  std::sort(runs.begin(), runs.end(), [](const TileRun& a, const TileRun& b) { return a.begin < b.begin; });
  return runs;
}

bool PageFitsRaster(DotSize page) {
  if (page.width <= 0 || page.height <= 0) return true;  // an empty canvas
  return RasterBytes(RasterStride(page.width), page.height) >= 0;
}

}  // namespace

ResultCode ExpandMonochrome(const DibRows& rows, RasterImage& out) {
  out.Clear();
  if (rows.bitCount != kMonochromeBits || rows.width <= 0 || rows.height <= 0) return result::kBadSourceBitmap;
  const int64_t width = rows.width;
  const int64_t height = rows.height;
  const int64_t sourceStep = static_cast<int64_t>(rows.bytes.size() / static_cast<uint64_t>(height));
  if (sourceStep < (width + kBitsPerByte - 1) / kBitsPerByte) {
    return result::kBadSourceBitmap;  // rows shorter than the width
  }
  if (!SetUpRaster(out, width, height, RasterFill::kZero)) return result::kBadSourceBitmap;
  const int64_t stride = out.stride;
  for (int64_t y = 0; y < height; ++y) {
    const uint8_t* source = rows.bytes.data() + y * sourceStep;
    uint8_t* target = out.pixels.data() + y * stride;
    for (int64_t i = 0; i < width; ++i) {
      const auto mask = static_cast<uint8_t>(kLeftmostBit >> (i % kBitsPerByte));
      if ((source[i / kBitsPerByte] & mask) != 0) std::memset(target + i * kBytesPerPixel, kWhite, kBytesPerPixel);
    }
  }
  return result::kOk;
}

ResultCode CPrintImage::SetSourceBitmap(HostBitmap& bitmap) {
  if (!source_.pixels.empty()) return result::kBadSourceBitmap;
  DibRows rows;
  if (bitmap.Read(rows) != result::kOk) return result::kBadSourceBitmap;
  if (rows.width <= 0 || rows.height <= 0) return result::kBadSourceBitmap;

  if (rows.bitCount == kMonochromeBits) {
    return ExpandMonochrome(rows, source_);
  }
  if (rows.bitCount != kRasterBitsPerPixel) return result::kBadSourceBitmap;

  // 24-bit rows are kept as delivered; the row step is what the platform used.
  const int64_t stride = static_cast<int64_t>(rows.bytes.size() / static_cast<uint64_t>(rows.height));
  if (stride < int64_t{rows.width} * kBytesPerPixel || stride > kMaxRasterStride) return result::kBadSourceBitmap;
  rows.bytes.resize(static_cast<size_t>(stride * rows.height));
  source_.pixels = std::move(rows.bytes);
  source_.width = rows.width;
  source_.height = rows.height;
  source_.stride = static_cast<int32_t>(stride);
  source_.bitsPerPixel = kRasterBitsPerPixel;
  return result::kOk;
}

void CPrintImage::CreatePageCanvas(DotSize page, RasterImage& out) {
  SetUpRasterOrThrow(out, page.width, page.height, RasterFill::kWhite);
}

ResultCode CPrintImage::PlaceTiled(const RasterImage& tile, const BaseGrid& grid, const DotRect& window,
                                   RasterImage& out) {
  if (!WellFormed(tile)) return result::kStaticCompose;
  const int64_t x0 = std::max<int64_t>(0, window.x);
  const int64_t y0 = std::max<int64_t>(0, window.y);
  const int64_t x1 = std::min<int64_t>(grid.page.width, window.x + window.width);
  const int64_t y1 = std::min<int64_t>(grid.page.height, window.y + window.height);
  out.Clear();
  if (x1 <= x0 || y1 <= y0) return result::kOk;
  const int64_t outWidth = x1 - x0;
  const int64_t outHeight = y1 - y0;
  // Every byte is written exactly once below, so the storage is not filled
  // first: a reused raster of the same size costs nothing here.
  SetUpRasterOrThrow(out, outWidth, outHeight, RasterFill::kUnset);
  const int64_t stride = out.stride;

  const int64_t width = tile.width;
  const int64_t height = tile.height;
  // Only the copies that reach the window are visited. Each shows only the
  // part no later copy covers, so along each axis the visible parts of the
  // copies are disjoint spans: every window pixel belongs to at most one copy.
  const Interval rowRange = IndicesToVisit(grid.origin.y - y0, grid.outerStep, grid.outerCount, height, outHeight);
  const Interval columnRange = IndicesToVisit(grid.origin.x - x0, grid.innerStep, grid.innerCount, width, outWidth);
  const std::vector<TileRun> runs =
      ColumnRuns(grid.origin.x, grid.innerStep, grid.innerCount, width, columnRange, x0, x1);

  const int64_t rowBytes = outWidth * kBytesPerPixel;
  const auto whiteRow = [&](int64_t row, int64_t fromByte, int64_t toByte) {
    std::memset(out.pixels.data() + row * stride + fromByte, kWhite, static_cast<size_t>(toByte - fromByte));
  };
  // Rows no copy reaches are white; the others take the tile's runs with white between them.
  int64_t nextRow = 0;
  const auto fillPlainRows = [&](int64_t until) {
    for (; nextRow < until; ++nextRow) whiteRow(nextRow, 0, rowBytes);
  };
  const auto tileRow = [&](int64_t i, int64_t& top, int64_t& bottom, int64_t& y) {
    y = grid.origin.y + i * grid.outerStep;
    const Interval span = UncoveredSpan(y, grid.outerStep, height, i == grid.outerCount - 1);
    top = std::max(span.begin, y0) - y0;
    bottom = std::min(span.end, y1) - y0;
  };
  // Copies further down the page come later in the grid for a positive
  // pitch and earlier for a negative one: walk them top to bottom.
  const bool downwards = grid.outerStep >= 0;
  for (int64_t k = rowRange.begin; k < rowRange.end; ++k) {
    const int64_t i = downwards ? k : rowRange.end - 1 - (k - rowRange.begin);
    int64_t top = 0, bottom = 0, y = 0;
    tileRow(i, top, bottom, y);
    if (top >= bottom) continue;
    fillPlainRows(top);
    for (int64_t row = top; row < bottom; ++row, ++nextRow) {
      int64_t at = 0;
      for (const TileRun& run : runs) {
        if (run.begin * kBytesPerPixel > at) whiteRow(row, at, run.begin * kBytesPerPixel);
        if (!CopyRun(tile, row + y0 - y, run.tileByte, out, row, run.begin * kBytesPerPixel,
                     (run.end - run.begin) * kBytesPerPixel)) {
          return result::kStaticCompose;
        }
        at = run.end * kBytesPerPixel;
      }
      if (at < rowBytes) whiteRow(row, at, rowBytes);
    }
  }
  fillPlainRows(outHeight);
  ClearRowPadding(out.pixels.data(), stride, rowBytes, outHeight);
  return result::kOk;
}

bool CPrintImage::TakeSource(RasterImage& into) {
  if (!WellFormed(source_)) return false;
  std::swap(into, source_);
  source_.Clear();
  return true;
}

bool CPrintImage::PageFits(DotSize size) { return PageFitsRaster(size); }

bool CPrintImage::CopyRestoreBlock(const RasterImage& tile, const BaseGrid& grid, int64_t row, int64_t column,
                                   int64_t rows, int64_t columns, RasterImage& out, int64_t toRow, int64_t toByte) {
  const int64_t bytes = columns * kBytesPerPixel;
  if (toRow < 0 || toByte < 0 || rows < 0) return false;
  if (rows > 0 && !RunInside((toRow + rows - 1) * out.stride + toByte, bytes, out.pixels.size())) return false;
  // The part on the page is composed from the base in one window; what lies
  // beyond the page's right or bottom edge (where a wider earlier rectangle
  // can reach) is white.
  const DotSize page = grid.page;
  const int64_t firstOnPage = std::max<int64_t>(row, 0);
  const int64_t endOnPage = std::min<int64_t>(row + rows, page.height);
  const int64_t onPage = column >= 0 && column < page.width ? std::min<int64_t>(columns, page.width - column) : 0;
  const bool composed = onPage > 0 && firstOnPage < endOnPage;
  if (composed &&
      (PlaceTiled(tile, grid, {column, firstOnPage, onPage, endOnPage - firstOnPage}, strip_) != result::kOk ||
       strip_.width != onPage || strip_.height != endOnPage - firstOnPage)) {
    return false;
  }
  for (int64_t i = 0; i < rows; ++i) {
    uint8_t* target = out.pixels.data() + (toRow + i) * out.stride + toByte;
    const int64_t pageRow = row + i;
    int64_t copied = 0;
    if (composed && pageRow >= firstOnPage && pageRow < endOnPage) {
      copied = onPage * kBytesPerPixel;
      const uint8_t* from = strip_.pixels.data() + (pageRow - firstOnPage) * strip_.stride;
      std::memcpy(target, from, static_cast<size_t>(copied));
    }
    std::memset(target + copied, kWhite, static_cast<size_t>(bytes - copied));
  }
  return true;
}

ResultCode CPrintImage::ComposeStaticImage(DotPoint position, DotSize page, RasterImage& out) {
  if (!WellFormed(source_) || !PageFitsRaster(page)) return result::kStaticCompose;
  BaseGrid single;
  single.origin = position;
  single.page = page;
  single.outerCount = 1;
  single.innerCount = 1;
  const ResultCode code = PlaceTiled(source_, single, WholePage(page), out);
  if (code == result::kOk) source_.Clear();
  return code;
}

ResultCode CPrintImage::CutSourceToPage(DotPoint position, DotSize page, DotRect& placed, RasterImage& pixels) {
  if (!WellFormed(source_)) return result::kVariableCompose;
  // In 64 bits: host positions may lie anywhere.
  placed = Intersection({position.x, position.y, source_.width, source_.height}, WholePage(page));
  if (!placed.Empty()) {
    const int64_t leftCut = placed.x - position.x;
    const int64_t topCut = placed.y - position.y;
    const int64_t w = placed.width;
    const int64_t h = placed.height;
    const int64_t stride = RasterStride(w);
    if (w == source_.width && h == source_.height && source_.stride == stride) {
      // The usual case: the whole source lands on the page. Its pixels are
      // handed over rather than copied; only the row padding is cleared.
      std::swap(pixels, source_);
      ClearRowPadding(pixels.pixels.data(), stride, w * kBytesPerPixel, h);
    } else {
      // Each row is copied whole; only the padding after it is cleared.
      if (!SetUpRaster(pixels, w, h, RasterFill::kUnset)) return result::kVariableCompose;
      for (int64_t i = 0; i < h; ++i) {
        if (!CopyRun(source_, topCut + i, leftCut * kBytesPerPixel, pixels, i, 0, w * kBytesPerPixel)) {
          pixels.Clear();
          return result::kVariableCompose;
        }
      }
      ClearRowPadding(pixels.pixels.data(), stride, w * kBytesPerPixel, h);
    }
  }
  // Nothing of it may land on the page: nothing to place then.
  source_.Clear();
  return result::kOk;
}

ResultCode CPrintImage::RenderTextSource(DotPoint& position, std::u16string_view text, int32_t fontHeight,
                                         std::u16string_view faceName, int32_t rotation, bool& drawn) {
  drawn = false;
  if (fontHeight < 0) return result::kBadTextArgument;
  if (text.empty()) return result::kOk;  // nothing to print, and the bitmap waiting stays
  DotPoint at = position;
  rendered_.Clear();
  const ResultCode code = text_.RenderMessageText(at, text, fontHeight, faceName, rotation, rendered_);
  if (code != result::kOk) return code;
  // A text without extent (only line breaks) prints nothing either.
  if (rendered_.Empty() || rendered_.width <= 0 || rendered_.height <= 0) return result::kOk;
  std::swap(source_, rendered_);
  rendered_.Clear();
  position = at;
  drawn = true;
  return result::kOk;
}

void CPrintImage::Reset() {
  BeginJob();
  strip_.Clear();
}

void CPrintImage::BeginJob() {
  source_.Clear();
  rendered_.Clear();
}

ResultCode CPrintImage::ComposeWindow(const PageModel& page, const DotRect& window, RasterImage& out) {
  const BaseGrid& grid = page.Grid();
  const DotRect pageRect = WholePage(grid.page);
  out.Clear();
  if (window.Empty()) return result::kOk;
  const bool onBase = page.OnBase() && page.HasBase();
  if (onBase && pageRect.Contains(window)) {
    // Every byte of the window is written by the tiling itself.
    const ResultCode tiled = PlaceTiled(page.Tile(), grid, window, out);
    if (tiled != result::kOk) return tiled;
    if (out.width != window.width || out.height != window.height) return result::kStaticCompose;
  } else if (onBase) {
    // The restore writes every pixel of every row; the padding is cleared after.
    SetUpRasterOrThrow(out, window.width, window.height, RasterFill::kUnset);
    if (!CopyRestoreBlock(page.Tile(), grid, window.y, window.x, window.height, window.width, out, 0, 0)) {
      return result::kStaticCompose;
    }
    ClearRowPadding(out.pixels.data(), out.stride, window.width * kBytesPerPixel, window.height);
  } else {
    SetUpRasterOrThrow(out, window.width, window.height, RasterFill::kWhite);
  }
  page.PaintOver(window, out);
  return result::kOk;
}
