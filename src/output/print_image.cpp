#include "output/print_image.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "output/grid_range.h"

namespace {

constexpr uint8_t kWhite = 0xFF;
constexpr uint16_t kMonochromeBits = 1;
constexpr int64_t kBitsPerByte = 8;
constexpr uint8_t kLeftmostBit = 0x80;
constexpr int64_t kMaxStride = std::numeric_limits<int32_t>::max();

// Largest byte count a raster may hold: a vector must be able to allocate it
// and every offset into it must fit a signed 64-bit index.
int64_t MaxRasterBytes() {
  const auto limit = std::min<uint64_t>(std::vector<uint8_t>{}.max_size(),
                                        static_cast<uint64_t>(std::numeric_limits<int64_t>::max()));
  return static_cast<int64_t>(limit);
}

// Byte count of `rows` rows of `stride` bytes, or -1 when no raster could hold it.
int64_t RasterBytes(int64_t stride, int64_t rows) {
  if (stride < 0 || rows < 0 || stride > kMaxStride) return -1;
  if (rows != 0 && stride > MaxRasterBytes() / rows) return -1;
  return stride * rows;
}

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
bool CopyRun(const RasterImage& from, int64_t fromRow, int64_t fromByte, RasterImage& to, int64_t toRow,
             int64_t toByte, int64_t count) {
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

// A restore strip: `columns` pixels of the base raster's row `baseRow` from
// column `baseColumn` on, written at `toByte` of the output's row `toRow`.
// What lies outside the base raster (beyond the page's right or bottom edge,
// where a wider earlier rectangle can reach) is written white rather than read
// from row padding or from past the last row.
bool CopyRestoreStrip(const RasterImage& base, int64_t baseRow, int64_t baseColumn, int64_t columns,
                      RasterImage& out, int64_t toRow, int64_t toByte) {
  const int64_t toOffset = toRow * out.stride + toByte;
  const int64_t bytes = columns * kBytesPerPixel;
  if (toRow < 0 || toByte < 0 || !RunInside(toOffset, bytes, out.pixels.size())) return false;
  std::memset(out.pixels.data() + toOffset, kWhite, static_cast<size_t>(bytes));
  if (baseRow < 0 || baseRow >= base.height || baseColumn < 0 || baseColumn >= base.width) return true;
  const int64_t onPage = std::min<int64_t>(columns, base.width - baseColumn);
  return CopyRun(base, baseRow, baseColumn * kBytesPerPixel, out, toRow, toByte, onPage * kBytesPerPixel);
}

// Along one axis of a tiled grid: the part of copy k's span [origin, origin +
// extent) that no later copy covers. Later copies overwrite earlier ones, and
// with a regular step the later ones form one run starting at the next copy,
// so what stays visible is a single interval.
struct Span {
  int64_t begin = 0;
  int64_t end = 0;
};

Span UncoveredSpan(int64_t origin, int64_t step, int64_t extent, bool lastCopy) {
  Span span{origin, origin + extent};
  if (lastCopy) return span;
  if (step == 0) return {origin, origin};  // the next copy lies exactly on top
  if (step > 0) {
    span.end = std::min(span.end, origin + step);
  } else {
    span.begin = std::max(span.begin, origin + step + extent);
  }
  return span;
}

// The grid indices worth visiting: those whose copy can reach the page. With
// a zero step every copy lands on the same place and only the last one shows.
IndexRange IndicesToVisit(int64_t start, int64_t step, int64_t count, int64_t extent, int64_t pageSize) {
  IndexRange range = VisibleRange(start, step, count, extent, pageSize);
  if (!range.Empty() && step == 0) range.first = range.last - 1;
  return range;
}

bool PageFitsRaster(PageSize page) {
  if (page.width <= 0 || page.length <= 0) return true;  // an empty canvas
  return RasterBytes(RasterStride(page.width), page.length) >= 0;
}

}  // namespace

void ExpandMonochrome(const DibRows& rows, RasterImage& out) {
  out.Clear();
  if (rows.bitCount != kMonochromeBits || rows.width <= 0 || rows.height <= 0) return;
  const int64_t width = rows.width;
  const int64_t height = rows.height;
  const int64_t sourceStep = static_cast<int64_t>(rows.bytes.size() / static_cast<uint64_t>(height));
  if (sourceStep < (width + kBitsPerByte - 1) / kBitsPerByte) return;  // rows shorter than the width
  const int64_t stride = RasterStride(width);
  const int64_t bytes = RasterBytes(stride, height);
  if (bytes < 0) return;

  out.pixels.assign(static_cast<size_t>(bytes), 0);
  for (int64_t y = 0; y < height; ++y) {
    const uint8_t* source = rows.bytes.data() + y * sourceStep;
    uint8_t* target = out.pixels.data() + y * stride;
    for (int64_t i = 0; i < width; ++i) {
      const auto mask = static_cast<uint8_t>(kLeftmostBit >> (i % kBitsPerByte));
      if ((source[i / kBitsPerByte] & mask) != 0) std::memset(target + i * kBytesPerPixel, kWhite, kBytesPerPixel);
    }
  }
  out.width = rows.width;
  out.height = rows.height;
  out.stride = static_cast<int32_t>(stride);
  out.bitsPerPixel = kRasterBitsPerPixel;
}

ResultCode CPrintImage::SetSourceBitmap(HostBitmap& bitmap) {
  if (!source_.pixels.empty()) return result::kBadSourceBitmap;
  DibRows rows;
  if (bitmap.Read(rows) != result::kOk) return result::kBadSourceBitmap;
  if (rows.width <= 0 || rows.height <= 0) return result::kBadSourceBitmap;

  if (rows.bitCount == kMonochromeBits) {
    ExpandMonochrome(rows, source_);
    return source_.Empty() ? result::kBadSourceBitmap : result::kOk;
  }
  if (rows.bitCount != kRasterBitsPerPixel) return result::kBadSourceBitmap;

  // 24-bit rows are kept as delivered; the row step is what the platform used.
  const int64_t stride = static_cast<int64_t>(rows.bytes.size() / static_cast<uint64_t>(rows.height));
  if (stride < int64_t{rows.width} * kBytesPerPixel || stride > kMaxStride) return result::kBadSourceBitmap;
  rows.bytes.resize(static_cast<size_t>(stride * rows.height));
  source_.pixels = std::move(rows.bytes);
  source_.width = rows.width;
  source_.height = rows.height;
  source_.stride = static_cast<int32_t>(stride);
  source_.bitsPerPixel = kRasterBitsPerPixel;
  return result::kOk;
}

void CPrintImage::CreatePageCanvas(PageSize page, RasterImage& out) {
  out.Clear();
  if (page.width <= 0 || page.length <= 0) return;
  const int64_t stride = RasterStride(page.width);
  const int64_t bytes = RasterBytes(stride, page.length);
  if (bytes < 0) throw std::bad_alloc();  // no raster of this size can be held
  out.pixels.assign(static_cast<size_t>(bytes), kWhite);
  const int64_t rowBytes = int64_t{page.width} * kBytesPerPixel;
  if (stride != rowBytes) {
    for (int64_t y = 0; y < page.length; ++y) {
      std::memset(out.pixels.data() + y * stride + rowBytes, 0, static_cast<size_t>(stride - rowBytes));
    }
  }
  out.width = page.width;
  out.height = page.length;
  out.stride = static_cast<int32_t>(stride);
  out.bitsPerPixel = kRasterBitsPerPixel;
}

ResultCode CPrintImage::PlaceTiled(RasterPoint position, PageSize page, RasterImage& out, int32_t rows,
                                   int32_t columns, int32_t verticalPitch, int32_t horizontalPitch) const {
  if (!WellFormed(source_) || !PageFitsRaster(page)) return result::kStaticCompose;
  CreatePageCanvas(page, out);
  const int64_t width = source_.width;
  const int64_t height = source_.height;
  const IndexRange rowRange = IndicesToVisit(position.y, verticalPitch, rows, height, page.length);
  const IndexRange columnRange = IndicesToVisit(position.x, horizontalPitch, columns, width, page.width);
  // Each copy writes only the part no later copy overwrites, so every page
  // pixel is written at most once however densely the grid overlaps.
  for (int64_t i = rowRange.first; i < rowRange.last; ++i) {
    const int64_t y = position.y + i * verticalPitch;
    const Span rowSpan = UncoveredSpan(y, verticalPitch, height, i == rows - 1);
    const int64_t top = std::max<int64_t>(rowSpan.begin, 0);
    const int64_t bottom = std::min<int64_t>(rowSpan.end, page.length);
    if (top >= bottom) continue;
    for (int64_t j = columnRange.first; j < columnRange.last; ++j) {
      const int64_t x = position.x + j * horizontalPitch;
      const Span columnSpan = UncoveredSpan(x, horizontalPitch, width, j == columns - 1);
      const int64_t left = std::max<int64_t>(columnSpan.begin, 0);
      const int64_t right = std::min<int64_t>(columnSpan.end, page.width);
      if (left >= right) continue;
      const int64_t runBytes = (right - left) * kBytesPerPixel;
      for (int64_t row = top; row < bottom; ++row) {
        if (!CopyRun(source_, row - y, (left - x) * kBytesPerPixel, out, row, left * kBytesPerPixel, runBytes)) {
          return result::kStaticCompose;
        }
      }
    }
  }
  return result::kOk;
}

ResultCode CPrintImage::ComposeBaseImage(RasterPoint position, PageSize page, int32_t rows, int32_t columns,
                                         int32_t verticalPitch, int32_t horizontalPitch) {
  if (base_.Empty()) {
    const ResultCode code = PlaceTiled(position, page, base_, rows, columns, verticalPitch, horizontalPitch);
    if (code != result::kOk) {
      // A half-built base must not be taken for a composed one by the next call.
      base_.Clear();
      return code;
    }
    if (rows > 1 || columns > 1) tileSize_ = {source_.width, source_.height};
  }
  source_.Clear();
  return result::kOk;
}

ResultCode CPrintImage::ComposeStaticImage(RasterPoint position, PageSize page, RasterImage& out) {
  const ResultCode code = PlaceTiled(position, page, out, 1, 1, 0, 0);
  if (code == result::kOk) source_.Clear();
  return code;
}

ResultCode CPrintImage::ComposeVariableImage(RasterPoint& position, PageSize page, RasterImage& out, int32_t key) {
  if (!WellFormed(source_)) return result::kVariableCompose;
  out.pixels.clear();

  // Clip to the page, in 64 bits: host positions may lie anywhere.
  const int64_t x = position.x;
  const int64_t y = position.y;
  const int64_t sourceWidth = source_.width;
  const int64_t sourceHeight = source_.height;
  const int64_t leftCut = std::max<int64_t>(0, -x);
  const int64_t topCut = std::max<int64_t>(0, -y);
  const int64_t xs = std::max<int64_t>(0, x);
  const int64_t ys = std::max<int64_t>(0, y);
  const int64_t w = sourceWidth - std::max<int64_t>(0, x + sourceWidth - page.width) - leftCut;
  const int64_t h = sourceHeight - std::max<int64_t>(0, y + sourceHeight - page.length) - topCut;
  if (w <= 0 || h <= 0) {
    // Nothing of it lands on the page: nothing to send, and the element's
    // previous rectangle stays remembered.
    out.Clear();
    source_.Clear();
    return result::kOk;
  }

  // Widen over the rectangle this element covered last time, so that the
  // part the new image no longer covers is restored from the base raster.
  int64_t outWidth = w;
  int64_t rightExtension = 0;
  int64_t topExtension = 0;
  int64_t bottomExtension = 0;
  int64_t outTop = ys;
  if (const auto previous = areaSizes_.find(key); previous != areaSizes_.end()) {
    const AreaSize& size = previous->second;
    const RasterPoint& at = areaPositions_.at(key);
    if (size.width > w) {
      rightExtension = size.width - w;
      outWidth = size.width;
    }
    if (ys > at.y) {
      topExtension = ys - at.y;
      outTop = std::max<int64_t>(0, at.y);
    }
    if (ys + h < int64_t{at.y} + size.height) bottomExtension = int64_t{at.y} + size.height - (ys + h);
  }
  const bool restores = rightExtension > 0 || topExtension > 0 || bottomExtension > 0;
  if (restores && !WellFormed(base_)) return result::kVariableCompose;

  // The usual case in steady printing: the whole source lands on the page and
  // covers at least its old rectangle. The output is then the source itself:
  // hand its pixels over rather than copy them, clearing only the row padding.
  if (!restores && leftCut == 0 && topCut == 0 && w == sourceWidth && h == sourceHeight &&
      source_.stride == RasterStride(w)) {
    std::swap(out.pixels, source_.pixels);
    const int64_t rowBytes = w * kBytesPerPixel;
    if (source_.stride != rowBytes) {
      for (int64_t row = 0; row < h; ++row) {
        std::memset(out.pixels.data() + row * source_.stride + rowBytes, 0,
                    static_cast<size_t>(source_.stride - rowBytes));
      }
    }
    out.width = source_.width;
    out.height = source_.height;
    out.stride = source_.stride;
    out.bitsPerPixel = source_.bitsPerPixel;
    areaSizes_[key] = {static_cast<int32_t>(w), static_cast<int32_t>(h), source_.stride};
    areaPositions_[key] = {static_cast<int32_t>(xs), static_cast<int32_t>(ys)};
    position = {static_cast<int32_t>(xs), static_cast<int32_t>(ys)};
    source_.Clear();
    return result::kOk;
  }

  const int64_t outHeight = topExtension + h + bottomExtension;
  const int64_t outStride = RasterStride(outWidth);
  const int64_t outBytes = RasterBytes(outStride, outHeight);
  if (outBytes < 0) return result::kVariableCompose;
  out.pixels.assign(static_cast<size_t>(outBytes), 0);
  out.width = static_cast<int32_t>(outWidth);
  out.height = static_cast<int32_t>(outHeight);
  out.stride = static_cast<int32_t>(outStride);
  out.bitsPerPixel = source_.bitsPerPixel;

  int64_t row = 0;
  for (int64_t i = 0; i < topExtension; ++i, ++row) {
    if (!CopyRestoreStrip(base_, outTop + i, xs, outWidth, out, row, 0)) return result::kVariableCompose;
  }
  for (int64_t i = 0; i < h; ++i, ++row) {
    if (!CopyRun(source_, topCut + i, leftCut * kBytesPerPixel, out, row, 0, w * kBytesPerPixel)) {
      return result::kVariableCompose;
    }
    if (rightExtension > 0 &&
        !CopyRestoreStrip(base_, ys + i, xs + w, rightExtension, out, row, w * kBytesPerPixel)) {
      return result::kVariableCompose;
    }
  }
  for (int64_t i = 0; i < bottomExtension; ++i, ++row) {
    if (!CopyRestoreStrip(base_, ys + h + i, xs, outWidth, out, row, 0)) return result::kVariableCompose;
  }

  // Remember the image's own rectangle, not the widened one.
  areaSizes_[key] = {static_cast<int32_t>(w), static_cast<int32_t>(h), static_cast<int32_t>(RasterStride(w))};
  areaPositions_[key] = {static_cast<int32_t>(xs), static_cast<int32_t>(ys)};
  position = {static_cast<int32_t>(xs), static_cast<int32_t>(outTop)};
  source_.Clear();
  return result::kOk;
}

ResultCode CPrintImage::ComposeTextImage(RasterPoint& position, PageSize page, const char16_t* text,
                                         int32_t fontHeight, const char16_t* faceName, int32_t rotation,
                                         RasterImage& out, int32_t key) {
  if (text == nullptr || faceName == nullptr || fontHeight < 0) return result::kBadTextArgument;
  const std::u16string_view message(text);
  if (message.empty()) {
    // Nothing to print; the output must not still hold an earlier image,
    // which the caller would otherwise send again.
    out.Clear();
    return result::kOk;
  }
  RasterPoint at = position;
  rendered_.Clear();
  const ResultCode drawn = text_.RenderMessageText(at, message, fontHeight, faceName, rotation, rendered_);
  if (drawn != result::kOk) return drawn;
  if (rendered_.Empty() || rendered_.width <= 0 || rendered_.height <= 0) {
    out.Clear();  // a text without extent (only line breaks): nothing to print
    return result::kOk;
  }
  // The rendered text becomes the source for the placement; a failing
  // placement puts back the source as it was before this call.
  std::swap(source_, rendered_);
  const ResultCode placed = ComposeVariableImage(at, page, out, key);
  if (placed != result::kOk) {
    std::swap(source_, rendered_);
    return placed;
  }
  rendered_.Clear();
  position = at;
  return result::kOk;
}

void CPrintImage::Reset() {
  source_.Clear();
  base_.Clear();
  rendered_.Clear();
  areaSizes_.clear();
  areaPositions_.clear();
  tileSize_ = {};
}
