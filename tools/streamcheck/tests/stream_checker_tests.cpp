#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "png_codec.h"
#include "stream_builder.h"
#include "stream_checker.h"

namespace streamcheck {
namespace {

using testing::PluginPng;
using testing::Solid;
using testing::StreamBuilder;
using testing::WithAnnouncedSize;

std::string SetupOnly() { return StreamBuilder().Setup(832, 1200).Text(); }

void ExpectDamage(const std::string& stream, size_t offset, const std::string& message) {
  const CheckResult result = CheckStream(stream);
  ASSERT_TRUE(result.error) << stream;
  EXPECT_EQ(result.error->offset, offset) << stream;
  EXPECT_NE(result.error->message.find(message), std::string::npos) << result.error->message;
}

TEST(StreamChecker, AcceptsAPluginJobAndCountsIt) {
  const RgbImage tall = Solid(100, 10, {0, 0, 255});
  const std::string stream = StreamBuilder()
                                 .Setup(832, 1200)
                                 .Raw("^XA^C(L")
                                 .Band(tall, 0, 0)
                                 .Band(tall, 0, 10)  // second band of the same raster
                                 .Band(Solid(8, 8, {1, 2, 3}), 50, 500)
                                 .Raw("^C(S^XZ^XA^C(L^C(S^XZ")  // one extra copy
                                 .Raw("^XA")
                                 .Band(Solid(832, 1200, {255, 255, 255}), 0, 0)
                                 .Raw("^XZ")
                                 .Text();
  const CheckResult result = CheckStream(stream);
  ASSERT_FALSE(result.error) << result.error->message;
  EXPECT_EQ(result.stats.bytes, stream.size());
  EXPECT_EQ(result.stats.formats, 5u);
  EXPECT_EQ(result.stats.labels, 3u);
  EXPECT_EQ(result.stats.recalls, 4u);
  EXPECT_EQ(result.stats.images, 3u);
  ASSERT_EQ(result.stats.setups.size(), 1u);
  EXPECT_EQ(result.stats.setups[0].width, 832);
  EXPECT_EQ(result.stats.setups[0].cutMode, 'E');
  EXPECT_EQ(result.stats.setups[0].offset, stream.find("^XA^S(CLM"));
}

TEST(StreamChecker, RefusesFormatsThatAreNotFramedAsThePluginFramesThem) {
  const std::string setup = SetupOnly();
  const size_t at = setup.size();
  ExpectDamage(setup + "^XA^C(L", at, "never closed");
  ExpectDamage(setup + "^XZ", at, "^XZ outside a label format");
  ExpectDamage(setup + "^XA^XA^XZ", at + 3, "^XA inside the label format opened at offset " + std::to_string(at));
  ExpectDamage(setup + "^XA^XZ", at, "holds no command");
  ExpectDamage(setup + "^XA^C(S^XZ", at + 3, "^C(S outside a page format");
  ExpectDamage(setup + "^XA^C(L^XZ", at + 7, "without ^C(S");
  ExpectDamage(setup + "^XA^C(L^C(S^C(L^XZ", at + 11, "only ^XZ may follow ^C(S");
  ExpectDamage(setup + "^XA^FXLTCommand^FS^C(L^C(S^XZ", at + 18, "^C(L must follow ^XA directly");
  ExpectDamage("^XA^C(L^C(S^XZ", 3, "before any set-up label");
  ExpectDamage("^XA^S(CLM,T,M2^S(CLS,L,1200^XZ", 14, "expected ^S(CLS,P,");
  ExpectDamage("^XA^S(CLM,T,M2^S(CLS,P,1588^XZ", 14, "label width 1588 is outside 425..1587");
  ExpectDamage("^XA^S(CLM,T,M2^S(CLS,P,425^S(CLS,L,112^XZ", 26, "label length 112");
  ExpectDamage("^XA^S(CLM,T,M2^S(CLS,P,425^XZ", 26, "set-up label ends before ^S(CLS,L,");
  ExpectDamage(setup + "^XA^C(L^S(CLM,T,M2^C(S^XZ", at + 7, "not a set-up label");
}

TEST(StreamChecker, RefusesRecallsOfImagesNoDownloadStored) {
  const std::vector<uint8_t> png = PluginPng(Solid(4, 4, {0, 0, 0}));
  const std::string before = StreamBuilder().Setup(832, 1200).Raw("^XA").Recall(0, 0).Download(png).Raw("^XZ").Text();
  ExpectDamage(before, before.find("^FO"), "recall of image \"DIFF\", which no earlier download stored");

  const std::string otherName =
      StreamBuilder().Setup(832, 1200).Raw("^XA").Download(png, "DIFF").Recall(0, 0, "BASE").Raw("^XZ").Text();
  ExpectDamage(otherName, otherName.find("^FO"), "\"BASE\"");

  // An image stays in printer memory from one format to the next.
  const std::string later =
      StreamBuilder().Setup(832, 1200).Raw("^XA").Download(png).Raw("^XZ^XA").Recall(9, 9).Raw("^XZ").Text();
  EXPECT_FALSE(CheckStream(later).error);
}

TEST(StreamChecker, RefusesDamagedAndOversizedImagesBeforeDecodingThem) {
  const std::vector<uint8_t> sound = PluginPng(Solid(20, 20, {9, 9, 9}));
  auto streamWith = [](const std::vector<uint8_t>& png) {
    return StreamBuilder().Setup(832, 1200).Raw("^XA").Download(png).Recall(0, 0).Raw("^XZ").Text();
  };
  const size_t downloadAt = streamWith(sound).find("~DYR:");

  // 60000 x 60000 would need ten gigabytes: refused from the header alone.
  ExpectDamage(streamWith(WithAnnouncedSize(sound, 60000, 60000)), downloadAt,
               "PNG of 60000 x 60000 pixels is larger than the printer's largest label (1587 x 14400)");
  ExpectDamage(streamWith(WithAnnouncedSize(sound, 1588, 20)), downloadAt, "larger than the printer's largest label");

  std::vector<uint8_t> corrupt = sound;
  corrupt[corrupt.size() - 20] ^= 0x5A;  // inside the image data
  ExpectDamage(streamWith(corrupt), downloadAt, "invalid PNG");

  std::vector<uint8_t> trailing = sound;
  trailing.push_back('x');
  ExpectDamage(streamWith(trailing), downloadAt, "1 bytes after the PNG's end");

  std::vector<uint8_t> cut(sound.begin(), sound.end() - 12);  // no IEND
  ExpectDamage(streamWith(cut), downloadAt, "PNG data ends early");

  ExpectDamage(streamWith({'G', 'I', 'F', '8', '9', 'a'}), downloadAt, "signature missing");
}

TEST(PngCodec, LabelPicturesReadBackAsWrittenWithEveryEncoding) {
  // Flat areas, a ramp down the picture and random dots: every row filter has work.
  std::mt19937 random(11);
  RgbImage picture = Solid(97, 61, {10, 20, 30});
  for (int32_t y = 0; y < picture.height; ++y) {
    for (int32_t x = 0; x < picture.width; ++x) {
      uint8_t* p = picture.rgb.data() + 3 * (static_cast<size_t>(y) * picture.width + x);
      if (y > 20) p[0] = static_cast<uint8_t>(4 * y + x);
      if (random() % 9 == 0) p[random() % 3] = static_cast<uint8_t>(random());
    }
  }
  PngEncodeOptions unfiltered;
  unfiltered.filters = RowFilters::NoneOnly;
  for (const PngEncodeOptions& options :
       {PngEncodeOptions{}, LabelPictureEncoding(), LabelPictureEncoding(9), unfiltered}) {
    std::vector<uint8_t> png;
    ASSERT_TRUE(EncodePng(picture, options, png));
    RgbImage back;
    ASSERT_EQ(DecodePng(png.data(), png.size(), PngLimits{}, back), "");
    EXPECT_EQ(back.width, 97);
    EXPECT_EQ(back.height, 61);
    EXPECT_EQ(back.rgb, picture.rgb) << "level " << options.level;
  }
}

using testing::AssembledPng;
using testing::DeflatedZeros;
using testing::PngFields;

CheckResult Replay(PrinterMemory& memory, const std::string& stream) {
  StreamFeed feed(memory, nullptr);
  feed.Feed(stream);
  return feed.Finish();
}

// The bytes a PNG's image data holds: a filter byte and the packed pixels of
// each row of each of the seven interlace passes, or of each row.
uint64_t ExpectedImageData(const PngFields& f, unsigned pixelBits) {
  auto rowBytes = [&](uint64_t pixels) { return 1 + (pixels * pixelBits + 7) / 8; };
  if (f.interlace == 0) return f.height * rowBytes(f.width);
  const uint32_t x0[] = {0, 4, 0, 2, 0, 1, 0}, dx[] = {8, 8, 4, 4, 2, 2, 1};
  const uint32_t y0[] = {0, 0, 4, 0, 2, 0, 1}, dy[] = {8, 8, 8, 4, 4, 2, 2};
  uint64_t total = 0;
  for (int p = 0; p < 7; ++p) {
    const uint64_t columns = f.width > x0[p] ? (f.width - x0[p] + dx[p] - 1) / dx[p] : 0;
    const uint64_t rows = f.height > y0[p] ? (f.height - y0[p] + dy[p] - 1) / dy[p] : 0;
    if (columns > 0) total += rows * rowBytes(columns);
  }
  return total;
}

TEST(StreamChecker, RefusesImagesWhoseDataInflatesToMoreOrLessThanTheirHeaderSays) {
  struct Shape {
    PngFields fields;
    unsigned pixelBits;
  };
  const Shape shapes[] = {
      {{1, 1, 8, 2, 0}, 24}, {{9, 2, 1, 0, 0}, 1},   {{5, 3, 16, 6, 1}, 64},
      {{1, 1, 8, 4, 1}, 16}, {{13, 11, 4, 0, 1}, 4}, {{3, 9, 16, 2, 0}, 48},
  };
  for (const Shape& shape : shapes) {
    const uint64_t exact = ExpectedImageData(shape.fields, shape.pixelBits);
    for (int64_t change : {-1, 0, 1, 1000}) {
      const std::vector<uint8_t> png = AssembledPng(shape.fields, DeflatedZeros(exact + change));
      const std::string stream = StreamBuilder().Setup(832, 1200).Raw("^XA").Download(png).Raw("^XZ").Text();
      const CheckResult result = CheckStream(stream);
      const std::string what = std::to_string(shape.fields.width) + " x " + std::to_string(shape.fields.height) +
                               " interlace " + std::to_string(shape.fields.interlace) + " change " +
                               std::to_string(change);
      if (change == 0) {
        EXPECT_FALSE(result.error) << what << ": " << result.error->message;
        continue;
      }
      ASSERT_TRUE(result.error) << what;
      EXPECT_EQ(result.error->offset, stream.find("~DYR:")) << what;
      const std::string expected = std::string(change < 0 ? "fewer" : "more") + " than the " + std::to_string(exact) +
                                   " bytes its " + std::to_string(shape.fields.width) + " x " +
                                   std::to_string(shape.fields.height) + " header calls for";
      EXPECT_NE(result.error->message.find(expected), std::string::npos) << what << ": " << result.error->message;
    }
  }

  // A 1 x 1 image whose data inflates to a gibibyte (a megabyte of download)
  // is refused once its data runs past the four bytes it may hold.
  const std::vector<uint8_t> bomb = AssembledPng(PngFields{}, DeflatedZeros(uint64_t{1} << 30));
  EXPECT_LT(bomb.size(), 2u << 20);
  const std::string stream = StreamBuilder().Setup(832, 1200).Raw("^XA").Download(bomb).Recall(0, 0).Raw("^XZ").Text();
  ExpectDamage(stream, stream.find("~DYR:"), "image data inflates to more than the 4 bytes");
}

TEST(StreamChecker, AStreamCutAnywhereIsReportedAsCut) {
  const std::string stream = StreamBuilder()
                                 .Setup(832, 1104)
                                 .Raw("^XA^C(L")
                                 .Band(Solid(8, 8, {1, 2, 3}), 0, 0)
                                 .Raw("^C(S^XZ^XA^FXend^FS^XZ")
                                 .Text();
  for (size_t length = 1; length < stream.size(); ++length) {
    const CheckResult result = CheckStream(stream.substr(0, length));
    if (!result.error) continue;  // cut between two formats
    const std::string& message = result.error->message;
    const bool cut = message.rfind("stream ends", 0) == 0 || message.find("never closed") != std::string::npos ||
                     message.find("bytes but only") != std::string::npos;
    EXPECT_TRUE(cut) << "cut after " << length << " bytes: " << message;
  }
  const size_t lengthValue = stream.find("^S(CLS,L,") + 9;
  const CheckResult cut = CheckStream(stream.substr(0, lengthValue + 3));  // "110" of "1104"
  ASSERT_TRUE(cut.error);
  EXPECT_EQ(cut.error->message, "stream ends inside the label length");
  EXPECT_EQ(cut.error->offset, lengthValue);
}

TEST(StreamChecker, FaultsQuoteAShortPieceOfAnyStreamText) {
  const std::string setup = SetupOnly();
  const std::string huge(20u << 20, 'N');  // a recall name of 20 MiB
  const std::string big(1u << 20, 'N');
  const std::vector<uint8_t> png = PluginPng(Solid(2, 2, {0, 0, 0}));
  const std::string streams[] = {
      setup + "^XA^FO0,0^IMR:" + huge + ".PNG^FS^XZ",
      StreamBuilder().Setup(832, 1200).Raw("^XA").Download(png, big.c_str()).Raw("^XZ").Text(),
      "^XA^S(CLM,T,M2^S(CLS,P," + std::string(1u << 20, '7') + "^XZ",
      "^" + big,
      "^XA^S(CLM,T," + big + "^XZ",
      setup + "^XA^FO" + std::string(1u << 20, '1') + ",0^IMR:A.PNG^FS^XZ",
  };
  for (const std::string& stream : streams) {
    const CheckResult result = CheckStream(stream);
    ASSERT_TRUE(result.error);
    EXPECT_LE(result.error->message.size(), 300u) << result.error->message.substr(0, 300);
    EXPECT_NE(result.error->message.find("..."), std::string::npos) << result.error->message;
  }
}

TEST(StreamChecker, ImageNamesAreBoundedAndCountInPrinterMemory) {
  const std::vector<uint8_t> png = PluginPng(Solid(2, 2, {0, 0, 0}));
  auto download = [&](const std::string& name) {
    return StreamBuilder().Setup(832, 1200).Raw("^XA").Download(png, name.c_str()).Raw("^XZ").Text();
  };
  EXPECT_FALSE(CheckStream(download(std::string(64, 'L'))).error);
  const std::string longer = download(std::string(65, 'L'));
  ExpectDamage(longer, longer.find("~DYR:"), "a name of 65 bytes is longer than the 64 bytes the printer keeps");

  // Tiny images under long names: nineteen fit where the PNG bytes alone
  // would leave room for hundreds.
  const size_t each = png.size() + 64 + kStoredImageOverhead;
  PrinterMemory memory;
  memory.imageByteLimit = 20 * each - 1;
  StreamBuilder job;
  job.Setup(832, 1200).Raw("^XA");
  size_t twentieth = 0;
  for (int i = 0; i < 40; ++i) {
    std::string name = std::to_string(i);
    name.resize(64, 'x');
    if (i == 19) twentieth = job.Text().size();
    job.Download(png, name.c_str());
  }
  const CheckResult result = Replay(memory, job.Raw("^XZ").Text());
  ASSERT_TRUE(result.error);
  EXPECT_EQ(result.error->offset, twentieth);
  EXPECT_NE(result.error->message.find("printer memory full"), std::string::npos) << result.error->message;
  EXPECT_EQ(memory.imageBytes, 19 * each);
  EXPECT_EQ(memory.images.size(), 19u);
}

// A random job on a 425 x 200 label, with the pixels each command paints as
// a plain reading of it counts them: the part of each recalled image on the
// label, the whole label for each "^C(L".
struct PaintedJob {
  std::string stream;
  std::vector<std::pair<size_t, uint64_t>> paints;  // offset, pixels
  std::vector<size_t> labels;                       // offset of each label's "^XA"
};

PaintedJob RandomPaintedJob(std::mt19937& random) {
  auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  StreamBuilder job;
  job.Setup(425, 200);
  PaintedJob built;
  for (int label = pick(1, 5); label > 0; --label) {
    const bool page = pick(0, 1) == 1;
    built.labels.push_back(job.Text().size());
    if (page) built.paints.push_back({job.Text().size() + 3, 425 * 200});
    job.Raw(page ? "^XA^C(L" : "^XA");
    for (int band = pick(1, 4); band > 0; --band) {
      const int w = pick(1, 60), h = pick(1, 60), x = pick(-70, 430), y = pick(-70, 210);
      job.Download(PluginPng(Solid(w, h, {0, 0, 0})));
      const int64_t across = std::max(0, std::min(x + w, 425) - std::max(x, 0));
      const int64_t down = std::max(0, std::min(y + h, 200) - std::max(y, 0));
      built.paints.push_back({job.Text().size(), static_cast<uint64_t>(across * down)});
      job.Recall(x, y);
    }
    job.Raw(page ? "^C(S^XZ" : "^XZ");
  }
  built.stream = job.Text();
  return built;
}

TEST(StreamChecker, AJobIsCutWhereItPaintsOrPrintsMoreThanItsBounds) {
  std::mt19937 random(5);
  for (int run = 0; run < 30; ++run) {
    const PaintedJob job = RandomPaintedJob(random);
    uint64_t total = 0;
    for (const auto& paint : job.paints) total += paint.second;
    PrinterMemory memory;
    memory.limits.paintedPixels = total;
    memory.limits.labels = job.labels.size();
    const CheckResult exact = Replay(memory, job.stream);
    ASSERT_FALSE(exact.error) << exact.error->message;
    // The bounds hold for each job: the same job again stays within them.
    ASSERT_FALSE(Replay(memory, job.stream).error);

    if (total > 0) {
      size_t crossing = 0;
      uint64_t sum = 0;
      for (const auto& paint : job.paints) {
        sum += paint.second;
        if (sum > total - 1) {
          crossing = paint.first;
          break;
        }
      }
      PrinterMemory less;
      less.limits.paintedPixels = total - 1;
      const CheckResult cut = Replay(less, job.stream);
      ASSERT_TRUE(cut.error) << "run " << run;
      EXPECT_EQ(cut.error->offset, crossing) << "run " << run;
      EXPECT_EQ(cut.error->message, "the job paints more than " + std::to_string(total - 1) + " pixels");
    }

    PrinterMemory fewer;
    fewer.limits.labels = job.labels.size() - 1;
    const CheckResult cut = Replay(fewer, job.stream);
    ASSERT_TRUE(cut.error);
    EXPECT_EQ(cut.error->offset, job.labels.back()) << "run " << run;
    EXPECT_EQ(cut.error->message, "the job prints more than " + std::to_string(job.labels.size() - 1) + " labels");
    EXPECT_EQ(cut.stats.labels, job.labels.size() - 1);
  }
}

}  // namespace
}  // namespace streamcheck
