#include "output/png_encoder.h"

#include <png.h>

#include <bit>
#include <cstring>
#include <new>

#include "platform/debug_output.h"
#include "platform/raster_image.h"
#include "platform/units.h"

// With GCC and Clang on x86 the pixel swap uses SSSE3 byte shuffles where the
// processor has them (checked at run time); elsewhere it works on 64-bit words.
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#include <tmmintrin.h>
#define QVR_PNG_SWAP_SSSE3 1
#endif

namespace {

constexpr uint64_t kLargestPngValue = 0x7FFFFFFF;  // PNG's four-byte numbers stop at 2^31 - 1
constexpr int kBitDepth = 8;
// Pixel bytes of a raster row, in the unsigned arithmetic of the byte swaps.
constexpr auto kPixelBytes = static_cast<size_t>(kBytesPerPixel);
// Pixels per metre for a resolution in dots per inch, truncated. Computed in
// 64 bits so that no resolution wraps round to a wrong small value.
png_uint_32 PixelsPerMetre(uint32_t dpi) {
  // Pixels per metre = dots per inch × 10000 / 254.
  const uint64_t perMetre = uint64_t{dpi} * kTenthsMmPerMetre / kTenthsMmPerInch;
  return static_cast<png_uint_32>(perMetre < kLargestPngValue ? perMetre : kLargestPngValue);
}

// Masks for swapping red and blue in a block of eight 3-byte pixels held in
// three little-endian 64-bit words: byte k of the block is byte k % 8 of
// word k / 8, and the residue k % 3 says whether it is blue (0), green (1) or
// red (2).
constexpr uint64_t ResidueMask(int word, int residue) {
  uint64_t mask = 0;
  for (int b = 0; b < 8; ++b) {
    if ((word * 8 + b) % 3 == residue) mask |= uint64_t{0xFF} << (8 * b);
  }
  return mask;
}

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, sizeof v); }

#ifdef QVR_PNG_SWAP_SSSE3
// Shuffle masks for a block of sixteen pixels (48 bytes) in three 16-byte
// registers: mask [out][in] picks, for each byte of output register `out`,
// its source byte if that lies in input register `in`, else zero (0x80).
// Green stays, blue takes the byte two places on, red the byte two back.
struct ShuffleMasks {
  uint8_t bytes[3][3][16];
};
constexpr ShuffleMasks MakeShuffleMasks() {
  ShuffleMasks m{};
  for (int out = 0; out < 3; ++out) {
    for (int b = 0; b < 16; ++b) {
      const int k = out * 16 + b;
      const int source = k % 3 == 0 ? k + 2 : k % 3 == 2 ? k - 2 : k;
      for (int in = 0; in < 3; ++in) {
        m.bytes[out][in][b] = source / 16 == in ? static_cast<uint8_t>(source % 16) : 0x80;
      }
    }
  }
  return m;
}
constexpr ShuffleMasks kShuffleMasks = MakeShuffleMasks();

// Sixteen pixels at a time; returns the number of pixels done.
__attribute__((target("ssse3"))) size_t SwapRedBlueSsse3(uint8_t* p, size_t pixels) {
  const auto mask = [](int out, int in) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(kShuffleMasks.bytes[out][in]));
  };
  const __m128i m00 = mask(0, 0), m01 = mask(0, 1);
  const __m128i m10 = mask(1, 0), m11 = mask(1, 1), m12 = mask(1, 2);
  const __m128i m21 = mask(2, 1), m22 = mask(2, 2);
  size_t i = 0;
  for (; i + 16 <= pixels; i += 16) {
    uint8_t* q = p + i * kPixelBytes;
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 32));
    const __m128i outA = _mm_or_si128(_mm_shuffle_epi8(a, m00), _mm_shuffle_epi8(b, m01));
    const __m128i outB =
        _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, m10), _mm_shuffle_epi8(b, m11)), _mm_shuffle_epi8(c, m12));
    const __m128i outC = _mm_or_si128(_mm_shuffle_epi8(b, m21), _mm_shuffle_epi8(c, m22));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(q), outA);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(q + 16), outB);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(q + 32), outC);
  }
  return i;
}
#endif

// Eight pixels (24 bytes, three words) at a time: green stays, blue takes
// the byte two places on, red the byte two places back, with shifts that
// carry across word borders.
// Returns the number of pixels done.
size_t SwapRedBlueWords(uint8_t* p, size_t pixels) {
  constexpr uint64_t blue0 = ResidueMask(0, 0), blue1 = ResidueMask(1, 0), blue2 = ResidueMask(2, 0);
  constexpr uint64_t green0 = ResidueMask(0, 1), green1 = ResidueMask(1, 1), green2 = ResidueMask(2, 1);
  constexpr uint64_t red0 = ResidueMask(0, 2), red1 = ResidueMask(1, 2), red2 = ResidueMask(2, 2);
  size_t i = 0;
  for (; i + 8 <= pixels; i += 8) {
    uint8_t* q = p + i * kPixelBytes;
    const uint64_t a = Load64(q), b = Load64(q + 8), c = Load64(q + 16);
    Store64(q, (a & green0) | (((a >> 16) | (b << 48)) & blue0) | ((a << 16) & red0));
    Store64(q + 8, (b & green1) | (((b >> 16) | (c << 48)) & blue1) | (((b << 16) | (a >> 48)) & red1));
    Store64(q + 16, (c & green2) | ((c >> 16) & blue2) | (((c << 16) | (b >> 48)) & red2));
  }
  return i;
}

