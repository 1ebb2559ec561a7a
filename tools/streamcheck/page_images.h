// The printer's page memory while a stream is replayed: the label being
// printed, the page image that "^C(S" keeps for the next "^C(L" format, and
// a white page. Pictures are shared until one is drawn on, so an extra copy
// or a blank label costs no copy of a whole page.
#pragma once
#include <cstdint>
#include <memory>

#include "rgb_image.h"

namespace streamcheck {

class PageImages {
 public:
  // A new label on white paper.
  void StartBlank(int32_t width, int32_t height);
  // A new label that carries the kept page over (white where nothing was kept).
  void StartFromKept(int32_t width, int32_t height);
  // "^C(S": the current label becomes the kept page.
  void Keep() { kept_ = canvas_; }
  void Draw(const RgbImage& image, int64_t x, int64_t y);
  const RgbImage& Current() const { return *canvas_; }

 private:
  std::shared_ptr<RgbImage> White(int32_t width, int32_t height);

  std::shared_ptr<RgbImage> white_;
  std::shared_ptr<RgbImage> kept_;
  std::shared_ptr<RgbImage> canvas_ = std::make_shared<RgbImage>();
};

}  // namespace streamcheck
