// "streamcheck diff" on pairs of jobs our host program printed from the job
// files in data/diff (see scripts/diff-test-streams.sh), and the label compare
// against a naive model on random pictures.
#include <gtest/gtest.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "command_line.h"
#include "label_compare.h"
#include "png_codec.h"
#include "stream_checker.h"

namespace streamcheck {
namespace {

namespace fs = std::filesystem;
const fs::path kData = fs::path(STREAMCHECK_TEST_DATA) / "diff";

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<RgbImage> Labels(const std::string& stream) {
  std::vector<RgbImage> labels;
  const LabelSink sink = [&](const PrintedLabel& label) {
    labels.push_back(label.picture);
    return true;
  };
  CheckStream(stream, &sink);
  return labels;
}

bool PixelDiffers(const RgbImage& a, const RgbImage& b, int32_t x, int32_t y, int tolerance) {
  const auto channel = [](const RgbImage& image, int32_t px, int32_t py, int c) {
    return px < image.width && py < image.height ? image.Pixel(px, py)[c] : 255;
  };
  for (int c = 0; c < 3; ++c) {
    if (std::abs(channel(a, x, y, c) - channel(b, x, y, c)) > tolerance) return true;
  }
  return false;
}

// The model: every differing pixel lies in one of `areas`; each area's box is
// the bounding box of the differing pixels in it.
struct ModelResult {
  uint64_t pixels = 0;
  uint64_t outside = 0;  // differing pixels in none of the areas
  std::vector<PixelBox> boxes;
};

ModelResult Model(const RgbImage& a, const RgbImage& b, int tolerance, const std::vector<PixelBox>& areas) {
  ModelResult m;
  std::vector<PixelBox> found(areas.size(), PixelBox{0, 0, -1, -1});
  for (int32_t y = 0; y < std::max(a.height, b.height); ++y) {
    for (int32_t x = 0; x < std::max(a.width, b.width); ++x) {
      if (!PixelDiffers(a, b, x, y, tolerance)) continue;
      ++m.pixels;
      size_t i = 0;
      while (i < areas.size() && !(x >= areas[i].x && x < areas[i].x + areas[i].width && y >= areas[i].y &&
                                   y < areas[i].y + areas[i].height)) {
        ++i;
      }
      if (i == areas.size()) {
        ++m.outside;
        continue;
      }
      PixelBox& f = found[i];
      if (f.width < 0) f = PixelBox{x, y, 1, 1};
      const int32_t x1 = std::max(f.x + f.width, x + 1), y1 = std::max(f.y + f.height, y + 1);
      f.x = std::min(f.x, x);
      f.y = std::min(f.y, y);
      f.width = x1 - f.x;
      f.height = y1 - f.y;
    }
  }
  for (const PixelBox& f : found) {
    if (f.width > 0) m.boxes.push_back(f);
  }
  return m;
}

std::vector<PixelBox> Sorted(std::vector<PixelBox> boxes) {
  std::sort(boxes.begin(), boxes.end(),
            [](const PixelBox& l, const PixelBox& r) { return l.x < r.x || (l.x == r.x && l.y < r.y); });
  return boxes;
}

// Random pictures with a few changed patches, kept far enough apart to be areas of their own,
// some of them below the tolerance, and now and then of another size.
TEST(LabelCompare, CountsMarksAndBoxesTheDifferencesAsAModelDoes) {
  constexpr int32_t kApart = kBoxGap * 3 / 2;
  std::mt19937 random(28);
  for (int round = 0; round < 60; ++round) {
    const int32_t width = 80 + static_cast<int32_t>(random() % 300), height = 60 + static_cast<int32_t>(random() % 200);
    RgbImage a = RgbImage::White(width, height);
    for (uint8_t& v : a.rgb) v = static_cast<uint8_t>(random() % 4 ? 255 : random() % 256);
    RgbImage b = a;
    if (round % 5 == 0) b = Resized(a, width + static_cast<int32_t>(random() % 40), height);
    const int tolerance = round % 3 == 0 ? static_cast<int>(random() % 40) : 0;
    std::vector<PixelBox> areas;
    for (int32_t x = 0; x + 24 + kApart < width; x += 24 + kApart + static_cast<int32_t>(random() % 40)) {
      const int32_t y = static_cast<int32_t>(random() % static_cast<uint32_t>(height - 20));
      areas.push_back({x, y, 1 + static_cast<int32_t>(random() % 24), 1 + static_cast<int32_t>(random() % 20)});
      for (int32_t py = y; py < y + areas.back().height; ++py) {
        for (int32_t px = x; px < x + areas.back().width; ++px) {
          if (random() % 3 == 0)
            b.rgb[static_cast<size_t>(py) * b.RowBytes() + static_cast<size_t>(px) * 3 + random() % 3] ^=
                static_cast<uint8_t>(random() % 256);
        }
      }
    }
    if (b.width > a.width) areas.push_back({a.width, 0, b.width - a.width, height});
    const ModelResult model = Model(a, b, tolerance, areas);
    RgbImage marked;
    const LabelComparison found = CompareLabels(a, b, tolerance, &marked);
    ASSERT_EQ(model.outside, 0u);
    EXPECT_EQ(found.pixels, model.pixels) << "round " << round;
    EXPECT_EQ(found.boxes.size() + found.moreBoxes, model.boxes.size()) << "round " << round;
    if (model.boxes.size() <= kMostBoxes) EXPECT_EQ(Sorted(found.boxes), Sorted(model.boxes)) << "round " << round;
    // Marked: B where nothing differs, red-tinted where a pixel differs.
    ASSERT_EQ(marked.width, std::max(a.width, b.width));
    for (int32_t y = 0; y < b.height; ++y) {
      for (int32_t x = 0; x < b.width; ++x) {
        const uint8_t* m = marked.Pixel(x, y);
        const uint8_t* o = b.Pixel(x, y);
        const bool differs = PixelDiffers(a, b, x, y, tolerance);
        const bool outline = std::any_of(found.boxes.begin(), found.boxes.end(), [&](const PixelBox& k) {
          return x >= k.x - 2 && x < k.x + k.width + 2 && y >= k.y - 2 && y < k.y + k.height + 2 &&
                 !(x >= k.x && x < k.x + k.width && y >= k.y && y < k.y + k.height);
        });
        if (outline) continue;
        if (differs) {
          ASSERT_GE(m[0], m[1]) << x << "," << y;
        } else {
          ASSERT_TRUE(std::equal(m, m + 3, o)) << "round " << round << " at " << x << "," << y;
        }
      }
    }
  }
}

class JobDiffTable : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("streamcheck-diff-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  int Run(const std::vector<std::string>& args) {
    out_.str("");
    err_.str("");
    return RunCommandLine(args, out_, err_);
  }

