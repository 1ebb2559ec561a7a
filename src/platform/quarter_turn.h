// The rotations a layout may have: quarter turns, given in degrees. Page
// assembly, the clock's position and the text renderer all lay out by them,
// and each answers a rotation that is not one with its own result code.
#pragma once
#include <cstdint>
#include <optional>

namespace rotation {
inline constexpr int32_t k0 = 0;
inline constexpr int32_t k90 = 90;
inline constexpr int32_t k180 = 180;
inline constexpr int32_t k270 = 270;
}  // namespace rotation

// Quarter turns clockwise (0 to 3) for 0, 90, 180 and 270 degrees; nothing for any other value.
constexpr std::optional<int> QuarterTurns(int32_t degrees) {
  switch (degrees) {
    case rotation::k0: return 0;
    case rotation::k90: return 1;
    case rotation::k180: return 2;
    case rotation::k270: return 3;
    default: return std::nullopt;
  }
}
