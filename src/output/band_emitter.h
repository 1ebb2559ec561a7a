// CBandEmitter: the one way every raster reaches the printer. A raster (or a
// window of the composed page) is cut into bands, each band encoded as PNG,
// downloaded under the one image name "DIFF" and recalled at once at its
// place. The emitter owns what that takes: the band a window is composed
// into, the white raster of white rectangles and the PNG buffer; no other
// stage writes them.
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "output/page_model.h"
#include "output/print_command.h"
#include "output/print_image.h"
#include "platform/geometry.h"
#include "platform/raster_image.h"
#include "platform/result_codes.h"

// The name of the one image the printer is ever asked to keep.
inline constexpr std::string_view kDiffImageName = "DIFF";

class CBandEmitter {
 public:
  // Appends to `command`; every PNG carries `resolution` dots per inch.
  CBandEmitter(CPrintCommand& command, int32_t resolution) : command_(command), resolution_(resolution) {}
  CBandEmitter(const CBandEmitter&) = delete;
  CBandEmitter& operator=(const CBandEmitter&) = delete;

  // Sends `raster` with its top-left corner at `start` (recalled at the
  // page's edge where `start` lies beyond it). 210 when encoding fails.
  [[nodiscard]] ResultCode SendRaster(const RasterImage& raster, DotPoint start);
  // Sends `window` of the page `image` composes from `page`, composed band
  // by band just before each band is encoded: a large window, the whole
  // base page among them, is never held at once.
  [[nodiscard]] ResultCode SendComposed(CPrintImage& image, const PageModel& page, const DotRect& window);
  // Sends a white rectangle of `size` at `start`.
  [[nodiscard]] ResultCode SendWhite(DotSize size, DotPoint start);

 private:
  CPrintCommand& command_;
  int32_t resolution_;
  RasterImage band_;   // one band of a composed window
  RasterImage white_;  // a plain white raster, only ever white: rebuilt when the size changes
  // Reused from band to band and from label to label, so that steady
  // printing does not allocate.
  ByteImage png_;
  // The band png_ encodes when it came from a plain raster (no rows when
  // not): another band of that row, height and resolution is not encoded again.
  struct PlainBand {
    std::vector<uint8_t> row;
    int64_t rows = 0;
  };
  PlainBand pngBand_;
};
