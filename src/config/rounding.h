// Rounding halves away from zero, the one rule for every unit conversion of
// the settings and the dialog.
#pragma once
#include <cmath>
#include <cstdint>
#include <limits>

// Halves away from zero: add 0.5 to a positive number, subtract it from a zero
// or negative one, drop the fraction. Saturates at the ends of int32; NaN gives 0.
inline int32_t RoundHalfAway(double value) {
  if (std::isnan(value)) return 0;
  const double rounded = std::trunc(value > 0 ? value + 0.5 : value - 0.5);
  constexpr double kLow = std::numeric_limits<int32_t>::min();
  constexpr double kHigh = std::numeric_limits<int32_t>::max();
  if (rounded <= kLow) return std::numeric_limits<int32_t>::min();
  if (rounded >= kHigh) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(rounded);
}
