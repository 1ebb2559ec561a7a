#include <gtest/gtest.h>

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

TEST(PngCodec, LabelPicturesReadBackAsWritten) {
  RgbImage picture = Solid(7, 5, {10, 20, 30});
  picture.rgb[3 * (2 * 7 + 4) + 1] = 200;  // one pixel of another colour at (4, 2)
  std::vector<uint8_t> png;
  ASSERT_TRUE(EncodePng(picture, PngEncodeOptions{}, png));
  RgbImage back;
  ASSERT_EQ(DecodePng(png.data(), png.size(), PngLimits{}, back), "");
  EXPECT_EQ(back.width, 7);
  EXPECT_EQ(back.height, 5);
  EXPECT_EQ(back.rgb, picture.rgb);
}

}  // namespace
}  // namespace streamcheck
