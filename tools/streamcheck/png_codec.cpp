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
  PngLimits limits;
  RgbImage* out;
  png_uint_32 width;
  png_uint_32 height;
  size_t rowBytes;        // of the decoded RGB rows
  size_t imageDataBytes;  // what the header says the image data inflates to
  bool ended;             // IEND was read
  char message[kMessageCapacity];
};

ReadContext& ContextOf(png_structp png) { return *static_cast<ReadContext*>(png_get_progressive_ptr(png)); }

[[noreturn]] void Refuse(png_structp png, ReadContext& context, const char* format, auto... values) {
  std::snprintf(context.message, sizeof context.message, format, values...);
  png_error(png, context.message);
}

void CopyMessage(ReadContext& context, const char* text) {
  std::snprintf(context.message, sizeof context.message, "%s", text != nullptr ? text : "libpng error");
}

[[noreturn]] void RefuseShortData(png_structp png, ReadContext& context) {
  Refuse(png, context, "image data inflates to fewer than the %zu bytes its %u x %u header calls for",
         context.imageDataBytes, static_cast<unsigned>(context.width), static_cast<unsigned>(context.height));
}

[[noreturn]] void OnReadError(png_structp png, png_const_charp text) {
  auto* context = static_cast<ReadContext*>(png_get_error_ptr(png));
  // A message set before png_error (ours) is kept; libpng's own otherwise.
  if (context->message[0] == '\0') {
    // Image data whose compressed stream stops before its end.
    if (text != nullptr && std::strstr(text, "Not enough compressed data") != nullptr) RefuseShortData(png, *context);
    CopyMessage(*context, text);
  }
  png_longjmp(png, 1);
}

// The reader inflates one row at a time and warns as soon as the image data
// goes on after the last row: that is where an image that inflates to more
// than its header says is stopped, before the rest is inflated.
void OnReadWarning(png_structp png, png_const_charp text) {
  if (text != nullptr && std::strstr(text, "Extra compressed data") != nullptr) {
    auto& context = *static_cast<ReadContext*>(png_get_error_ptr(png));
    Refuse(png, context, "image data inflates to more than the %zu bytes its %u x %u header calls for",
           context.imageDataBytes, static_cast<unsigned>(context.width), static_cast<unsigned>(context.height));
  }
}

void OnWarning(png_structp, png_const_charp) {}

// The bytes the image data of a PNG with this header inflates to: each row
// (of each interlace pass) is a filter byte and its packed pixels.
size_t ImageDataBytes(png_uint_32 width, png_uint_32 height, unsigned pixelBits, bool interlaced) {
  auto rowBytes = [pixelBits](size_t pixels) { return (pixels * pixelBits + 7) / 8; };
  if (!interlaced) return static_cast<size_t>(height) * (1 + rowBytes(width));
  constexpr int kPasses = 7;
  size_t total = 0;
  for (int pass = 0; pass < kPasses; ++pass) {
    const size_t columns = PNG_PASS_COLS(width, pass);
    const size_t rows = PNG_PASS_ROWS(height, pass);
    if (columns != 0) total += rows * (1 + rowBytes(columns));
  }
  return total;
}

void OnInfo(png_structp png, png_infop info) {
  ReadContext& context = ContextOf(png);
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int colourType = 0;
  int interlace = 0;
  png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, &interlace, nullptr, nullptr);
  context.width = width;
  context.height = height;
  if (width > context.limits.maxWidth || height > context.limits.maxHeight) {
    Refuse(png, context, "PNG of %u x %u pixels is larger than the printer's largest label (%u x %u)",
           static_cast<unsigned>(width), static_cast<unsigned>(height), static_cast<unsigned>(context.limits.maxWidth),
           static_cast<unsigned>(context.limits.maxHeight));
  }
  context.imageDataBytes = ImageDataBytes(width, height, static_cast<unsigned>(bitDepth) * png_get_channels(png, info),
                                          interlace != PNG_INTERLACE_NONE);

  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (bitDepth == 16) png_set_strip_16(png);
  if ((colourType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  png_set_strip_alpha(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  context.rowBytes = static_cast<size_t>(width) * 3;
  if (png_get_rowbytes(png, info) != context.rowBytes)
    Refuse(png, context, "%s", "PNG rows do not convert to 8-bit RGB");

  bool allocated = true;
  try {
    context.out->width = static_cast<int32_t>(width);
    context.out->height = static_cast<int32_t>(height);
    context.out->rgb.resize(context.rowBytes * height);  // every byte is read next
  } catch (const std::bad_alloc&) {
    allocated = false;
  }
  if (!allocated) Refuse(png, context, "%s", "out of memory for the PNG's pixels");
}

void OnRow(png_structp png, png_bytep row, png_uint_32 number, int) {
  if (row == nullptr) return;  // a row this interlace pass leaves alone
  ReadContext& context = ContextOf(png);
  png_progressive_combine_row(png, context.out->rgb.data() + number * context.rowBytes, row);
}

void OnEnd(png_structp png, png_infop) { ContextOf(png).ended = true; }

// All rows of the image, of every pass, have been read.
bool AllRowsRead(png_structp png, const ReadContext& context, png_infop info) {
  constexpr png_byte kPassesDone = 7;
  if (png_get_interlace_type(png, info) != PNG_INTERLACE_NONE) return png_get_current_pass_number(png) >= kPassesDone;
  return png_get_current_row_number(png) >= context.height;
}

// Where the PNG file in `data` ends: after its IEND chunk, found by its chunk
// lengths alone; `size` when the chunks run off the end before one.
size_t PngFileEnd(const uint8_t* data, size_t size) {
  constexpr size_t kChunkFraming = 12;  // length, type and checksum
  constexpr uint8_t kIend[4] = {'I', 'E', 'N', 'D'};
  size_t at = kSignatureBytes;
  while (size - at >= kChunkFraming) {
    const size_t length = png_get_uint_32(data + at);
    if (length > size - at - kChunkFraming) break;
    const bool last = std::memcmp(data + at + 4, kIend, sizeof kIend) == 0;
    at += kChunkFraming + length;
    if (last) return at;
  }
  return size;
}

// Holds only plain locals: a longjmp from libpng must skip no destructor.
bool DecodeRows(png_structp png, png_infop info, const uint8_t* data, size_t size, ReadContext& context) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_progressive_read_fn(png, &context, OnInfo, OnRow, OnEnd);
  png_set_chunk_cache_max(png, kChunkCacheMax);
  png_set_chunk_malloc_max(png, kChunkMallocMax);
  png_process_data(png, info, const_cast<png_bytep>(data), size);
  if (!context.ended) Refuse(png, context, "%s", "PNG data ends early");
  if (!AllRowsRead(png, context, info)) RefuseShortData(png, context);
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
  if (options.filters == RowFilters::NoneOnly) png_set_filter(png, 0, PNG_FILTER_NONE);
  if (options.filters == RowFilters::UpOnly) png_set_filter(png, 0, PNG_FILTER_UP);
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
  ReadContext context{limits, &out, 0, 0, 0, 0, false, {}};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, OnReadError, OnReadWarning);
  if (png == nullptr) return "libpng could not start";
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return "libpng could not start";
  }
  const size_t end = PngFileEnd(data, size);
  const bool decoded = DecodeRows(png, info, data, end, context);
  png_destroy_read_struct(&png, &info, nullptr);
  if (header != nullptr) *header = {context.width, context.height};
  if (!decoded) return std::string("invalid PNG: ") + context.message;
  if (end != size) return "the download holds " + std::to_string(size - end) + " bytes after the PNG's end";
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
