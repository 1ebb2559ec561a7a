// Draws a text into a 24-bit raster of exactly its extent (GDI in the shell).
#pragma once
#include <cstdint>
#include <string_view>

#include "platform/geometry.h"
#include "platform/raster_image.h"
#include "platform/result_codes.h"

// The face of the plug-in's own messages, and the face a renderer falls back
// to when it does not know the one asked for.
inline constexpr std::u16string_view kMessageFace = u"Lucida Console";

class TextRenderer {
 public:
  virtual ~TextRenderer() = default;
  // Renders black text on white. `position` is moved for the rotation so that
  // it becomes the raster's top-left corner on the page. Returns 0, 406 or
  // 407; memory exhaustion travels as std::bad_alloc.
  virtual ResultCode RenderMessageText(DotPoint& position, std::u16string_view text, int32_t height,
                                       std::u16string_view faceName, int32_t rotation, RasterImage& raster) = 0;
};
