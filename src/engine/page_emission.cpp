// Emission: what page assembly placed goes out. A window of the composed
// page is cut into bands, each band encoded as PNG, downloaded under the one
// image name and recalled at once; then the page model notes what the
// printer holds.
#include <algorithm>
#include <cstddef>

#include "engine/print_control.h"
#include "output/png_encoder.h"
#include "platform/saturate.h"

namespace {

constexpr int64_t kBandPixels = 1071360;
constexpr int64_t kBandMaxRows = 2976;

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
  const auto rowBytes = static_cast<size_t>(width * kBytesPerPixel);
  for (int64_t row = 0; row < height; row += rowsPerBand) {
    const int64_t rows = std::min(rowsPerBand, height - row);
    // A plain raster (one row standing for all) gives the same PNG for
    // every band of the same row and height, white pages and white cells
    // alike: it is encoded once.
    const bool plain = raster.stride == 0;
    PlainBand& band = pngBufferBand_;
    const bool encoded = plain && band.rows == rows && band.dpi == resolution_ && band.row.size() == rowBytes &&
                         std::equal(band.row.begin(), band.row.end(), raster.pixels.begin());
    if (!encoded) {
      band.rows = 0;
      // Each band is encoded straight from the raster's rows: no copy of the band.
      const uint8_t* first = raster.pixels.data() + row * raster.stride;
      if (const ResultCode code =
              settings.EncodePng(pngBuffer_, first, static_cast<uint32_t>(width), static_cast<uint32_t>(rows),
                                 static_cast<uint32_t>(raster.stride), dpi, dpi);
          code != result::kOk) {
        return code;
      }
      if (plain) {
        band.row.assign(raster.pixels.begin(), raster.pixels.begin() + static_cast<std::ptrdiff_t>(rowBytes));
        band.rows = rows;
        band.dpi = resolution_;
      }
    }
    command_.AppendImageDownload(kDiffImageName, pngBuffer_);
    command_.AppendImageRecall(kDiffImageName,
                               {std::max(0, start.x), SaturateToInt32(std::max<int64_t>(0, int64_t{start.y} + row))});
  }
  return result::kOk;
}

ResultCode CPrintControl::SendOnPage(const RasterImage& raster, DotPoint at) {
  if (const ResultCode code = SendDiffImage(raster, at); code != result::kOk) return code;
  page_.NoteSent({at.x, at.y, raster.width, raster.height}, LabelSize());
  return result::kOk;
}

ResultCode CPrintControl::SendComposedWindow(const DotRect& window) {
  // Composed band by band, just before each band is encoded: a large window,
  // the whole base page among them, is never held at once. The bands are
  // those SendDiffImage would cut the whole window into.
  if (window.Empty()) return result::kOk;
  const int64_t rowsPerBand = RowsPerBand(window.width);
  for (int64_t row = 0; row < window.height; row += rowsPerBand) {
    const int64_t rows = std::min<int64_t>(rowsPerBand, window.height - row);
    ResultCode code = image_.ComposeWindow(page_, {window.x, window.y + row, window.width, rows}, scratch_);
    if (code == result::kOk) {
      code = SendDiffImage(scratch_, {static_cast<int32_t>(window.x), static_cast<int32_t>(window.y + row)});
    }
    if (code != result::kOk) return code;
  }
  page_.NoteSent(window, LabelSize());
  return result::kOk;
}

ResultCode CPrintControl::CoverPageOnce() {
  if (page_.JobCoveredPage()) return result::kOk;
  return SendComposedWindow(WholePage(LabelSize()));
}

ResultCode CPrintControl::SendLabelFormat(const RasterImage& page) {
  command_.BeginLabel();
  if (const ResultCode code = SendDiffImage(page, {0, 0}); code != result::kOk) return code;
  command_.EndLabel();
  return result::kOk;
}
