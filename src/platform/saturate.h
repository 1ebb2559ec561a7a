// Saturating conversion for host positions moved by offsets or pitches: a
// 64-bit sum clamped to the int32 range instead of wrapping.
#pragma once
#include <algorithm>
#include <cstdint>
#include <limits>

constexpr int32_t SaturateToInt32(int64_t value) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}
