#include "output/png_encoder.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/native/debug_output_capture.h"

namespace {

constexpr uint32_t kDpi = 360;

struct Chunk {
  std::string type;
  std::vector<uint8_t> data;
};

uint32_t ReadBigEndian(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// Splits a PNG file into its chunks, checking the signature and every CRC.
std::vector<Chunk> Chunks(const std::vector<uint8_t>& png) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<Chunk> chunks;
  EXPECT_GE(png.size(), sizeof kSignature);
  if (png.size() < sizeof kSignature || std::memcmp(png.data(), kSignature, sizeof kSignature) != 0) return chunks;
  size_t at = sizeof kSignature;
  while (at + 12 <= png.size()) {
    const uint32_t length = ReadBigEndian(&png[at]);
    if (at + 12 + length > png.size()) break;
    const uint8_t* typeAndData = &png[at + 4];
    const uint32_t crc = static_cast<uint32_t>(crc32(0, typeAndData, 4 + length));
    EXPECT_EQ(crc, ReadBigEndian(typeAndData + 4 + length));
    chunks.push_back({std::string(reinterpret_cast<const char*>(typeAndData), 4),
                      std::vector<uint8_t>(typeAndData + 4, typeAndData + 4 + length)});
    at += 12 + length;
  }
  EXPECT_EQ(at, png.size()) << "bytes after the last whole chunk";
  return chunks;
}

struct Decoded {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;  // tightly packed red, green, blue
};

// Decodes with libpng's reader; an empty result means the file was refused.
Decoded Decode(const std::vector<uint8_t>& png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Decoded out;
  if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) {
    ADD_FAILURE() << image.message;
    return out;
  }
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
    ADD_FAILURE() << image.message;
    png_image_free(&image);
    return out;
  }
  out.width = image.width;
  out.height = image.height;
  out.rgb = std::move(rgb);
  return out;
}

// Rows of blue-green-red pixels with varied values, `stride` bytes apart;
// padding bytes hold `padding`. The buffer ends right after the last pixel,
// so that reading the last row's padding would leave it.
std::vector<uint8_t> Pixels(uint32_t width, uint32_t height, uint32_t stride, uint8_t padding = 0xEE) {
  std::vector<uint8_t> pixels(size_t{stride} * (height - 1) + size_t{width} * 3, padding);
  uint32_t state = width * 7919u + height;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t i = 0; i < width * 3; ++i) {
      state = state * 1103515245u + 12345u;
      pixels[size_t{y} * stride + i] = static_cast<uint8_t>(state >> 16);
    }
  }
  return pixels;
}

std::vector<uint8_t> Encode(const std::vector<uint8_t>& pixels, uint32_t width, uint32_t height, uint32_t stride,
                            uint32_t hDpi = kDpi, uint32_t vDpi = kDpi) {
  std::vector<uint8_t> png;
  EXPECT_EQ(PngWriteSettings{}.EncodePng(png, pixels.data(), width, height, stride, hDpi, vDpi), result::kOk);
  return png;
}

TEST(PngEncoder, DecodedPixelsHaveRedAndBlueInTheirPlaces) {
  // Widths around every block size the pixel loop uses, a one-pixel image and a page-wide row.
  std::vector<uint32_t> widths = {1, 1587};
  for (uint32_t w = 2; w <= 50; ++w) widths.push_back(w);
  for (const uint32_t width : widths) {
    const uint32_t height = width == 1 ? 1 : 3;
    const uint32_t stride = (width * 3 + 3) / 4 * 4;
    const auto pixels = Pixels(width, height, stride);
    const Decoded image = Decode(Encode(pixels, width, height, stride));
    ASSERT_EQ(image.width, width);
    ASSERT_EQ(image.height, height);
    for (uint32_t y = 0; y < height; ++y) {
      for (uint32_t x = 0; x < width; ++x) {
        const uint8_t* in = &pixels[size_t{y} * stride + x * 3];
        const uint8_t* out = &image.rgb[(size_t{y} * width + x) * 3];
        ASSERT_EQ(out[0], in[2]) << "red of pixel " << x << "," << y << " at width " << width;
        ASSERT_EQ(out[1], in[1]) << "green of pixel " << x << "," << y << " at width " << width;
        ASSERT_EQ(out[2], in[0]) << "blue of pixel " << x << "," << y << " at width " << width;
      }
    }
  }
}

TEST(PngEncoder, PaddingOfRowsIsNeverRead) {
  const uint32_t width = 37, height = 9;
  const auto tight = Pixels(width, height, width * 3);
  const std::vector<uint8_t> expected = Encode(tight, width, height, width * 3);
  for (const uint32_t padding : {1u, 3u, 64u}) {
    const uint32_t stride = width * 3 + padding;
    for (const uint8_t poison : {uint8_t{0x00}, uint8_t{0xA5}, uint8_t{0xFF}}) {
      std::vector<uint8_t> padded(size_t{stride} * (height - 1) + width * 3, poison);
      for (uint32_t y = 0; y < height; ++y) {
        std::memcpy(&padded[size_t{y} * stride], &tight[size_t{y} * width * 3], width * 3);
      }
      EXPECT_EQ(Encode(padded, width, height, stride), expected) << "padding " << padding;
    }
  }
}

