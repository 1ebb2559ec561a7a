// Synthetic label rasters for benchmarks: white pages carrying what real labels
// carry (text strokes, bar codes, frames, a coloured logo and header bar), so
// that compression and encoding times resemble those of real jobs.
#pragma once
#include <algorithm>
#include <cstdint>

#include "platform/raster_image.h"

namespace label_content {

// Small deterministic generator: the same variant number always paints the same label.
class Random {
 public:
  explicit Random(uint32_t variant) : state_(variant * 2654435761u + 1) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  int32_t Between(int32_t low, int32_t high) {  // both ends included
    return low + static_cast<int32_t>(Next() % static_cast<uint32_t>(high - low + 1));
  }

 private:
  uint32_t state_;
};

struct Colour {
  uint8_t blue, green, red;
};
inline constexpr Colour kWhite{255, 255, 255};
inline constexpr Colour kBlack{0, 0, 0};
inline constexpr Colour kLogoRed{40, 30, 210};
inline constexpr Colour kHeaderBlue{160, 80, 20};
inline constexpr Colour kGrey{128, 128, 128};

class Painter {
 public:
  explicit Painter(RasterImage& raster) : raster_(raster) {}

  void Fill(int32_t x, int32_t y, int32_t w, int32_t h, Colour c) {
    const int32_t left = std::max(0, x);
    const int32_t top = std::max(0, y);
    const int32_t right = std::min(raster_.width, x + w);
    const int32_t bottom = std::min(raster_.height, y + h);
    for (int32_t row = top; row < bottom; ++row) {
      uint8_t* p = raster_.pixels.data() + int64_t{row} * raster_.stride + int64_t{left} * kBytesPerPixel;
      for (int32_t col = left; col < right; ++col, p += kBytesPerPixel) {
        p[0] = c.blue;
        p[1] = c.green;
        p[2] = c.red;
      }
    }
  }

  // A slanted stroke of the given thickness, as pen strokes of glyphs are.
  void Slant(int32_t x, int32_t y, int32_t h, int32_t run, int32_t thickness, Colour c) {
    for (int32_t i = 0; i < h; ++i) Fill(x + run * i / std::max(1, h), y + i, thickness, 1, c);
  }

  // One glyph-like shape in a box of w x h: two to four strokes.
  void Glyph(Random& random, int32_t x, int32_t y, int32_t w, int32_t h, int32_t pen, Colour c) {
    const int32_t strokes = random.Between(2, 4);
    for (int32_t s = 0; s < strokes; ++s) {
      switch (random.Between(0, 3)) {
        case 0: Fill(x + random.Between(0, w - pen), y, pen, h, c); break;  // stem
        case 1: Fill(x, y + random.Between(0, h - pen), w, pen, c); break;  // bar
        case 2: Slant(x, y, h, w - pen, pen, c); break;                     // slash
        default: Slant(x + w - pen, y, h, -(w - pen), pen, c); break;       // backslash
      }
    }
  }

  // A line of words starting at (x, y); glyphs of w x h with word gaps.
  void TextLine(Random& random, int32_t x, int32_t y, int32_t right, int32_t w, int32_t h, Colour c) {
    const int32_t pen = std::max(2, h / 10);
    while (x + w <= right) {
      const int32_t letters = random.Between(2, 9);
      for (int32_t i = 0; i < letters && x + w <= right; ++i, x += w + w / 4) Glyph(random, x, y, w, h, pen, c);
      x += w;
    }
  }

  // A linear bar code: bars and gaps of one to four modules.
  void BarCode(Random& random, int32_t x, int32_t y, int32_t width, int32_t height, int32_t module) {
    const int32_t right = x + width;
    while (x < right) {
      const int32_t bar = module * random.Between(1, 4);
      Fill(x, y, std::min(bar, right - x), height, kBlack);
      x += bar + module * random.Between(1, 4);
    }
  }

  void Frame(int32_t x, int32_t y, int32_t w, int32_t h, int32_t thickness, Colour c) {
    Fill(x, y, w, thickness, c);
    Fill(x, y + h - thickness, w, thickness, c);
    Fill(x, y, thickness, h, c);
    Fill(x + w - thickness, y, thickness, h, c);
  }

  // A filled disc, for a round logo.
  void Disc(int32_t cx, int32_t cy, int32_t radius, Colour c) {
    for (int32_t dy = -radius; dy <= radius; ++dy) {
      int32_t dx = 0;
      while ((dx + 1) * (dx + 1) + dy * dy <= radius * radius) ++dx;
      Fill(cx - dx, cy + dy, 2 * dx + 1, 1, c);
    }
  }

 private:
  RasterImage& raster_;
};

// A white raster of width x height, rows padded as the label raster pads them.
inline RasterImage WhiteRaster(int32_t width, int32_t height) {
  RasterImage raster;
  raster.width = width;
  raster.height = height;
  raster.stride = static_cast<int32_t>(RasterStride(width));
  raster.bitsPerPixel = kRasterBitsPerPixel;
  raster.pixels.assign(static_cast<size_t>(raster.stride) * static_cast<size_t>(height), 0xFF);
  return raster;
}

// A page of labels about 1800 dots long (5 inches at 360 dpi), each with a
// frame, a blue header bar, a red logo, a few lines of text and a bar code.
inline RasterImage LabelPage(int32_t width, int32_t height, uint32_t variant = 1) {
  RasterImage raster = WhiteRaster(width, height);
  Painter paint(raster);
  Random random(variant);
  constexpr int32_t kLabelLength = 1800;
  const int32_t margin = width / 40;
  for (int32_t top = 0; top < height; top += kLabelLength) {
    const int32_t inner = width - 2 * margin;
    paint.Frame(margin, top + margin, inner, kLabelLength - 2 * margin, 4, kBlack);
    paint.Fill(margin, top + margin, inner, 150, kHeaderBlue);
    paint.TextLine(random, 2 * margin, top + margin + 40, width / 2, 48, 72, kWhite);
    paint.Disc(width - 3 * margin - 90, top + margin + 330, 120, kLogoRed);
    int32_t y = top + margin + 200;
    for (int32_t line = 0; line < 8; ++line, y += 70) {
      paint.TextLine(random, 2 * margin, y, width - 7 * margin - 240, 28, 42, line == 0 ? kLogoRed : kBlack);
    }
    paint.Fill(2 * margin, y + 10, inner - 2 * margin, 3, kGrey);
    y += 60;
    for (int32_t line = 0; line < 4; ++line, y += 40)
      paint.TextLine(random, 2 * margin, y, width - 2 * margin, 16, 24, kBlack);
    paint.BarCode(random, 2 * margin, y + 40, width / 2, 300, 4);
    paint.TextLine(random, 2 * margin, y + 360, width / 2, 20, 30, kBlack);
  }
  return raster;
}

// A variable field as the host sends it: a serial number and a short line.
inline RasterImage VariableField(int32_t width, int32_t height, uint32_t variant = 7) {
  RasterImage raster = WhiteRaster(width, height);
  Painter paint(raster);
  Random random(variant);
  paint.TextLine(random, 4, 6, width - 4, 32, 50, kBlack);
  paint.TextLine(random, 4, 70, width - 4, 22, 34, kLogoRed);
  return raster;
}

}  // namespace label_content
