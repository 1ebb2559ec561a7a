#include "output/band_emitter.h"

#include <algorithm>
#include <cstddef>

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

ResultCode CBandEmitter::SendRaster(const RasterImage& raster, DotPoint start) {
  const int64_t width = raster.width;
  const int64_t height = raster.height;
  if (width <= 0 || height <= 0) return result::kOk;
  const int64_t rowsPerBand = RowsPerBand(width);
  const PngWriteSettings settings;
  const auto dpi = static_cast<uint32_t>(resolution_);
  const auto rowBytes = static_cast<size_t>(width * kBytesPerPixel);
  // A plain raster (one row standing for all) gives the same PNG for every
  // band of the same row and height, white pages and white cells alike: it
  // is encoded once.
  const bool plain = raster.stride == 0;
  for (int64_t row = 0; row < height; row += rowsPerBand) {
    const int64_t rows = std::min(rowsPerBand, height - row);
    const bool encoded = plain && pngBand_.rows == rows && pngBand_.row.size() == rowBytes &&
                         std::equal(pngBand_.row.begin(), pngBand_.row.end(), raster.pixels.begin());
    if (!encoded) {
      pngBand_.rows = 0;
      // Each band is encoded straight from the raster's rows: no copy of the band.
      const uint8_t* first = raster.pixels.data() + row * raster.stride;
      if (const ResultCode code =
              settings.EncodePng(png_, first, static_cast<uint32_t>(width), static_cast<uint32_t>(rows),
                                 static_cast<uint32_t>(raster.stride), dpi, dpi);
          code != result::kOk) {
        return code;
      }
      if (plain) {
        pngBand_.row.assign(raster.pixels.begin(), raster.pixels.begin() + static_cast<std::ptrdiff_t>(rowBytes));
        pngBand_.rows = rows;
      }
    }
    command_.AppendImageDownload(kDiffImageName, png_);
    command_.AppendImageRecall(kDiffImageName,
                               {std::max(0, start.x), SaturateToInt32(std::max<int64_t>(0, int64_t{start.y} + row))});
  }
  return result::kOk;
}

ResultCode CBandEmitter::SendComposed(CPrintImage& image, const PageModel& page, const DotRect& window) {
  // The bands are those SendRaster would cut the whole window into.
  if (window.Empty()) return result::kOk;
  const int64_t rowsPerBand = RowsPerBand(window.width);
  for (int64_t row = 0; row < window.height; row += rowsPerBand) {
    const int64_t rows = std::min<int64_t>(rowsPerBand, window.height - row);
    ResultCode code = image.ComposeWindow(page, {window.x, window.y + row, window.width, rows}, band_);
    if (code == result::kOk) {
      code = SendRaster(band_, {static_cast<int32_t>(window.x), static_cast<int32_t>(window.y + row)});
    }
    if (code != result::kOk) return code;
  }
  return result::kOk;
}

ResultCode CBandEmitter::SendWhite(DotSize size, DotPoint start) {
  if (white_.Empty() || white_.width != size.width || white_.height != size.height) {
    SetUpPlainRaster(white_, size.width, size.height, RasterFill::kWhite);
  }
  return SendRaster(white_, start);
}
