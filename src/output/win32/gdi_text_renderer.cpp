#include "output/win32/gdi_text_renderer.h"

// Interim: the GDI text rendering arrives with the label raster work.
HFONT SelectMessageFont(const wchar_t*, int32_t, int32_t, HDC) noexcept { return nullptr; }

ResultCode GdiTextRenderer::RenderMessageText(RasterPoint&, std::u16string_view, int32_t, std::u16string_view,
                                              int32_t, RasterImage&) noexcept {
  return result::kTextDrawing;
}
