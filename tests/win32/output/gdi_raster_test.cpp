// Host bitmaps and message texts through the real GDI: reading 1-bit and
// deeper bitmaps, rotated text layout, the fallback face, and cleanup.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/print_image.h"
#include "output/win32/gdi_host_bitmap.h"
#include "output/win32/gdi_text_renderer.h"
#include "platform/win32/unique_handle.h"

namespace {

struct Rendered {
  ResultCode code = 0;
  DotPoint at{};
  RasterImage raster;
};

Rendered Render(std::u16string_view text, int32_t rotation, std::u16string_view face = u"Lucida Console",
                DotPoint at = {300, 400}) {
  Rendered r{0, at, {}};
  GdiTextRenderer renderer;
  r.code = renderer.RenderMessageText(r.at, text, 20, face, rotation, r.raster);
  return r;
}

// Counts dark pixels and checks that the row padding is 0.
int DarkPixels(const RasterImage& r) {
  int dark = 0;
  for (int32_t y = 0; y < r.height; ++y) {
    const uint8_t* row = r.pixels.data() + y * r.stride;
    for (int32_t x = 0; x < r.width; ++x) dark += row[x * 3] < 128 && row[x * 3 + 1] < 128 && row[x * 3 + 2] < 128;
    for (int32_t b = r.width * 3; b < r.stride; ++b) EXPECT_EQ(row[b], 0) << "padding of row " << y;
  }
  return dark;
}

std::wstring FaceOf(HFONT font) {
  LOGFONTW described{};
  EXPECT_EQ(GetObjectW(font, sizeof(described), &described), static_cast<int>(sizeof(described)));
  return described.lfFaceName;
}

int CALLBACK KeepFirstFamily(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM out) {
  *reinterpret_cast<std::wstring*>(out) = font->lfFaceName;
  return 0;
}

}  // namespace

TEST(GdiHostBitmap, MonochromeBitmapBecomesWhiteWhereBitsAreSet) {
  // Rows of a 1-bit bitmap are word aligned: 10 pixels take two bytes.
  const uint8_t bits[] = {0xA0, 0x40, 0x01, 0x80};
  UniqueBitmap mono(CreateBitmap(10, 2, 1, 1, bits));
  UniqueDc dc(CreateCompatibleDC(nullptr));
  ASSERT_TRUE(mono && dc);
  GdiTextRenderer text;
  CPrintImage image(text);
  GdiHostBitmap host(dc.get(), mono.get());
  ASSERT_EQ(image.SetSourceBitmap(host), 0);
  const RasterImage& s = image.Source();
  ASSERT_EQ(s.width, 10);
  ASSERT_EQ(s.height, 2);
  const char* expected[2] = {"1010000001", "0000000110"};
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 10; ++x) {
      EXPECT_EQ(s.pixels[y * s.stride + x * 3], expected[y][x] == '1' ? 255 : 0) << x << "," << y;
    }
  }
  EXPECT_EQ(DarkPixels(s), 15);
}

TEST(GdiHostBitmap, ReadsTwentyFourBitsAndRefusesThirtyTwo) {
  UniqueDc dc(CreateCompatibleDC(nullptr));
  auto section = [&](WORD bits) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 3, 2, 1, bits, BI_RGB, 0, 0, 0, 0, 0};
    void* pixels = nullptr;
    UniqueBitmap bitmap(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    if (bitmap && bits == 24) static_cast<uint8_t*>(pixels)[0] = 0x12;  // bottom-up: last row, first blue
    return bitmap;
  };
  GdiTextRenderer text;
  CPrintImage image(text);
  UniqueBitmap deep = section(32);
  GdiHostBitmap deepHost(dc.get(), deep.get());
  EXPECT_EQ(image.SetSourceBitmap(deepHost), 401);
  GdiHostBitmap missing(nullptr, deep.get());
  EXPECT_EQ(image.SetSourceBitmap(missing), 401);

  UniqueBitmap plain = section(24);
  GdiHostBitmap plainHost(dc.get(), plain.get());
  ASSERT_EQ(image.SetSourceBitmap(plainHost), 0);
  EXPECT_EQ(image.Source().stride, 12);
  EXPECT_EQ(image.Source().pixels.size(), 24u);
  EXPECT_EQ(image.Source().pixels[12], 0x12);  // delivered top row first
}

