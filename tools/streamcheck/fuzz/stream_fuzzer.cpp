// libFuzzer entry: any bytes through the parser, the checker and the label
// drawing. Whatever the input, the replay must end with a result, an error
// offset inside the input and labels of the size the set-up label gave; and
// the same bytes fed in pieces, as the virtual printer receives them, must
// give the same labels and the same verdict.
//
// An input that starts with kImageRecipe is instead a recipe for one PNG
// image put together here, with image data of the size its header calls for
// or some bytes more or fewer, downloaded and recalled in a job: the job must
// print its label when the size is right and be refused for the image
// otherwise.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "stream_checker.h"

namespace {

struct Verdict {
  std::vector<size_t> pictures;  // a hash of each label
  bool failed = false;
  size_t offset = 0;
  std::string message;
};

streamcheck::LabelSink Collect(Verdict& verdict) {
  return [&verdict](const streamcheck::PrintedLabel& label) {
    const auto& picture = label.picture;
    if (picture.rgb.size() != picture.RowBytes() * static_cast<size_t>(picture.height)) std::abort();
    verdict.pictures.push_back(std::hash<std::string_view>()(
        std::string_view(reinterpret_cast<const char*>(picture.rgb.data()), picture.rgb.size())));
    return true;
  };
}

void Note(Verdict& verdict, const streamcheck::CheckResult& result) {
  verdict.failed = result.error.has_value();
  if (result.error) {
    verdict.offset = result.error->offset;
    verdict.message = result.error->message;
  }
}

// Checks `bytes` whole and in pieces; aborts where the two differ.
Verdict CheckWholeAndInPieces(std::string_view bytes) {
  const size_t size = bytes.size();
  Verdict whole;
  const streamcheck::LabelSink sink = Collect(whole);
  const streamcheck::CheckResult result = streamcheck::CheckStream(bytes, &sink);
  if (result.error && result.error->offset > size) std::abort();
  if (result.stats.labels != whole.pictures.size()) std::abort();
  Note(whole, result);

  // In pieces: a cut chosen by the input's length, then pieces of 1..7 bytes.
  for (size_t step : {size_t{0}, size_t{1} + size % 7}) {
    Verdict fed;
    const streamcheck::LabelSink feedSink = Collect(fed);
    streamcheck::PrinterMemory memory;
    streamcheck::StreamFeed feed(memory, &feedSink);
    if (step == 0) {
      feed.Feed(bytes.substr(0, size * 2 / 5));
      feed.Feed(bytes.substr(size * 2 / 5));
    } else {
      for (size_t at = 0; at < size; at += step) feed.Feed(bytes.substr(at, step));
    }
    Note(fed, feed.Finish());
    if (fed.pictures != whole.pictures || fed.failed != whole.failed || fed.offset != whole.offset ||
        fed.message != whole.message) {
      std::abort();
    }
  }
  return whole;
}

constexpr uint8_t kImageRecipe = 0xB1;

// Colour types and bit depths a PNG may combine, palettes aside.
struct PixelFormat {
  uint8_t colourType, bitDepth, channels;
};
constexpr PixelFormat kFormats[] = {
    {0, 1, 1},  {0, 2, 1}, {0, 4, 1},  {0, 8, 1}, {0, 16, 1}, {2, 8, 3},
    {2, 16, 3}, {4, 8, 2}, {4, 16, 2}, {6, 8, 4}, {6, 16, 4},
};

// The bytes the image data of such a header holds: a filter byte and the
// packed pixels of each row, of each non-empty interlace pass when interlaced.
size_t ImageDataSize(uint32_t width, uint32_t height, unsigned bits, bool interlaced) {
  auto row = [bits](size_t pixels) { return 1 + (pixels * bits + 7) / 8; };
  if (!interlaced) return height * row(width);
  const uint32_t x0[] = {0, 4, 0, 2, 0, 1, 0}, dx[] = {8, 8, 4, 4, 2, 2, 1};
  const uint32_t y0[] = {0, 0, 4, 0, 2, 0, 1}, dy[] = {8, 8, 8, 4, 4, 2, 2};
  size_t total = 0;
  for (int p = 0; p < 7; ++p) {
    const size_t columns = width > x0[p] ? (width - x0[p] + dx[p] - 1) / dx[p] : 0;
    const size_t rows = height > y0[p] ? (height - y0[p] + dy[p] - 1) / dy[p] : 0;
    if (columns > 0) total += rows * row(columns);
  }
  return total;
}

void PutChunk(std::string& png, const char* type, const std::string& data) {
  auto put = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) png.push_back(static_cast<char>(v >> (24 - 8 * i)));
  };
  put(static_cast<uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  png += body;
  put(static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
}

// Recipe: width, height, pixel format, interlace, size change (signed), zlib
// level, then the bytes the rows are made of (filter bytes taken modulo 5 so
// that every row is well formed).
void CheckImageRecipe(const uint8_t* data, size_t size) {
  constexpr size_t kHead = 7;
  if (size < kHead) return;
  const uint32_t width = 1 + data[1] % 64, height = 1 + data[2] % 64;
  const PixelFormat format = kFormats[data[3] % std::size(kFormats)];
  const bool interlaced = (data[4] & 1) != 0;
  const int change = static_cast<int8_t>(data[5]);
  const size_t exact = ImageDataSize(width, height, unsigned{format.bitDepth} * format.channels, interlaced);
  const size_t length = change < 0 ? exact - std::min(exact, static_cast<size_t>(-change)) : exact + change;
  std::string raw(length, '\0');
  for (size_t i = 0; i < length; ++i) raw[i] = static_cast<char>(size > kHead ? data[kHead + i % (size - kHead)] : 0);
  // Filter bytes where the rows of the header's size begin (one pass's rows when not interlaced).
  if (!interlaced) {
    const size_t row = exact / height;
    for (size_t at = 0; at < length; at += row) raw[at] = static_cast<char>(static_cast<uint8_t>(raw[at]) % 5);
  } else {
    for (size_t i = 0; i < length; ++i) raw[i] = 0;  // filter "none" and black pixels throughout
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(packedSize, '\0');
  compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
            static_cast<uLong>(raw.size()), data[6] % 10);
  packed.resize(packedSize);

  std::string ihdr;
  for (uint32_t v : {width, height}) {
    for (int i = 0; i < 4; ++i) ihdr.push_back(static_cast<char>(v >> (24 - 8 * i)));
  }
  ihdr += {static_cast<char>(format.bitDepth), static_cast<char>(format.colourType), 0, 0,
           static_cast<char>(interlaced ? 1 : 0)};
  std::string png("\x89PNG\r\n\x1a\n", 8);
  PutChunk(png, "IHDR", ihdr);
  PutChunk(png, "IDAT", packed);
  PutChunk(png, "IEND", "");
  const std::string stream =
      "^XA^S(CLM,T,M2^S(CLS,P,832^S(CLS,L,1200^ST12,7,2026,21,5,9,M^S(CX0,L,E^S(CX0,C,0^S(CX0,Q,2^S(CMP,D,B^C(D^XZ"
      "^XA~DYR:IMG,B,P," +
      std::to_string(png.size()) + ",0," + png + "^FO0,0^IMR:IMG.PNG^FS^XZ";

  const Verdict verdict = CheckWholeAndInPieces(stream);
  if (change == 0) {
    if (verdict.failed || verdict.pictures.size() != 1) std::abort();
    return;
  }
  const char* expected = change > 0 ? "inflates to more than" : "inflates to fewer than";
  if (!verdict.failed || verdict.offset != stream.find("~DYR:") ||
      verdict.message.find(expected) == std::string::npos) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0 && data[0] == kImageRecipe) {
    CheckImageRecipe(data, size);
    return 0;
  }
  CheckWholeAndInPieces(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
