// The rotations a layout may have: quarter turns, given in degrees, and the
// one mapping that turns the host's label onto the printed one. Page
// assembly lays out the grid and the clock's position by it and the text
// renderer its rotated text; each answers a rotation that is not a quarter
// turn with its own result code.
#pragma once
#include <algorithm>
#include <cstdint>
#include <optional>

#include "platform/geometry.h"
#include "platform/saturate.h"

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

// A step (dx, dy) on the host's label as it lies on the printed label after
// `turns` quarter turns: x along the host's y, y against the host's x, and so on.
constexpr DotStep TurnStep(int turns, int64_t dx, int64_t dy) {
  switch (turns & 3) {
    case 0: return {dx, dy};
    case 1: return {dy, -dx};
    case 2: return {-dx, -dy};
    default: return {-dy, dx};
  }
}

// Where the top-left corner of a box of `width` x `height`, turned about its
// own top-left corner, lies relative to that corner.
constexpr DotStep TurnedTopLeft(int turns, int64_t width, int64_t height) {
  const DotStep corners[] = {TurnStep(turns, width, 0), TurnStep(turns, 0, height), TurnStep(turns, width, height)};
  DotStep least{0, 0};
  for (const DotStep& c : corners) least = {std::min(least.dx, c.dx), std::min(least.dy, c.dy)};
  return least;
}

// A position on the host's label turned with the layout onto the printed
// label of `label` size (the host's label is that label turned back);
// false for a rotation that is not a quarter turn.
inline bool TurnPosition(int32_t degrees, DotPoint position, DotSize label, DotPoint& turned) {
  const std::optional<int> turns = QuarterTurns(degrees);
  if (!turns) return false;
  const bool across = *turns % 2 == 1;
  const DotStep step = TurnStep(*turns, position.x, position.y);
  const DotStep corner =
      TurnedTopLeft(*turns, across ? label.height : label.width, across ? label.width : label.height);
  turned = {SaturateToInt32(step.dx - corner.dx), SaturateToInt32(step.dy - corner.dy)};
  return true;
}