  fs::path dir_;
  std::ostringstream out_, err_;
};

std::string Data(const std::string& name) { return (kData / name).string(); }

TEST_F(JobDiffTable, TellsWhatChangedBetweenJobsOurHostPrinted) {
  const std::string base = Data("base.prn");
  // The same job file printed a second time: only the printer clock differs.
  const std::string again = Data("base-again.prn");
  std::string cut = ReadAll(base);
  cut.resize(cut.size() * 3 / 4);
  const std::string damaged = (dir_ / "damaged.prn").string();
  std::ofstream(damaged, std::ios::binary) << cut;
  const size_t baseLabels = Labels(ReadAll(base)).size();
  ASSERT_GE(baseLabels, 3u);
  ASSERT_NE(ReadAll(base), ReadAll(again));

  using Check = std::function<void(const nlohmann::json&, const fs::path&)>;
  const auto verdicts = [](const nlohmann::json& json) {
    std::string all;
    for (const auto& label : json["labels"]) all += label["verdict"].get<std::string>() + ";";
    return all;
  };
  const std::string allSame = [&] {
    std::string all;
    for (size_t i = 0; i < baseLabels; ++i) all += "same;";
    return all;
  }();
  // The serial number's field (text SERIAL 300 56) at its place in base.job and in moved.job.
  const std::vector<PixelBox> fields{{60, 200, 300, 56}, {420, 200, 300, 56}};
  struct Row {
    std::string b;
    int status;
    std::string summary;  // the start of the summary line
    Check check;
  } const table[] = {
      {again, kExitOk, "same: " + std::to_string(baseLabels) + " labels print the same",
       [&](const nlohmann::json& json, const fs::path& out) {
         EXPECT_EQ(verdicts(json), allSame);
         EXPECT_TRUE(json["setup"].empty()) << json["setup"];  // the clock is no setting
         EXPECT_FALSE(json["identicalBytes"].get<bool>());
         EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);  // diff.json only
       }},
      {Data("moved.prn"), kExitDamaged, "differ: " + std::to_string(baseLabels) + " labels in A",
       [&](const nlohmann::json& json, const fs::path& out) {
         const auto a = Labels(ReadAll(base)), b = Labels(ReadAll(Data("moved.prn")));
         ASSERT_EQ(json["labels"].size(), a.size());
         for (size_t i = 0; i < a.size(); ++i) {
           const nlohmann::json& label = json["labels"][i];
           const ModelResult model = Model(a[i], b[i], 0, fields);
           EXPECT_EQ(model.outside, 0u) << "label " << i + 1;
           EXPECT_EQ(label["verdict"], "differ");
           EXPECT_EQ(label["pixels"], model.pixels);
           std::vector<PixelBox> boxes;
           for (const auto& box : label["boxes"]) boxes.push_back({box["x"], box["y"], box["width"], box["height"]});
           EXPECT_EQ(Sorted(boxes), Sorted(model.boxes)) << label;
           ASSERT_EQ(boxes.size(), 2u);
           const double mm = label["boxes"][0]["mm"]["width"].get<double>();
           EXPECT_NEAR(mm, boxes[0].width * 25.4 / 360, 0.006);
           // The picture: B's label, the differing pixels tinted red.
           RgbImage marked;
           const std::string png = ReadAll(out / label["picture"].get<std::string>());
           ASSERT_EQ(DecodePng(reinterpret_cast<const uint8_t*>(png.data()), png.size(), PngLimits{}, marked), "");
           const PixelBox& box = boxes[0];
           int32_t tinted = 0;
           for (int32_t y = box.y; y < box.y + box.height; ++y) {
             for (int32_t x = box.x; x < box.x + box.width; ++x) {
               const bool differs = PixelDiffers(a[i], b[i], x, y, 0);
               tinted += differs && !std::equal(marked.Pixel(x, y), marked.Pixel(x, y) + 3, b[i].Pixel(x, y));
               if (!differs) ASSERT_TRUE(std::equal(marked.Pixel(x, y), marked.Pixel(x, y) + 3, b[i].Pixel(x, y)));
             }
           }
           EXPECT_GT(tinted, 0);
         }
         // The second page's copy is the same page state: proven, not compared again.
         EXPECT_EQ(json["labels"][2]["provenBy"], 2);
       }},
      {Data("media.prn"), kExitDamaged, "differ: " + std::to_string(baseLabels) + " labels in A",
       [&](const nlohmann::json& json, const fs::path&) {
         ASSERT_EQ(json["setup"].size(), 1u) << json["setup"];
         EXPECT_EQ(json["setup"][0]["setting"], "media");
         EXPECT_NE(json["setup"][0]["a"], json["setup"][0]["b"]);
         EXPECT_EQ(verdicts(json), allSame);
       }},
      {Data("extra.prn"), kExitDamaged,
       "differ: " + std::to_string(baseLabels) + " labels in A, " + std::to_string(baseLabels + 1) + " in B",
       [&](const nlohmann::json& json, const fs::path&) {
         EXPECT_EQ(verdicts(json), allSame + "only in B;");
         EXPECT_EQ(json["counts"]["onlyInB"], 1);
       }},
      {Data("base.job"), kExitFiles, "", nullptr},
      {base, kExitOk, "same: ",
       [&](const nlohmann::json& json, const fs::path&) {
         EXPECT_TRUE(json["identicalBytes"].get<bool>());  // drawn once
         EXPECT_EQ(verdicts(json), allSame);
       }},
      {damaged, kExitDamaged, "differ: ",
       [&](const nlohmann::json& json, const fs::path&) {
         EXPECT_TRUE(json["a"]["damage"].is_null());
         ASSERT_TRUE(json["b"]["damage"].is_object());
         const std::string line = "B is damaged: offset " +
                                  std::to_string(json["b"]["damage"]["offset"].get<size_t>()) + ": " +
                                  json["b"]["damage"]["message"].get<std::string>();
         EXPECT_NE(out_.str().find(line), std::string::npos) << out_.str();
         EXPECT_NE(json["summary"].get<std::string>().find("B damaged at offset"), std::string::npos);
         // What B printed before the damage prints the same; the rest is only in A.
         const size_t printed = json["b"]["labels"];
         std::string expected;
         for (size_t i = 0; i < baseLabels; ++i) expected += i < printed ? "same;" : "only in A;";
         EXPECT_EQ(verdicts(json), expected);
       }},
  };
  for (const Row& row : table) {
    const fs::path out = dir_ / fs::path(row.b).stem();
    EXPECT_EQ(Run({"diff", base, row.b, "--out", out.string()}), row.status) << row.b << "\n"
                                                                             << out_.str() << err_.str();
    if (row.status == kExitFiles) {
      EXPECT_NE(err_.str().find("base.job holds no printer job: no printer command at its start: offset 0"),
                std::string::npos)
          << err_.str();
      continue;
    }
    const std::string text = out_.str();
    const std::string last = text.substr(text.rfind('\n', text.size() - 2) + 1);
    EXPECT_EQ(last.rfind(row.summary, 0), 0u) << row.b << ": " << text;
    const nlohmann::json json = nlohmann::json::parse(ReadAll(out / "diff.json"));
    EXPECT_EQ(json["summary"].get<std::string>() + "\n", last);
    EXPECT_EQ(json["verdict"], row.status == kExitOk ? "same" : "differ");
    if (row.check) row.check(json, out);
  }
}

}  // namespace
}  // namespace streamcheck
