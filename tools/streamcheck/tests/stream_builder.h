// Test streams built with the plug-in's own command writer and PNG encoder,
// so that the checker is tried on exactly the bytes the plug-in emits.
#pragma once
#include <algorithm>
#include <cstdlib>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <zlib.h>

#include "output/png_encoder.h"
#include "output/print_command.h"
#include "rgb_image.h"
#include "support/native/fakes.h"

namespace streamcheck::testing {

struct Rgb {
  uint8_t r, g, b;
};

inline RgbImage Solid(int32_t width, int32_t height, Rgb colour) {
  RgbImage image = RgbImage::White(width, height);
  for (size_t i = 0; i < image.rgb.size(); i += 3) {
    image.rgb[i] = colour.r;
    image.rgb[i + 1] = colour.g;
    image.rgb[i + 2] = colour.b;
  }
  return image;
}

// PNG bytes as the plug-in encodes a band: blue-green-red rows padded to 4 bytes.
inline std::vector<uint8_t> PluginPng(const RgbImage& image) {
  const uint32_t stride = (static_cast<uint32_t>(image.width) * 3 + 3) & ~3u;
  std::vector<uint8_t> bgr(static_cast<size_t>(stride) * image.height, 0);
  for (int32_t y = 0; y < image.height; ++y) {
    for (int32_t x = 0; x < image.width; ++x) {
      const uint8_t* p = image.Pixel(x, y);
      uint8_t* q = bgr.data() + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3;
      q[0] = p[2];
      q[1] = p[1];
      q[2] = p[0];
    }
  }
  std::vector<uint8_t> png;
  if (PngWriteSettings{}.EncodePng(png, bgr.data(), static_cast<uint32_t>(image.width),
                                   static_cast<uint32_t>(image.height), stride, 360, 360) != result::kOk) {
    std::abort();
  }
  return png;
}

// A PNG whose header announces another size, with a correct header checksum.
inline std::vector<uint8_t> WithAnnouncedSize(std::vector<uint8_t> png, uint32_t width, uint32_t height) {
  constexpr size_t kIhdrType = 12, kIhdrData = 16, kIhdrCrc = 29;
  auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) png[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  };
  put(kIhdrData, width);
  put(kIhdrData + 4, height);
  put(kIhdrCrc, static_cast<uint32_t>(crc32(0, png.data() + kIhdrType, kIhdrCrc - kIhdrType)));
  return png;
}

// A PNG file put together chunk by chunk around image data of our choosing,
// so that the data can inflate to more or less than the header calls for.
struct PngFields {
  uint32_t width = 1, height = 1;
  uint8_t bitDepth = 8, colourType = 2, interlace = 0;
};

inline void AppendChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
  auto put = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) png.push_back(static_cast<uint8_t>(v >> (24 - 8 * i)));
  };
  put(static_cast<uint32_t>(data.size()));
  const size_t typeAt = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  put(static_cast<uint32_t>(crc32(0, png.data() + typeAt, static_cast<uInt>(data.size() + 4))));
}

inline std::vector<uint8_t> AssembledPng(const PngFields& f, const std::vector<uint8_t>& compressed) {
  std::vector<uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  for (uint32_t v : {f.width, f.height}) {
    for (int i = 0; i < 4; ++i) ihdr.push_back(static_cast<uint8_t>(v >> (24 - 8 * i)));
  }
  ihdr.insert(ihdr.end(), {f.bitDepth, f.colourType, 0, 0, f.interlace});
  AppendChunk(png, "IHDR", ihdr);
  AppendChunk(png, "IDAT", compressed);
  AppendChunk(png, "IEND", {});
  return png;
}

// `count` zero bytes (filter "none", black pixels) deflated a mebibyte at a
// time, so that a gibibyte costs little time or memory to make.
inline std::vector<uint8_t> DeflatedZeros(uint64_t count) {
  constexpr size_t kStep = 1 << 20;
  const std::vector<uint8_t> zeros(kStep, 0);
  std::vector<uint8_t> out;
  std::vector<uint8_t> buffer(kStep);
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, 15, 9, Z_RLE);
  for (uint64_t left = count;;) {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(left, kStep));
    left -= piece;
    z.next_in = const_cast<Bytef*>(zeros.data());
    z.avail_in = static_cast<uInt>(piece);
    const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
    do {
      z.next_out = buffer.data();
      z.avail_out = static_cast<uInt>(buffer.size());
      deflate(&z, flush);
      out.insert(out.end(), buffer.data(), z.next_out);
    } while (z.avail_out == 0);
    if (left == 0) break;
  }
  deflateEnd(&z);
  return out;
}

inline std::vector<uint8_t> Deflated(const std::vector<uint8_t>& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<uint8_t> out(size);
  compress(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()));
  out.resize(size);
  return out;
}

class StreamBuilder {
 public:
  // Every command the builder asks for is one the command stream writes.
  static void Built(ResultCode code) {
    if (code != result::kOk) std::abort();
  }
  StreamBuilder& Setup(int32_t width, int32_t length) {
    Built(command_.AppendJobSetup({width, length}, "M2", 'E', 0, 2, 'B'));
    return *this;
  }
  StreamBuilder& Raw(std::string_view text) {
    command_.AppendRaw(text);
    return *this;
  }
  StreamBuilder& Download(const std::vector<uint8_t>& png, std::string_view name = "DIFF") {
    command_.AppendImageDownload(name, png);
    return *this;
  }
  StreamBuilder& Recall(int32_t x, int32_t y, std::string_view name = "DIFF") {
    command_.AppendImageRecall(name, {x, y});
    return *this;
  }
  // One band as page assembly sends it: downloaded and recalled at once.
  StreamBuilder& Band(const RgbImage& image, int32_t x, int32_t y) { return Download(PluginPng(image)).Recall(x, y); }

  std::string Text() const { return std::string(command_.Buffer().begin(), command_.Buffer().end()); }

 private:
  FixedClock clock_;
  CPrintCommand command_{clock_};
};

}  // namespace streamcheck::testing
