#include "output/print_image.h"

#include <cstring>

// Interim: the compositions arrive with the label raster work.
ResultCode CPrintImage::SetSourceBitmap(HostBitmap&) { return result::kBadSourceBitmap; }
ResultCode CPrintImage::ComposeBaseImage(RasterPoint, PageSize, int32_t, int32_t, int32_t, int32_t) {
  return result::kStaticCompose;
}
ResultCode CPrintImage::ComposeStaticImage(RasterPoint, PageSize, RasterImage&) { return result::kStaticCompose; }
ResultCode CPrintImage::ComposeVariableImage(RasterPoint&, PageSize, RasterImage&, int32_t) {
  return result::kVariableCompose;
}
ResultCode CPrintImage::ComposeTextImage(RasterPoint&, PageSize, const char16_t*, int32_t, const char16_t*, int32_t,
                                         RasterImage&, int32_t) {
  return result::kVariableCompose;
}

void CPrintImage::Reset() {
  source_.Clear();
  base_.Clear();
  areaSizes_.clear();
  areaPositions_.clear();
  tileSize_ = {};
}

void CPrintImage::CreatePageCanvas(PageSize page, RasterImage& out) {
  const int64_t stride = RasterStride(page.width);
  out.width = page.width;
  out.height = page.length;
  out.stride = static_cast<int32_t>(stride);
  out.bitsPerPixel = kRasterBitsPerPixel;
  out.pixels.assign(static_cast<size_t>(stride * page.length), 0);
  for (int32_t y = 0; y < page.length; ++y) {
    std::memset(out.pixels.data() + y * stride, 0xFF, static_cast<size_t>(page.width) * kBytesPerPixel);
  }
}
