#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream_builder.h"
#include "stream_checker.h"

namespace streamcheck {
namespace {

using testing::Rgb;
using testing::Solid;
using testing::StreamBuilder;

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlue{0, 0, 255};

struct Printed {
  size_t offset;
  RgbImage picture;
};

std::vector<Printed> Render(const std::string& stream) {
  std::vector<Printed> labels;
  const LabelSink sink = [&](const PrintedLabel& label) {
    labels.push_back({label.offset, label.picture});
    return true;
  };
  const CheckResult result = CheckStream(stream, &sink);
  EXPECT_FALSE(result.error) << result.error->message;
  EXPECT_EQ(result.stats.labels, labels.size());
  return labels;
}

Rgb At(const RgbImage& image, int32_t x, int32_t y) {
  const uint8_t* p = image.Pixel(x, y);
  return {p[0], p[1], p[2]};
}

bool operator==(Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

TEST(LabelRender, DrawsEachRecallAtItsPositionOnALabelOfTheSetUpSize) {
  const std::vector<Printed> labels = Render(StreamBuilder()
                                                 .Setup(425, 200)
                                                 .Raw("^XA^C(L")
                                                 .Band(Solid(10, 4, kRed), 30, 40)
                                                 .Band(Solid(20, 20, kBlue), 415, 190)  // runs off the corner
                                                 .Raw("^C(S^XZ")
                                                 .Text());
  ASSERT_EQ(labels.size(), 1u);
  const RgbImage& label = labels[0].picture;
  EXPECT_EQ(label.width, 425);
  EXPECT_EQ(label.height, 200);
  EXPECT_TRUE(At(label, 30, 40) == kRed);
  EXPECT_TRUE(At(label, 39, 43) == kRed);
  EXPECT_TRUE(At(label, 40, 43) == kWhite);
  EXPECT_TRUE(At(label, 39, 44) == kWhite);
  EXPECT_TRUE(At(label, 29, 40) == kWhite);
  EXPECT_TRUE(At(label, 424, 199) == kBlue);
  EXPECT_TRUE(At(label, 414, 199) == kWhite);

  // A negative origin cuts the image on the left and at the top.
  const std::vector<Printed> cut =
      Render(StreamBuilder().Setup(425, 200).Raw("^XA").Band(Solid(10, 10, kRed), -5, -8).Raw("^XZ").Text());
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_TRUE(At(cut[0].picture, 4, 1) == kRed);
  EXPECT_TRUE(At(cut[0].picture, 5, 1) == kWhite);
  EXPECT_TRUE(At(cut[0].picture, 4, 2) == kWhite);
}

TEST(LabelRender, PagesCarryTheKeptImageAndOtherFormatsStartWhite) {
  const std::string stream = StreamBuilder()
                                 .Setup(500, 300)  // marker and set-up: print nothing
                                 .Raw("^XA^C(L")   // first page: nothing kept yet
                                 .Band(Solid(500, 300, kRed), 0, 0)
                                 .Raw("^C(S^XZ")
                                 .Raw("^XA^C(L")  // second page adds a blue field
                                 .Band(Solid(10, 10, kBlue), 100, 100)
                                 .Raw("^C(S^XZ")
                                 .Raw("^XA^C(L^C(S^XZ")  // extra copy of the second page
                                 .Raw("^XA")             // end label: from white
                                 .Band(Solid(5, 5, kBlue), 0, 0)
                                 .Raw("^XZ")
                                 .Raw("^XA^C(L")  // a page after it keeps the pages' image
                                 .Raw("^C(S^XZ")
                                 .Text();
  const std::vector<Printed> labels = Render(stream);
  ASSERT_EQ(labels.size(), 5u);
  EXPECT_TRUE(At(labels[0].picture, 100, 100) == kRed);
  EXPECT_TRUE(At(labels[1].picture, 100, 100) == kBlue);
  EXPECT_TRUE(At(labels[1].picture, 99, 100) == kRed);
  EXPECT_EQ(labels[2].picture.rgb, labels[1].picture.rgb);
  EXPECT_TRUE(At(labels[3].picture, 4, 4) == kBlue);
  EXPECT_TRUE(At(labels[3].picture, 100, 100) == kWhite);
  EXPECT_EQ(labels[4].picture.rgb, labels[1].picture.rgb);
  EXPECT_EQ(labels[1].offset, stream.find("^XA^C(L", labels[0].offset + 1));
}

TEST(LabelRender, RecallsTheImageStoredUnderTheirName) {
  const std::vector<Printed> labels = Render(StreamBuilder()
                                                 .Setup(425, 113)
                                                 .Raw("^XA")
                                                 .Download(testing::PluginPng(Solid(4, 4, kRed)), "ONE")
                                                 .Download(testing::PluginPng(Solid(4, 4, kBlue)), "TWO")
                                                 .Recall(0, 0, "ONE")
                                                 .Recall(10, 0, "TWO")
                                                 .Download(testing::PluginPng(Solid(4, 4, kWhite)), "ONE")
                                                 .Recall(20, 0, "ONE")
                                                 .Raw("^XZ")
                                                 .Text());
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_TRUE(At(labels[0].picture, 1, 1) == kRed);
  EXPECT_TRUE(At(labels[0].picture, 11, 1) == kBlue);
  EXPECT_TRUE(At(labels[0].picture, 21, 1) == kWhite);
}

TEST(LabelRender, ANewSetUpLabelChangesTheSizeOfLaterLabels) {
  const std::vector<Printed> labels = Render(StreamBuilder()
                                                 .Setup(1587, 212)  // an error print-out
                                                 .Raw("^XA")
                                                 .Band(Solid(3, 3, kRed), 0, 0)
                                                 .Raw("^XZ")
                                                 .Setup(600, 400)
                                                 .Raw("^XA^C(L^C(S^XZ")
                                                 .Text());
  ASSERT_EQ(labels.size(), 2u);
  EXPECT_EQ(labels[0].picture.width, 1587);
  EXPECT_EQ(labels[0].picture.height, 212);
  EXPECT_EQ(labels[1].picture.width, 600);
  EXPECT_EQ(labels[1].picture.height, 400);
}

}  // namespace
}  // namespace streamcheck