// Swaps the first and third byte of `pixels` 3-byte pixels in place: blue,
// green, red becomes red, green, blue.
void SwapRedBlue(uint8_t* p, size_t pixels) {
  size_t done = 0;
#ifdef QVR_PNG_SWAP_SSSE3
  if (__builtin_cpu_supports("ssse3")) done = SwapRedBlueSsse3(p, pixels);
#endif
  if constexpr (std::endian::native == std::endian::little) {
    done += SwapRedBlueWords(p + done * kPixelBytes, pixels - done);
  }
  for (uint8_t* q = p + done * kPixelBytes; done < pixels; ++done, q += kPixelBytes) {
    const uint8_t blue = q[0];
    q[0] = q[2];
    q[2] = blue;
  }
}

// libpng hands us its own copy of each row (it copies every row into its
// row buffer before filtering), so the blue-green-red input is turned into
// red-green-blue there, in place: no row buffer of ours, no second copy.
void SwapRedBlueInRow(png_structp, png_row_infop info, png_bytep data) {
  if (data != nullptr) SwapRedBlue(data, info->width);
}

void AppendToVector(png_structp png, png_bytep data, size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  if (out == nullptr || data == nullptr) return;
  bool appended = true;
  try {
    out->insert(out->end(), data, data + length);
  } catch (...) {  // bad_alloc, or length_error past max_size()
    appended = false;
  }
  // An exception must not unwind through libpng, which would leak its
  // structures: report the failure the library's way, after the handler
  // ends, and have EncodePng throw it once the structures are gone.
  if (!appended) {
    if (auto* outOfMemory = static_cast<bool*>(png_get_error_ptr(png))) *outOfMemory = true;
    png_error(png, "out of memory for the PNG image");
  }
}

void NoFlush(png_structp) {}

// libpng reports errors by longjmp, which skips destructors: this function
// holds only plain locals and owns nothing.
bool EncodeRows(png_structp png, png_infop info, std::vector<uint8_t>& out, const uint8_t* pixels, uint32_t width,
                uint32_t height, uint32_t stride, uint32_t hDpi, uint32_t vDpi, const PngWriteSettings& s) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_check_for_invalid_index(png, 0);
  out.clear();
  png_set_write_fn(png, &out, AppendToVector, NoFlush);
  png_set_pHYs(png, info, PixelsPerMetre(hDpi), PixelsPerMetre(vDpi), PNG_RESOLUTION_METER);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, s.filters);
  png_set_compression_level(png, s.level);
  png_set_compression_mem_level(png, s.memLevel);
  png_set_compression_strategy(png, s.strategy);
  png_set_compression_window_bits(png, s.windowBits);
  png_set_compression_method(png, s.method);
  png_set_IHDR(png, info, width, height, kBitDepth, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_write_user_transform_fn(png, SwapRedBlueInRow);
  // libpng reads exactly width × 3 bytes of each row, never the padding.
  const uint8_t* row = pixels;
  for (uint32_t y = 0; y < height; ++y, row += stride) png_write_row(png, row);
  png_write_end(png, info);
  return true;
}

}  // namespace

ResultCode PngWriteSettings::EncodePng(std::vector<uint8_t>& out, const uint8_t* pixels, uint32_t width,
                                       uint32_t height, uint32_t stride, uint32_t horizontalDpi,
                                       uint32_t verticalDpi) const {
  if (pixels == nullptr) return result::kEncodingFailed;
  bool outOfMemory = false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &outOfMemory, nullptr, nullptr);
  if (png == nullptr) {
    WriteDebugOutput(u"png_create_write_struct failed.\n");
    return result::kEncodingFailed;
  }
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    WriteDebugOutput(u"png_create_info_struct failed.\n");
    return result::kEncodingFailed;
  }
  const bool ok = EncodeRows(png, info, out, pixels, width, height, stride, horizontalDpi, verticalDpi, *this);
  png_free_data(png, info, PNG_FREE_ALL, -1);
  png_destroy_write_struct(&png, &info);
  if (!ok) WriteDebugOutput(u"compression failed.\n");
  if (outOfMemory) throw std::bad_alloc();
  return ok ? result::kOk : result::kEncodingFailed;
}