TEST(PngEncoder, WritesHeaderPhysicalDimensionsImageDataAndEndOnly) {
  const uint32_t width = 300, height = 40;
  const auto chunks = Chunks(Encode(Pixels(width, height, width * 3), width, height, width * 3));
  ASSERT_GE(chunks.size(), 4u);
  EXPECT_EQ(chunks.front().type, "IHDR");
  EXPECT_EQ(chunks[1].type, "pHYs");
  EXPECT_EQ(chunks.back().type, "IEND");
  std::vector<uint8_t> compressed;
  for (size_t i = 2; i + 1 < chunks.size(); ++i) {
    EXPECT_EQ(chunks[i].type, "IDAT");
    compressed.insert(compressed.end(), chunks[i].data.begin(), chunks[i].data.end());
  }
  // 24-bit RGB, no interlacing, compression and filter methods 0.
  const std::vector<uint8_t>& header = chunks.front().data;
  ASSERT_EQ(header.size(), 13u);
  EXPECT_EQ(ReadBigEndian(&header[0]), width);
  EXPECT_EQ(ReadBigEndian(&header[4]), height);
  EXPECT_EQ(std::vector<uint8_t>(header.begin() + 8, header.end()), (std::vector<uint8_t>{8, 2, 0, 0, 0}));

  // Every row is stored with the None filter.
  std::vector<uint8_t> rows(size_t{height} * (width * 3 + 1));
  uLongf size = static_cast<uLongf>(rows.size());
  ASSERT_EQ(uncompress(rows.data(), &size, compressed.data(), static_cast<uLong>(compressed.size())), Z_OK);
  ASSERT_EQ(size, rows.size());
  for (uint32_t y = 0; y < height; ++y) EXPECT_EQ(rows[size_t{y} * (width * 3 + 1)], 0) << "filter of row " << y;
}

TEST(PngEncoder, RecordsResolutionInPixelsPerMetre) {
  struct Case {
    uint32_t hDpi, vDpi, hPerMetre, vPerMetre;
  };
  // 360 dpi is 14173.2 pixels per metre, truncated; a resolution whose product
  // with 10000 passes 32 bits must not wrap round to a small wrong value.
  for (const Case c : {Case{360, 360, 14173, 14173}, Case{300, 600, 11811, 23622}, Case{1000000, 360, 39370078, 14173},
                       Case{0xFFFFFFFF, 1, 0x7FFFFFFF, 39}}) {
    const auto pixels = Pixels(2, 2, 6);
    const auto chunks = Chunks(Encode(pixels, 2, 2, 6, c.hDpi, c.vDpi));
    ASSERT_GE(chunks.size(), 2u);
    ASSERT_EQ(chunks[1].type, "pHYs");
    ASSERT_EQ(chunks[1].data.size(), 9u);
    EXPECT_EQ(ReadBigEndian(&chunks[1].data[0]), c.hPerMetre) << c.hDpi << " dpi";
    EXPECT_EQ(ReadBigEndian(&chunks[1].data[4]), c.vPerMetre) << c.vDpi << " dpi";
    EXPECT_EQ(chunks[1].data[8], 1) << "unit: metre";
  }
}

TEST(PngEncoder, EncodingTwiceIntoOneVectorLeavesOnlyTheSecondFile) {
  const auto large = Pixels(200, 100, 600);
  const auto small = Pixels(5, 2, 15);
  const std::vector<uint8_t> expected = Encode(small, 5, 2, 15);
  std::vector<uint8_t> png;
  ASSERT_EQ(PngWriteSettings{}.EncodePng(png, large.data(), 200, 100, 600, kDpi, kDpi), result::kOk);
  ASSERT_EQ(PngWriteSettings{}.EncodePng(png, small.data(), 5, 2, 15, kDpi, kDpi), result::kOk);
  EXPECT_EQ(png, expected);
  EXPECT_EQ(Decode(png).width, 5u);
}

TEST(PngEncoder, RefusedImagesReturnFalse) {
  const auto pixels = Pixels(4, 4, 12);
  const PngWriteSettings settings;
  TakeDebugOutput();

  // A missing pixel pointer is refused before anything is touched or said.
  std::vector<uint8_t> png = {1, 2, 3};
  EXPECT_EQ(settings.EncodePng(png, nullptr, 4, 4, 12, kDpi, kDpi), result::kEncodingFailed);
  EXPECT_EQ(png, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(TakeDebugOutput(), u"");

  // libpng's header check refuses empty and oversized images; no pixel is read.
  struct Size {
    uint32_t width, height;
  };
  for (const Size size : {Size{0, 4}, Size{4, 0}, Size{2000000, 1}}) {
    EXPECT_EQ(settings.EncodePng(png, pixels.data(), size.width, size.height, 12, kDpi, kDpi), result::kEncodingFailed)
        << size.width << " x " << size.height;
    EXPECT_EQ(TakeDebugOutput(), u"compression failed.\n") << size.width << " x " << size.height;
  }

  // A refusal leaves the encoder usable.
  EXPECT_EQ(settings.EncodePng(png, pixels.data(), 4, 4, 12, kDpi, kDpi), result::kOk);
  EXPECT_EQ(Decode(png).height, 4u);
  EXPECT_EQ(TakeDebugOutput(), u"");
}

}  // namespace
