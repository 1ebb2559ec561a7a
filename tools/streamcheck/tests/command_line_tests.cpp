#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "command_line.h"
#include "png_codec.h"
#include "stream_builder.h"
#include "stream_checker.h"

namespace streamcheck {
namespace {

namespace fs = std::filesystem;
using testing::Solid;
using testing::StreamBuilder;

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("streamcheck-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  int Run(const std::vector<std::string>& args) {
    out_.str("");
    err_.str("");
    return RunCommandLine(args, out_, err_);
  }

  fs::path dir_;
  std::ostringstream out_;
  std::ostringstream err_;
};

std::string TwoLabelJob() {
  return StreamBuilder()
      .Setup(425, 150)
      .Raw("^XA^C(L")
      .Band(Solid(20, 10, {0, 255, 0}), 1, 2)
      .Raw("^C(S^XZ^XA^C(L^C(S^XZ")
      .Text();
}

TEST_F(CommandLine, ExitStatusTellsSoundDamagedUsageAndFileErrorsApart) {
  const std::string good = Write("good.prn", TwoLabelJob());
  EXPECT_EQ(Run({"check", good}), kExitOk);
  EXPECT_EQ(out_.str(), "ok: 2 labels, " + std::to_string(TwoLabelJob().size()) + " bytes\n");

  const std::string damaged = Write("damaged.prn", TwoLabelJob().substr(0, 200));
  EXPECT_EQ(Run({"check", damaged}), kExitDamaged);
  EXPECT_EQ(err_.str().rfind("offset ", 0), 0u) << err_.str();

  EXPECT_EQ(Run({}), kExitUsage);
  EXPECT_EQ(Run({"check"}), kExitUsage);
  EXPECT_EQ(Run({"render", good}), kExitUsage);
  EXPECT_EQ(Run({"summary", good, "--lits"}), kExitUsage);
  EXPECT_EQ(Run({"verify", good}), kExitUsage);
  EXPECT_NE(err_.str().find("usage:"), std::string::npos);

  EXPECT_EQ(Run({"check", (dir_ / "missing.prn").string()}), kExitFiles);
}

TEST_F(CommandLine, RenderWritesOnePictureForEachPrintedLabel) {
  const std::string job = Write("job.prn", TwoLabelJob());
  const fs::path outDir = dir_ / "out";
  ASSERT_EQ(Run({"render", job, outDir.string()}), kExitOk) << err_.str();
  EXPECT_TRUE(fs::exists(outDir / "label-002.png"));
  EXPECT_FALSE(fs::exists(outDir / "label-003.png"));

  std::ifstream in(outDir / "label-001.png", std::ios::binary);
  const std::string png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  RgbImage picture;
  ASSERT_EQ(DecodePng(reinterpret_cast<const uint8_t*>(png.data()), png.size(), PngLimits{}, picture), "");
  EXPECT_EQ(picture.width, 425);
  EXPECT_EQ(picture.height, 150);
  EXPECT_EQ(picture.Pixel(1, 2)[1], 255);
  EXPECT_EQ(picture.Pixel(1, 2)[0], 0);

  // Labels before the damage are written; the status still reports it.
  const std::string damaged = Write("damaged.prn", TwoLabelJob() + "^XA^C(L");
  EXPECT_EQ(Run({"render", damaged, (dir_ / "partial").string()}), kExitDamaged);
  EXPECT_TRUE(fs::exists(dir_ / "partial" / "label-002.png"));

  // A folder path that is a file cannot take the pictures.
  EXPECT_EQ(Run({"render", job, job}), kExitFiles);
}

TEST_F(CommandLine, SummaryListsCommandsWithOffsetsAndTheSetUpValues) {
  const std::string stream = TwoLabelJob();
  const std::string job = Write("job.prn", stream);
  ASSERT_EQ(Run({"summary", job, "--list"}), kExitOk);
  const std::string text = out_.str();
  EXPECT_NE(text.find("         0  ^XA\n"), std::string::npos);
  char recallLine[64];
  std::snprintf(recallLine, sizeof recallLine, "%10zu  ^FO1,2^IMR:DIFF.PNG^FS\n", stream.find("^FO"));
  EXPECT_NE(text.find(recallLine), std::string::npos) << text;
  EXPECT_NE(text.find("labels printed: 2\n"), std::string::npos);
  EXPECT_NE(text.find("images: 1 in 1 bands"), std::string::npos);
  EXPECT_NE(text.find("bytes per label: " + std::to_string(stream.size() / 2) + "\n"), std::string::npos);
  EXPECT_NE(text.find("media M2, size 425 x 150 dots, cutting on (0 pages per cut), print mode 2, "
                      "direction bidirectional, clock 2026-12-07 21:05:09"),
            std::string::npos)
      << text;

  ASSERT_EQ(Run({"summary", job}), kExitOk);
  EXPECT_EQ(out_.str().find("^XA"), std::string::npos);
}

}  // namespace
}  // namespace streamcheck
