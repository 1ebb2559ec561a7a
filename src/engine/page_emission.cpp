// Emission: what page assembly placed goes out through the band emitter,
// and the page model notes what the printer now holds.
#include "engine/print_control.h"

ResultCode CPrintControl::SendOnPage(const RasterImage& raster, DotPoint at) {
  if (const ResultCode code = emitter_.SendRaster(raster, at); code != result::kOk) return code;
  page_.NoteSent({at.x, at.y, raster.width, raster.height}, LabelSize());
  return result::kOk;
}

ResultCode CPrintControl::SendComposedWindow(const DotRect& window) {
  if (const ResultCode code = emitter_.SendComposed(image_, page_, window); code != result::kOk) return code;
  if (!window.Empty()) page_.NoteSent(window, LabelSize());
  return result::kOk;
}

ResultCode CPrintControl::CoverPageOnce() {
  if (page_.JobCoveredPage()) return result::kOk;
  return SendComposedWindow(WholePage(LabelSize()));
}
