#include "output/png_encoder.h"

#include <png.h>

#include <cstring>

#include "platform/debug_output.h"

namespace {

constexpr uint32_t kTenThousand = 10000;
constexpr uint32_t kTenthsMmPerInch = 254;

void AppendToVector(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  if (out == nullptr || data == nullptr) return;
  out->insert(out->end(), data, data + length);
}

void NoFlush(png_structp) {}

// libpng reports errors by longjmp, which skips destructors: this function
// holds only plain locals, and the row buffer is owned by libpng's allocator.
bool EncodeRows(png_structp png, png_infop info, std::vector<uint8_t>& out, const uint8_t* pixels,
                uint32_t width, uint32_t height, uint32_t stride, uint32_t hDpi, uint32_t vDpi,
                const PngWriteSettings& s) {
  png_bytep volatile row = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    if (row != nullptr) png_free(png, row);
    return false;
  }
  png_set_check_for_invalid_index(png, 0);
  out.clear();
  png_set_write_fn(png, &out, AppendToVector, NoFlush);
  png_set_pHYs(png, info, hDpi * kTenThousand / kTenthsMmPerInch, vDpi * kTenThousand / kTenthsMmPerInch,
               PNG_RESOLUTION_METER);
  png_set_filter(png, 0, s.filters);
  png_set_compression_level(png, s.level);
  png_set_compression_mem_level(png, s.memLevel);
  png_set_compression_strategy(png, s.strategy);
  png_set_compression_window_bits(png, s.windowBits);
  png_set_compression_method(png, s.method);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  row = static_cast<png_bytep>(png_malloc(png, static_cast<png_alloc_size_t>(width) * 3));
  const uint8_t* source = pixels;
  for (uint32_t y = 0; y < height; ++y, source += stride) {
    for (uint32_t x = 0; x < width; ++x) {
      row[3 * x] = source[3 * x + 2];
      row[3 * x + 1] = source[3 * x + 1];
      row[3 * x + 2] = source[3 * x];
    }
    png_write_row(png, row);
  }
  png_write_end(png, info);
  png_free(png, row);
  return true;
}

}  // namespace

bool PngWriteSettings::EncodePng(std::vector<uint8_t>& out, const uint8_t* pixels, uint32_t width, uint32_t height,
                                 uint32_t stride, uint32_t horizontalDpi, uint32_t verticalDpi) const {
  if (pixels == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) {
    WriteDebugOutput(u"png_create_write_struct failed.\n");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    WriteDebugOutput(u"png_create_info_struct failed.\n");
    return false;
  }
  const bool ok = EncodeRows(png, info, out, pixels, width, height, stride, horizontalDpi, verticalDpi, *this);
  png_free_data(png, info, PNG_FREE_ALL, -1);
  png_destroy_write_struct(&png, &info);
  if (!ok) WriteDebugOutput(u"compression failed.\n");
  return ok;
}
