// Compares two label pictures dot for dot: how many pixels differ and the few
// areas where they lie, and optionally the second picture with those pixels
// marked as the virtual printer's page marks them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "rgb_image.h"

namespace streamcheck {

// The printer's resolution: 360 dots per inch.
inline constexpr double kDotsPerMm = 360 / 25.4;

struct PixelBox {
  int32_t x = 0, y = 0, width = 0, height = 0;
  bool operator==(const PixelBox&) const = default;
};

// The areas listed for a label; more are counted, not listed.
inline constexpr size_t kMostBoxes = 4;
// Areas are joined on a grid of kBoxGap / 2 dots: differing pixels less than
// kBoxGap / 2 apart (about 1 mm) always belong to one area, and two groups of
// them more than 1.5 x kBoxGap apart with nothing differing between are two.
inline constexpr int32_t kBoxGap = 32;

struct LabelComparison {
  uint64_t pixels = 0;          // pixels that differ
  std::vector<PixelBox> boxes;  // the areas with the most differing pixels, most first
  size_t moreBoxes = 0;         // areas beyond those listed
};

// The colour differing pixels are marked with (blended over the picture).
inline constexpr uint8_t kMarkRed = 220, kMarkGreen = 38, kMarkBlue = 38;

// Compares `a` and `b` over the area of the larger (white beyond the smaller,
// as paper is). A pixel differs when one of its channels differs by more than
// `tolerance`. With `marked`, fills it with `b` on that area, its differing
// pixels marked and each listed area outlined just outside.
LabelComparison CompareLabels(const RgbImage& a, const RgbImage& b, int tolerance, RgbImage* marked = nullptr);

}  // namespace streamcheck
