#include "output/win32/gdi_text_renderer.h"

#include <climits>
#include <cwchar>
#include <new>
#include <optional>
#include <string>

#include "platform/quarter_turn.h"
#include "platform/saturate.h"
#include "platform/win32/text_casts.h"
#include "platform/win32/unique_handle.h"

namespace {

constexpr int64_t kTenthsPerDegree = 10;
constexpr WORD kRasterBits = 24;

// Stops the enumeration at the first family: the enumeration then answers 0
// exactly when some family matched.
int CALLBACK StopAtFirstFamily(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM) { return 0; }

// Copies a face name into the font record's face field; false, leaving the
// field untouched, when the name (with its terminator) does not fit.
bool CopyFace(LOGFONTW& font, const wchar_t* face) {
  const size_t length = std::wcslen(face);
  if (length >= LF_FACESIZE) return false;
  std::wmemcpy(font.lfFaceName, face, length + 1);
  return true;
}

LONG TenthsOfDegrees(int32_t rotation) {
  return static_cast<LONG>(SaturateToInt32(int64_t{rotation} * kTenthsPerDegree));
}

// The bitmap size, drawing point and position shift for one rotation of a
// text measured as width × height.
struct RotatedLayout {
  LONG width = 0;
  LONG height = 0;
  POINT origin{};
  int64_t shiftX = 0;
  int64_t shiftY = 0;
};

bool LayoutFor(int32_t rotation, LONG textWidth, LONG textHeight, RotatedLayout& layout) {
  const std::optional<int> turns = QuarterTurns(rotation);
  if (!turns) return false;
  // The text is drawn turned about its first character's corner: the bitmap
  // holds the turned box, and that corner lies where the box's top-left was.
  const DotStep corner = TurnedTopLeft(*turns, textWidth, textHeight);
  const bool across = *turns % 2 == 1;
  layout = {across ? textHeight : textWidth,
            across ? textWidth : textHeight,
            {static_cast<LONG>(-corner.dx), static_cast<LONG>(-corner.dy)},
            corner.dx,
            corner.dy};
  return true;
}

// Reads a 24-bit copy of the bitmap, rows top first, into the raster.
ResultCode ReadBack(HDC dc, HBITMAP bitmap, const RotatedLayout& layout, RasterImage& raster) {
  SetUpRasterOrThrow(raster, layout.width, layout.height, RasterFill::kZero);
  const int64_t stride = RasterStride(layout.width);
  const int64_t rowBytes = int64_t{layout.width} * kBytesPerPixel;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = layout.width;
  info.bmiHeader.biHeight = -layout.height;  // rows top first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = kRasterBits;
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biSizeImage = static_cast<DWORD>(stride * layout.height);
  if (GetDIBits(dc, bitmap, 0, static_cast<UINT>(layout.height), raster.pixels.data(), &info, DIB_RGB_COLORS) == 0) {
    raster.Clear();
    return result::kTextDrawing;
  }
  // Row padding is ours to define: always 0, whatever the platform left there.
  ClearRowPadding(raster.pixels.data(), stride, rowBytes, layout.height);
  return result::kOk;
}

// Paints the measured text into a white bitmap of the layout's size and reads
// it back. The bitmap is deselected and deleted here; `released` turns false
// when either fails.
ResultCode Paint(HDC screen, HDC dc, const wchar_t* chars, int length, int32_t rotation, const RotatedLayout& layout,
                 RasterImage& raster, bool& released) {
  UniqueBitmap bitmap(CreateCompatibleBitmap(screen, layout.width, layout.height));
  if (!bitmap) return result::kTextDrawing;
  ResultCode code = result::kOk;
  {
    SelectGuard selection(dc, bitmap.get());
    RECT area{0, 0, layout.width, layout.height};
    if (!selection.selected() || FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))) == 0) {
      code = result::kTextDrawing;
    } else if (rotation == rotation::k0 ? DrawTextW(dc, chars, length, &area, DT_WORDBREAK) == 0
                                        : TextOutW(dc, layout.origin.x, layout.origin.y, chars, length) == 0) {
      code = result::kTextDrawing;
    } else {
      code = ReadBack(dc, bitmap.get(), layout, raster);
    }
    released &= selection.restore();
  }
  released &= bitmap.reset();
  return code;
}

// Measures the text with the font selected into `dc`, moves the position for
// the rotation and paints.
ResultCode MeasureAndPaint(HDC screen, HDC dc, DotPoint& position, std::u16string_view text, int32_t rotation,
                           RasterImage& raster, bool& released) {
  if (text.size() > static_cast<size_t>(INT_MAX)) return result::kTextDrawing;
  const wchar_t* chars = AsWide(text.data());
  const int length = static_cast<int>(text.size());
  RECT measured{0, 0, 0, 0};
  if (DrawTextW(dc, chars, length, &measured, DT_CALCRECT) == 0) return result::kTextDrawing;
  RotatedLayout layout;
  if (!LayoutFor(rotation, measured.right, measured.bottom, layout)) return result::kTextRotation;
  position.x = SaturateToInt32(position.x + layout.shiftX);
  position.y = SaturateToInt32(position.y + layout.shiftY);
  if (layout.width <= 0 || layout.height <= 0) {
    raster.Clear();  // nothing with an extent to draw (only line breaks)
    return result::kOk;
  }
  return Paint(screen, dc, chars, length, rotation, layout, raster, released);
}

}  // namespace

HFONT SelectMessageFont(const wchar_t* faceName, int32_t height, int32_t rotation, HDC dc) noexcept {
  LOGFONTW font{};
  font.lfHeight = height;
  font.lfEscapement = TenthsOfDegrees(rotation);
  font.lfOrientation = font.lfEscapement;
  font.lfCharSet = DEFAULT_CHARSET;
  // A name too long for the face field cannot name an installed family: it
  // is treated like an unknown one.
  const bool named = faceName != nullptr && faceName[0] != L'\0' && CopyFace(font, faceName);
  const bool installed = named && EnumFontFamiliesExW(dc, &font, StopAtFirstFamily, 0, 0) == 0;
  if (!installed && !CopyFace(font, AsWide(kMessageFace.data()))) return nullptr;
  return CreateFontIndirectW(&font);
}

ResultCode GdiTextRenderer::RenderMessageText(DotPoint& position, std::u16string_view text, int32_t height,
                                              std::u16string_view faceName, int32_t rotation, RasterImage& raster) {
  // Cleanup runs in this order whatever happened: the bitmap (in Paint), the
  // font, the memory context, the screen context. A failing cleanup call
  // turns the result into 407. Memory exhaustion (the raster, the face)
  // travels on as std::bad_alloc, the owners releasing what they hold.
  ResultCode code = result::kOk;
  bool released = true;
  UniqueScreenDc screen(GetDC(nullptr));
  if (!screen) return result::kTextDrawing;
  UniqueDc memory(CreateCompatibleDC(screen.get()));
  if (!memory) {
    code = result::kTextDrawing;
  } else {
    // The face name view need not be terminated; the font record wants it so.
    const std::wstring face(faceName.begin(), faceName.end());
    UniqueFont font(SelectMessageFont(face.c_str(), height, rotation, memory.get()));
    if (!font) {
      code = result::kTextDrawing;
    } else {
      {
        SelectGuard selection(memory.get(), font.get());
        code = selection.selected()
                   ? MeasureAndPaint(screen.get(), memory.get(), position, text, rotation, raster, released)
                   : result::kTextDrawing;
        released &= selection.restore();
      }
      released &= font.reset();
    }
    released &= memory.reset();
  }
  released &= screen.reset();
  return released ? code : result::kTextDrawing;
}
