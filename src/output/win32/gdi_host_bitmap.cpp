#include "output/win32/gdi_host_bitmap.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

namespace {

constexpr RGBQUAD kBlack{0x00, 0x00, 0x00, 0};
constexpr RGBQUAD kWhite{0xFF, 0xFF, 0xFF, 0};
constexpr int64_t kDibRowAlignBits = 32;
constexpr int64_t kBitsPerByte = 8;
// Larger images are refused rather than read: no label raster comes near.
constexpr int64_t kMaxImageBytes = std::numeric_limits<int32_t>::max();
// The only depths the raster takes: 1-bit rows are expanded, 24-bit rows kept.
constexpr WORD kMonochromeBits = 1;
constexpr WORD kTrueColourBits = 24;
// GetDIBits writes a colour table as long as the depth it is asked for needs
// (256 entries at 8 bits, three masks for bit fields), so the header always
// has room for the longest one, whatever depth reaches the call.
constexpr size_t kLargestColourTable = 256;

// The header and colour table that rows are read with; 1-bit rows use the
// first two entries.
struct DibInfo {
  BITMAPINFOHEADER header;
  RGBQUAD colors[kLargestColourTable];
};

void Describe(const BITMAP& bitmap, DibInfo& info) {
  info = {};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = bitmap.bmWidth;
  info.header.biHeight = -bitmap.bmHeight;  // rows top first
  info.header.biPlanes = bitmap.bmPlanes;
  info.header.biBitCount = bitmap.bmBitsPixel;
  info.header.biCompression = BI_RGB;
  info.colors[0] = kBlack;
  info.colors[1] = kWhite;
}

bool ReadableDepth(const BITMAP& bitmap) {
  return bitmap.bmBitsPixel == kMonochromeBits || bitmap.bmBitsPixel == kTrueColourBits;
}

}  // namespace

ResultCode GdiHostBitmap::Read(DibRows& rows) {
  if (dc_ == nullptr || bitmap_ == nullptr) return result::kBadSourceBitmap;
  // Any other GDI object would describe itself in a record of its own kind.
  if (GetObjectType(bitmap_) != OBJ_BITMAP) return result::kBadSourceBitmap;
  BITMAP bitmap{};
  if (GetObjectW(bitmap_, sizeof(bitmap), &bitmap) != static_cast<int>(sizeof(bitmap))) {
    return result::kBadSourceBitmap;
  }
  if (bitmap.bmWidth <= 0 || bitmap.bmHeight <= 0) return result::kBadSourceBitmap;
  // Refused before GetDIBits sees it: a deeper table or layout is never asked for.
  if (!ReadableDepth(bitmap)) return result::kBadSourceBitmap;

  DibInfo info;
  Describe(bitmap, info);
  auto* header = reinterpret_cast<BITMAPINFO*>(&info);
  if (GetDIBits(dc_, bitmap_, 0, static_cast<UINT>(bitmap.bmHeight), nullptr, header, DIB_RGB_COLORS) == 0) {
    return result::kBadSourceBitmap;
  }
  // GetDIBits writes whole rows of the requested depth whatever size it
  // reported, so the buffer is at least that large.
  const int64_t rowBytes = (int64_t{bitmap.bmWidth} * bitmap.bmBitsPixel + kDibRowAlignBits - 1) / kDibRowAlignBits *
                           (kDibRowAlignBits / kBitsPerByte);
  if (rowBytes > kMaxImageBytes / bitmap.bmHeight) return result::kBadSourceBitmap;
  const int64_t size = std::max<int64_t>(info.header.biSizeImage, rowBytes * bitmap.bmHeight);
  if (size > kMaxImageBytes) return result::kBadSourceBitmap;

  rows.bytes.assign(static_cast<size_t>(size), 0);  // exhaustion travels on as std::bad_alloc
  Describe(bitmap, info);                           // the size query may have rewritten the header
  if (GetDIBits(dc_, bitmap_, 0, static_cast<UINT>(bitmap.bmHeight), rows.bytes.data(), header, DIB_RGB_COLORS) == 0) {
    return result::kBadSourceBitmap;
  }
  rows.bytes.resize(static_cast<size_t>(rowBytes * bitmap.bmHeight));
  rows.width = bitmap.bmWidth;
  rows.height = bitmap.bmHeight;
  rows.bitCount = bitmap.bmBitsPixel;
  return result::kOk;
}