TEST(GdiTextRenderer, RotationsFollowTheTableAgainstTheUnrotatedMeasure) {
  const Rendered flat = Render(u"Label 42", 0);
  ASSERT_EQ(flat.code, 0);
  const int32_t w = flat.raster.width, h = flat.raster.height;
  ASSERT_GT(w, h);
  EXPECT_EQ(flat.at.x, 300);
  EXPECT_EQ(flat.at.y, 400);
  EXPECT_GT(DarkPixels(flat.raster), 0);

  struct Case {
    int32_t rotation, width, height, x, y;
  } cases[] = {{90, h, w, 300, 400 - w}, {180, w, h, 300 - w, 400 - h}, {270, h, w, 300 - h, 400}};
  for (const Case& c : cases) {
    const Rendered turned = Render(u"Label 42", c.rotation);
    ASSERT_EQ(turned.code, 0) << c.rotation;
    EXPECT_EQ(turned.raster.width, c.width) << c.rotation;
    EXPECT_EQ(turned.raster.height, c.height) << c.rotation;
    EXPECT_EQ(turned.at.x, c.x) << c.rotation;
    EXPECT_EQ(turned.at.y, c.y) << c.rotation;
    // The drawing point puts the glyphs inside the bitmap, not beside it.
    EXPECT_GT(DarkPixels(turned.raster), DarkPixels(flat.raster) / 2) << c.rotation;
  }
}

TEST(GdiTextRenderer, TwoLinesStackAndCornersStayWhite) {
  const Rendered one = Render(u"Line one", 0);
  const Rendered two = Render(u"Line one\nLine two, longer", 0);
  ASSERT_EQ(one.code, 0);
  ASSERT_EQ(two.code, 0);
  EXPECT_EQ(two.raster.height, 2 * one.raster.height);
  EXPECT_GT(two.raster.width, one.raster.width);
  // Right of the short first line nothing is drawn.
  const RasterImage& r = two.raster;
  const uint8_t* corner = r.pixels.data() + (r.width - 1) * 3;
  EXPECT_EQ(corner[0] & corner[1] & corner[2], 255);
}

TEST(GdiTextRenderer, BadRotationFailsAndLeavesNoGdiObjectBehind) {
  // Wine answers GetGuiResources with 0 (not implemented), so the GDI objects
  // are counted another way: fill the process's GDI handle table with pens,
  // leave a known margin free, render, and count the room left afterwards.
  ASSERT_EQ(Render(u"warm", 0).code, 0);  // whatever the first rendering sets up for good
  constexpr size_t kMargin = 64;
  constexpr size_t kMostPens = 200000;
  std::vector<HPEN> pens;
  while (pens.size() < kMostPens) {
    const HPEN pen = CreatePen(PS_SOLID, 1, 0);
    if (pen == nullptr) break;
    pens.push_back(pen);
  }
  ASSERT_GT(pens.size(), kMargin);
  ASSERT_LT(pens.size(), kMostPens);  // the table did fill up
  for (size_t i = 0; i < kMargin; ++i, pens.pop_back()) DeleteObject(pens.back());

  std::vector<ResultCode> codes;
  for (int i = 0; i < 50; ++i) codes.push_back(Render(u"turned", 45).code);
  const ResultCode good = Render(u"fine", 90).code;
  size_t room = 0;
  for (; room < kMargin * 2; ++room) {
    const HPEN pen = CreatePen(PS_SOLID, 1, 0);
    if (pen == nullptr) break;
    pens.push_back(pen);
  }
  for (HPEN pen : pens) DeleteObject(pen);

  EXPECT_EQ(room, kMargin);
  EXPECT_EQ(codes, std::vector<ResultCode>(50, 406));
  EXPECT_EQ(good, 0);
  const Rendered bad = Render(u"turned", 45);
  EXPECT_EQ(bad.at.x, 300);  // refused before the position is moved
  EXPECT_EQ(bad.at.y, 400);
}

TEST(GdiTextRenderer, UnknownEmptyOrOverlongFacesFallBack) {
  UniqueDc dc(CreateCompatibleDC(nullptr));
  std::wstring installed;
  LOGFONTW any{};
  any.lfCharSet = DEFAULT_CHARSET;
  EnumFontFamiliesExW(dc.get(), &any, KeepFirstFamily, reinterpret_cast<LPARAM>(&installed), 0);
  ASSERT_FALSE(installed.empty());

  const std::wstring overlong(40, L'A');
  for (const wchar_t* face : {L"No Such Face 9", L"", overlong.c_str()}) {
    UniqueFont font(SelectMessageFont(face, 20, 0, dc.get()));
    ASSERT_TRUE(font);
    EXPECT_EQ(FaceOf(font.get()), L"Lucida Console") << face;
  }
  UniqueFont kept(SelectMessageFont(installed.c_str(), 24, 90, dc.get()));
  ASSERT_TRUE(kept);
  EXPECT_EQ(FaceOf(kept.get()), installed);
  LOGFONTW described{};
  GetObjectW(kept.get(), sizeof(described), &described);
  EXPECT_EQ(described.lfHeight, 24);
  EXPECT_EQ(described.lfEscapement, 900);
  EXPECT_EQ(described.lfOrientation, 900);
  EXPECT_EQ(described.lfCharSet, DEFAULT_CHARSET);
}
