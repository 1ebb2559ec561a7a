#include "page_images.h"

#include <utility>

namespace streamcheck {

std::shared_ptr<RgbImage> PageImages::White(int32_t width, int32_t height) {
  if (!white_ || white_->width != width || white_->height != height) {
    Replace(white_, std::make_shared<RgbImage>(RgbImage::White(width, height)));
  }
  return white_;
}

uint64_t PageImages::WhiteVersion(int32_t width, int32_t height) {
  if (whiteVersion_ == 0 || whiteWidth_ != width || whiteHeight_ != height) {
    whiteVersion_ = nextVersion_++;
    whiteWidth_ = width;
    whiteHeight_ = height;
  }
  return whiteVersion_;
}

std::shared_ptr<RgbImage> PageImages::CopyOf(const RgbImage& image) {
  if (spare_ && spare_.use_count() == 1) {
    *spare_ = image;  // reuses the spare's storage
    return std::exchange(spare_, nullptr);
  }
  return std::make_shared<RgbImage>(image);
}

void PageImages::Recycle(std::shared_ptr<RgbImage> page) {
  if (page && page.use_count() == 1) spare_ = std::move(page);
}

void PageImages::Replace(std::shared_ptr<RgbImage>& slot, std::shared_ptr<RgbImage> page) {
  std::shared_ptr<RgbImage> old = std::exchange(slot, std::move(page));
  Recycle(std::move(old));
}

void PageImages::StartBlank(int32_t width, int32_t height) {
  drawingKept_ = false;
  Replace(canvas_, White(width, height));
  canvasVersion_ = WhiteVersion(width, height);
}

void PageImages::StartFromKept(int32_t width, int32_t height) {
  if (!kept_) {
    Replace(kept_, White(width, height));
    keptVersion_ = WhiteVersion(width, height);
  } else if (kept_->width != width || kept_->height != height) {
    Replace(kept_, std::make_shared<RgbImage>(Resized(*kept_, width, height)));
    keptVersion_ = nextVersion_++;
  }
  drawingKept_ = true;
  Replace(canvas_, kept_);
  canvasVersion_ = keptVersion_;
}

void PageImages::Keep() {
  Replace(kept_, canvas_);
  keptVersion_ = canvasVersion_;
}

void PageImages::Draw(const RgbImage& image, int64_t x, int64_t y) {
  const bool outside = x >= canvas_->width || y >= canvas_->height || x + image.width <= 0 || y + image.height <= 0;
  if (outside || image.width == 0 || image.height == 0) return;
  // The white page becomes this label rather than being copied; another is
  // made when a white page is wanted again.
  if (canvas_ == white_) white_.reset();
  // A "^C(L" label is drawn on the kept page itself. Any other label may share
  // its page with the kept one: it is drawn on a copy then.
  if (!drawingKept_ && canvas_.use_count() > 1) canvas_ = CopyOf(*canvas_);
  Blit(*canvas_, image, x, y);
  canvasVersion_ = nextVersion_++;
  if (drawingKept_) keptVersion_ = canvasVersion_;  // the kept page itself was drawn on
}

}  // namespace streamcheck
