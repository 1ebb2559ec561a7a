// The printer's page memory while a stream is replayed: the label being
// printed, the page image that "^C(S" keeps for the next "^C(L" format, and
// a white page. Pictures are shared until one is drawn on, so an extra copy
// or a blank label costs no copy of a whole page. A "^C(L" format draws on the
// kept page itself, as the printer draws in its label memory: a later label
// of a job costs no copy of the page, and a format cut off before its "^C(S"
// leaves what it drew there.
//
// Every state of the label's pixels has a version number: two labels with
// the same version are equal dot for dot, so a label that nothing was drawn on
// since an earlier one can share that one's picture. (Labels with different
// versions may still happen to be equal.)
#pragma once
#include <cstdint>
#include <memory>

#include "rgb_image.h"

namespace streamcheck {

class PageImages {
 public:
  // A new label on white paper.
  void StartBlank(int32_t width, int32_t height);
  // A new label that carries the kept page over (white where nothing was kept)
  // and draws on it.
  void StartFromKept(int32_t width, int32_t height);
  // "^C(S": the current label becomes the kept page.
  void Keep();
  void Draw(const RgbImage& image, int64_t x, int64_t y);
  const RgbImage& Current() const { return *canvas_; }
  uint64_t CurrentVersion() const { return canvasVersion_; }
  // The page the next "^C(L" format starts from; null when none is kept.
  const RgbImage* Kept() const { return kept_.get(); }

 private:
  std::shared_ptr<RgbImage> White(int32_t width, int32_t height);
  // The version of a white page of this size: kept while the size stays.
  uint64_t WhiteVersion(int32_t width, int32_t height);
  // A private copy to draw on, made in the spare page's memory when there is one.
  std::shared_ptr<RgbImage> CopyOf(const RgbImage& image);
  // Keeps a page nobody refers to any more as the spare: pages are large, and
  // memory that was touched before is far cheaper to fill than new memory.
  void Recycle(std::shared_ptr<RgbImage> page);
  void Replace(std::shared_ptr<RgbImage>& slot, std::shared_ptr<RgbImage> page);

  std::shared_ptr<RgbImage> white_;
  std::shared_ptr<RgbImage> spare_;
  std::shared_ptr<RgbImage> kept_;
  std::shared_ptr<RgbImage> canvas_ = std::make_shared<RgbImage>();
  bool drawingKept_ = false;  // canvas_ is the kept page, drawn on in place
  uint64_t nextVersion_ = 1;
  uint64_t canvasVersion_ = 0;
  uint64_t keptVersion_ = 0;
  uint64_t whiteVersion_ = 0;
  int32_t whiteWidth_ = 0, whiteHeight_ = 0;  // the size whiteVersion_ stands for
};

}  // namespace streamcheck
