// CPrintImage: the label raster. Holds the host's latest bitmap (the source),
// the base raster composed once per job, and the rectangle each variable
// element last covered, and composes page images and variable rectangles.
#pragma once
#include <cstdint>
#include <map>
#include <string_view>
#include <utility>

#include "output/raster_image.h"
#include "platform/host_bitmap.h"
#include "platform/result_codes.h"
#include "platform/text_renderer.h"

struct PageSize {
  int32_t width = 0;
  int32_t length = 0;
};

struct TileSize {
  int32_t width = 0;
  int32_t height = 0;
};

class CPrintImage {
 public:
  explicit CPrintImage(TextRenderer& text) : text_(text) {}
  virtual ~CPrintImage() = default;
  CPrintImage(const CPrintImage&) = delete;
  CPrintImage& operator=(const CPrintImage&) = delete;

  // Reads the host's bitmap into the source raster: 401 when it cannot be read,
  // is neither 1 nor 24 bits per pixel, or the previous source is not consumed.
  ResultCode SetSourceBitmap(HostBitmap& bitmap);

  // Composes the base raster once (tiling the source over the grid) and empties
  // the source. The page image is then Base(): it is sent from there rather
  // than copied, so a job never holds two full pages.
  ResultCode ComposeBaseImage(RasterPoint position, PageSize page, int32_t rows, int32_t columns,
                              int32_t verticalPitch, int32_t horizontalPitch);
  // Places the source once on a white page.
  ResultCode ComposeStaticImage(RasterPoint position, PageSize page, RasterImage& out);
  // Cuts the source to the page, widens it by restore strips over the key's
  // previous rectangle and moves `position` to the output's top-left corner.
  ResultCode ComposeVariableImage(RasterPoint& position, PageSize page, RasterImage& out, int32_t key);
  ResultCode ComposeTextImage(RasterPoint& position, PageSize page, const char16_t* text, int32_t fontHeight,
                              const char16_t* faceName, int32_t rotation, RasterImage& out, int32_t key);
  void Reset();

  // A white raster of the page size (padding 0); an empty raster for a page
  // without area. Throws std::bad_alloc for a page no raster can hold.
  static void CreatePageCanvas(PageSize page, RasterImage& out);

  TileSize GetTileSize() const { return tileSize_; }
  const RasterImage& Source() const { return source_; }
  const RasterImage& Base() const { return base_; }

 private:
  struct AreaSize {
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
  };

  // The tiled placement shared by the base and the static image: the source
  // copied over a grid onto a white page, later copies over earlier ones.
  ResultCode PlaceTiled(RasterPoint position, PageSize page, RasterImage& out, int32_t rows, int32_t columns,
                        int32_t verticalPitch, int32_t horizontalPitch) const;

  TextRenderer& text_;
  RasterImage source_;
  RasterImage base_;
  std::map<int32_t, AreaSize> areaSizes_;
  std::map<int32_t, RasterPoint> areaPositions_;
  TileSize tileSize_;
  RasterImage rendered_;  // a message text, drawn here before it becomes the source
};

// Expands 1-bit rows (set bits white, clear bits black) into a 24-bit raster
// with zero padding. Leaves `out` empty when the rows cannot be a 1-bit image
// of their width and height, or the raster would be too large to hold.
void ExpandMonochrome(const DibRows& rows, RasterImage& out);
