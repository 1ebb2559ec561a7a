#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
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

// The areas of each printed label as a plain reading of the stream finds
// them: downloads skipped by their byte count, names and positions read
// between the literals that surround them.
std::vector<std::vector<SentArea>> ReadAreas(const std::string& s) {
  struct Stored {
    size_t offset, bytes;
    int32_t width, height;
  };
  auto be32 = [&](size_t at) {
    int32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v = v * 256 + static_cast<unsigned char>(s[at + i]);
    return v;
  };
  std::map<std::string, Stored> stored;
  std::vector<std::vector<SentArea>> labels;
  std::vector<SentArea> current;
  bool prints = false;
  for (size_t at = 0; at < s.size();) {
    if (s.compare(at, 3, "^XA") == 0) {
      current.clear();
      prints = s.compare(at + 3, 4, "^C(L") == 0;
      at += 3;
    } else if (s.compare(at, 3, "^XZ") == 0) {
      if (prints) labels.push_back(current);
      at += 3;
    } else if (s.compare(at, 5, "~DYR:") == 0) {
      const size_t comma = s.find(',', at);
      const size_t data = s.find(",0,", comma) + 3;
      const size_t bytes = std::strtoull(s.c_str() + comma + 5, nullptr, 10);
      stored[s.substr(at + 5, comma - at - 5)] = {at, bytes, be32(data + 16), be32(data + 20)};
      prints = true;
      at = data + bytes;
    } else if (s.compare(at, 3, "^FO") == 0) {
      char* end = nullptr;
      const int64_t x = std::strtoll(s.c_str() + at + 3, &end, 10);
      const int64_t y = std::strtoll(end + 1, &end, 10);
      const size_t name = s.find("^IMR:", at) + 5;
      const Stored& image = stored.at(s.substr(name, s.find(".PNG", name) - name));
      current.push_back({x, y, image.width, image.height, image.bytes, image.offset, at});
      prints = true;
      at += 3;
    } else {
      ++at;
    }
  }
  return labels;
}

TEST(LabelRender, EachLabelListsTheAreasItsRecallsDrewInStreamOrder) {
  const char* const names[] = {"DIFF", "BASE", "C1"};
  std::mt19937 random(18);
  auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  for (int run = 0; run < 20; ++run) {
    StreamBuilder job;
    job.Setup(600, 400);
    for (int label = pick(1, 4); label > 0; --label) {
      const bool page = pick(0, 1) == 1;
      job.Raw(page ? "^XA^C(L" : "^XA");
      // A name recalled in an earlier label, or downloaded and not recalled, lies in memory still.
      for (int band = pick(page ? 0 : 1, 5); band > 0; --band) {
        const char* name = names[pick(0, 2)];
        const RgbImage image = Solid(pick(1, 40), pick(1, 30), {static_cast<uint8_t>(pick(0, 255)), 0, 0});
        if (pick(0, 3) > 0) job.Download(testing::PluginPng(image), name);
        if (pick(0, 4) > 0) job.Download(testing::PluginPng(image), name).Recall(pick(-20, 620), pick(-20, 420), name);
      }
      job.Raw(page ? "^C(S^XZ" : "^XZ");
    }
    const std::string stream = job.Text();
    std::vector<std::vector<SentArea>> areas;
    const LabelSink sink = [&](const PrintedLabel& label) {
      areas.push_back(label.areas);
      return true;
    };
    const CheckResult result = CheckStream(stream, &sink);
    ASSERT_FALSE(result.error) << result.error->message;
    EXPECT_EQ(areas, ReadAreas(stream)) << "run " << run;
  }
}

// Random jobs of pages, copies, white-based labels, size changes and bands
// partly or wholly off the label: two labels with one version are always
// equal dot for dot, and a copy of a page (nothing drawn since) has the page's
// version, so that it can share its picture.
TEST(LabelRender, LabelsOfOneVersionAreEqualAndCopiesOfAPageShareItsVersion) {
  std::mt19937 random(20260712);
  for (int run = 0; run < 40; ++run) {
    StreamBuilder builder;
    builder.Setup(425, 120);
    std::vector<bool> copyOfPage;  // label i copies label i - 1, a page
    bool lastWasPage = false;
    for (int step = 0; step < 12; ++step) {
      const Rgb colour{static_cast<uint8_t>(random() % 3 * 120), static_cast<uint8_t>(random() % 2 * 200), 7};
      const int32_t x = static_cast<int32_t>(random() % 500) - 40;  // now and then off the label
      switch (random() % 5) {
        case 0:
          builder.Raw("^XA^C(L^C(S^XZ");
          copyOfPage.push_back(lastWasPage);
          lastWasPage = true;
          break;
        case 1:
          builder.Raw("^XA^C(L").Band(Solid(30, 20, colour), x, 10).Raw("^C(S^XZ");
          copyOfPage.push_back(false);
          lastWasPage = true;
          break;
        case 2:
          builder.Raw("^XA").Band(Solid(12, 12, colour), x, 50).Raw("^XZ");
          copyOfPage.push_back(false);
          lastWasPage = false;
          break;
        case 3:
          builder.Raw("^XA").Download(testing::PluginPng(Solid(2, 2, colour))).Raw("^XZ");  // a blank label
          copyOfPage.push_back(false);
          lastWasPage = false;
          break;
        default:  // prints nothing; a new size resizes the kept page
          builder.Setup(random() % 2 == 0 ? 425 : 440, 120);
          lastWasPage = false;
          break;
      }
    }
    std::vector<std::pair<uint64_t, RgbImage>> labels;
    const LabelSink sink = [&](const PrintedLabel& label) {
      labels.emplace_back(label.version, label.picture);
      return true;
    };
    const std::string stream = builder.Text();
    ASSERT_FALSE(CheckStream(stream, &sink).error);
    ASSERT_EQ(labels.size(), copyOfPage.size());
    for (size_t i = 0; i < labels.size(); ++i) {
      EXPECT_NE(labels[i].first, 0u);
      if (copyOfPage[i]) EXPECT_EQ(labels[i].first, labels[i - 1].first) << "run " << run << ", label " << i + 1;
      for (size_t j = 0; j < i; ++j) {
        if (labels[i].first != labels[j].first) continue;
        EXPECT_EQ(labels[i].second.width, labels[j].second.width);
        EXPECT_TRUE(labels[i].second.rgb == labels[j].second.rgb)
            << "run " << run << ", labels " << j + 1 << ", " << i + 1;
      }
    }
  }
}

}  // namespace
}  // namespace streamcheck
