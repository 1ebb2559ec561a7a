#include "png_codec.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <new>

namespace streamcheck {

namespace {

constexpr size_t kSignatureBytes = 8;
constexpr size_t kMessageCapacity = 160;
constexpr png_uint_32 kChunkCacheMax = 128;
constexpr png_alloc_size_t kChunkMallocMax = 8u * 1024 * 1024;
constexpr uint32_t kTenThousand = 10000;
constexpr uint32_t kTenthsMmPerInch = 254;

// Everything the libpng callbacks and the decoding function share. Plain
// data only: libpng leaves by longjmp.
struct ReadContext {
  const uint8_t* data;
  size_t size;
  size_t position;
  PngLimits limits;
  RgbImage* out;
  png_uint_32 width;
  png_uint_32 height;
  char message[kMessageCapacity];
};

void CopyMessage(ReadContext& context, const char* text) {
  std::snprintf(context.message, sizeof context.message, "%s", text != nullptr ? text : "libpng error");
}

[[noreturn]] void OnReadError(png_structp png, png_const_charp text) {
  auto* context = static_cast<ReadContext*>(png_get_error_ptr(png));
  // A message set before png_error (ours) is kept; libpng's own otherwise.
  if (context->message[0] == '\0') CopyMessage(*context, text);
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void ReadFromMemory(png_structp png, png_bytep target, png_size_t length) {
  auto* context = static_cast<ReadContext*>(png_get_io_ptr(png));
  if (length > context->size - context->position) {
    CopyMessage(*context, "PNG data ends early");
    png_error(png, "PNG data ends early");
  }
  std::memcpy(target, context->data + context->position, length);
  context->position += length;
}

// Holds only plain locals: a longjmp from libpng must skip no destructor.
bool DecodeRows(png_structp png, png_infop info, ReadContext& context) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_read_fn(png, &context, ReadFromMemory);
  png_set_chunk_cache_max(png, kChunkCacheMax);
  png_set_chunk_malloc_max(png, kChunkMallocMax);
  png_read_info(png, info);

  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int colourType = 0;
  png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, nullptr, nullptr, nullptr);
  context.width = width;
  context.height = height;
  if (width > context.limits.maxWidth || height > context.limits.maxHeight) {
    std::snprintf(context.message, sizeof context.message,
                  "PNG of %u x %u pixels is larger than the printer's largest label (%u x %u)",
                  static_cast<unsigned>(width), static_cast<unsigned>(height),
                  static_cast<unsigned>(context.limits.maxWidth), static_cast<unsigned>(context.limits.maxHeight));
    return false;
  }

  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (bitDepth == 16) png_set_strip_16(png);
  if ((colourType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  png_set_strip_alpha(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * 3) {
    CopyMessage(context, "PNG rows do not convert to 8-bit RGB");
    return false;
  }

  bool allocated = true;
  try {
    context.out->width = static_cast<int32_t>(width);
    context.out->height = static_cast<int32_t>(height);
    context.out->rgb.resize(static_cast<size_t>(width) * 3 * height);  // every byte is read next
  } catch (const std::bad_alloc&) {
    allocated = false;
  }
  if (!allocated) {
    CopyMessage(context, "out of memory for the PNG's pixels");
    return false;
  }

  const size_t rowBytes = static_cast<size_t>(width) * 3;
  for (int pass = 0; pass < passes; ++pass) {
    for (png_uint_32 row = 0; row < height; ++row) {
      png_read_row(png, context.out->rgb.data() + row * rowBytes, nullptr);
    }
  }
  png_read_end(png, nullptr);
  return true;
}

void AppendToVector(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  bool grown = true;
  try {
    out->insert(out->end(), data, data + length);
  } catch (const std::bad_alloc&) {
    grown = false;
  }
  if (!grown) png_error(png, "out of memory");
}

void NoFlush(png_structp) {}

[[noreturn]] void OnWriteError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// Plain locals only, as for reading.
bool EncodeRows(png_structp png, png_infop info, const RgbImage& image, const PngEncodeOptions& options,
                std::vector<uint8_t>& out) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, &out, AppendToVector, NoFlush);
  if (options.filtersNoneOnly) png_set_filter(png, 0, PNG_FILTER_NONE);
  png_set_compression_level(png, options.level);
  png_set_compression_mem_level(png, options.memLevel);
  png_set_compression_strategy(png, options.strategy);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  const png_uint_32 perMetre = options.dotsPerInch * kTenThousand / kTenthsMmPerInch;
  png_set_pHYs(png, info, perMetre, perMetre, PNG_RESOLUTION_METER);
  png_write_info(png, info);
  for (int32_t row = 0; row < image.height; ++row) {
    png_write_row(png, image.Pixel(0, row));
  }
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

std::string DecodePng(const uint8_t* data, size_t size, const PngLimits& limits, RgbImage& out, PngHeader* header) {
  if (data == nullptr || size < kSignatureBytes || png_sig_cmp(data, 0, kSignatureBytes) != 0) {
    return "download does not hold a PNG file (signature missing)";
  }
  ReadContext context{data, size, 0, limits, &out, 0, 0, {}};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, OnReadError, OnWarning);
  if (png == nullptr) return "libpng could not start";
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return "libpng could not start";
  }
  const bool decoded = DecodeRows(png, info, context);
  png_destroy_read_struct(&png, &info, nullptr);
  if (header != nullptr) *header = {context.width, context.height};
  if (!decoded) return std::string("invalid PNG: ") + context.message;
  if (context.position != size) {
    return "the download holds " + std::to_string(size - context.position) + " bytes after the PNG's end";
  }
  return {};
}

bool EncodePng(const RgbImage& image, const PngEncodeOptions& options, std::vector<uint8_t>& out) {
  out.clear();
  if (image.width <= 0 || image.height <= 0) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnWriteError, OnWarning);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  const bool encoded = EncodeRows(png, info, image, options, out);
  png_destroy_write_struct(&png, &info);
  return encoded;
}

}  // namespace streamcheck
