// PNG encoding of 24-bit rasters into an in-memory PNG file, through libpng.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/result_codes.h"

struct PngWriteSettings {
  int32_t filters = 8;  // PNG_FILTER_NONE only
  int32_t level = 3;
  int32_t memLevel = 7;
  int32_t strategy = 1;  // Z_FILTERED
  int32_t windowBits = 15;
  int32_t method = 8;  // deflate

  // Encodes `height` rows of `width` blue-green-red pixels, `stride` bytes
  // apart, into `out` (its old contents are discarded, its capacity kept).
  // Exactly width × 3 bytes of each row are read, never the padding, and the
  // rows are not copied beforehand. Resolutions in dots per inch. 0, or 210
  // (with "compression failed.\n" on the debugger output) when libpng reports
  // an error; `out` must then not be used. When `out` cannot grow, the same
  // message and then std::bad_alloc, once libpng's structures are released.
  [[nodiscard]] ResultCode EncodePng(std::vector<uint8_t>& out, const uint8_t* pixels, uint32_t width, uint32_t height,
                                     uint32_t stride, uint32_t horizontalDpi, uint32_t verticalDpi) const;
};
