// Text rendering with GDI: SelectMessageFont and RenderMessageText.
#pragma once
#include <windows.h>

#include "platform/text_renderer.h"

// Creates the message font; falls back to the message face for an unknown or
// empty face name. The caller deletes the font. Null on failure.
HFONT SelectMessageFont(const wchar_t* faceName, int32_t height, int32_t rotation, HDC dc) noexcept;

class GdiTextRenderer final : public TextRenderer {
 public:
  ResultCode RenderMessageText(DotPoint& position, std::u16string_view text, int32_t height,
                               std::u16string_view faceName, int32_t rotation, RasterImage& raster) override;
};
