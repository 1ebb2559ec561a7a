#include "page_images.h"

namespace streamcheck {

std::shared_ptr<RgbImage> PageImages::White(int32_t width, int32_t height) {
  if (!white_ || white_->width != width || white_->height != height) {
    white_ = std::make_shared<RgbImage>(RgbImage::White(width, height));
  }
  return white_;
}

void PageImages::StartBlank(int32_t width, int32_t height) { canvas_ = White(width, height); }

void PageImages::StartFromKept(int32_t width, int32_t height) {
  if (!kept_) {
    canvas_ = White(width, height);
  } else if (kept_->width == width && kept_->height == height) {
    canvas_ = kept_;
  } else {
    canvas_ = std::make_shared<RgbImage>(Resized(*kept_, width, height));
  }
}

void PageImages::Draw(const RgbImage& image, int64_t x, int64_t y) {
  const bool outside = x >= canvas_->width || y >= canvas_->height || x + image.width <= 0 || y + image.height <= 0;
  if (outside || image.width == 0 || image.height == 0) return;
  // The white page and the kept page hold a reference too: draw on a copy then.
  if (canvas_.use_count() > 1) canvas_ = std::make_shared<RgbImage>(*canvas_);
  Blit(*canvas_, image, x, y);
}

}  // namespace streamcheck
