// Reading downloaded PNG images (refusing anything larger than the printer's
// largest label before a pixel buffer is allocated, and image data that
// inflates to more or less than the header calls for, stopped a row past the
// last) and writing label pictures, both through libpng.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "rgb_image.h"

namespace streamcheck {

// The printer's largest label, in dots.
inline constexpr int32_t kLargestLabelWidth = 1587;
inline constexpr int32_t kLargestLabelLength = 14400;

struct PngLimits {
  uint32_t maxWidth = kLargestLabelWidth;
  uint32_t maxHeight = kLargestLabelLength;
};

struct PngHeader {
  uint32_t width = 0;
  uint32_t height = 0;
};

// Decodes a complete PNG file held in `data` into 8-bit RGB (other colour
// types are converted, alpha is dropped). Returns an empty text on success,
// otherwise what is wrong; `out` is then unspecified. Bytes after the PNG's
// end are an error: a download must hold exactly one PNG file. So is image
// data that inflates to other than the rows of the header's size.
std::string DecodePng(const uint8_t* data, size_t size, const PngLimits& limits, RgbImage& out,
                      PngHeader* header = nullptr);

// The row filters the encoder may use: libpng's choice among all five for
// each row, or one for every row (no time spent choosing).
enum class RowFilters { Adaptive, NoneOnly, UpOnly };

struct PngEncodeOptions {
  int32_t level = 6;
  int32_t memLevel = 8;
  int32_t strategy = 0;  // zlib's default strategy
  RowFilters filters = RowFilters::Adaptive;
  uint32_t dotsPerInch = 360;  // recorded in pHYs
};

// How label pictures are written: deflate level 1, each row as the
// difference from the row above. Labels are mostly rows like the ones above
// them (white, bars, type, colour ramps down the label), which this
// compresses at about three times the speed of adaptive row filters and to
// files of a similar size; unfiltered rows would be as fast but many times
// larger on ramps and photographs.
inline PngEncodeOptions LabelPictureEncoding(int32_t level = 1) {
  PngEncodeOptions options;
  options.level = level;
  options.filters = RowFilters::UpOnly;
  return options;
}

// Encodes `image` as an RGB PNG file into `out`; false when libpng fails.
bool EncodePng(const RgbImage& image, const PngEncodeOptions& options, std::vector<uint8_t>& out);

}  // namespace streamcheck
