#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "stream_builder.h"
#include "stream_checker.h"

namespace streamcheck {
namespace {

using testing::PluginPng;
using testing::Solid;
using testing::StreamBuilder;
using testing::WithAnnouncedSize;

struct Outcome {
  std::vector<size_t> offsets;
  std::vector<std::vector<uint8_t>> pictures;
  std::optional<StreamError> error;
  size_t commands = 0;
  size_t labels = 0;
};

LabelSink Collect(Outcome& outcome) {
  return [&outcome](const PrintedLabel& label) {
    outcome.offsets.push_back(label.offset);
    outcome.pictures.push_back(label.picture.rgb);
    return true;
  };
}

Outcome Whole(const std::string& stream) {
  Outcome outcome;
  const LabelSink sink = Collect(outcome);
  const CheckResult result = CheckStream(stream, &sink);
  outcome.error = result.error;
  outcome.commands = result.stats.commands;
  outcome.labels = result.stats.labels;
  return outcome;
}

// Feeds `stream` in the pieces that `cuts` (ascending offsets) make.
Outcome InPieces(const std::string& stream, const std::vector<size_t>& cuts, PrinterMemory& memory) {
  Outcome outcome;
  const LabelSink sink = Collect(outcome);
  StreamFeed feed(memory, &sink);
  size_t from = 0;
  for (size_t cut : cuts) {
    feed.Feed(std::string_view(stream).substr(from, cut - from));
    from = cut;
  }
  feed.Feed(std::string_view(stream).substr(from));
  const CheckResult result = feed.Finish();
  EXPECT_EQ(feed.Bytes(), stream);
  outcome.error = result.error;
  outcome.commands = result.stats.commands;
  outcome.labels = result.stats.labels;
  return outcome;
}

void ExpectSame(const Outcome& fed, const Outcome& whole, const std::string& where) {
  EXPECT_EQ(fed.offsets, whole.offsets) << where;
  EXPECT_TRUE(fed.pictures == whole.pictures) << where;
  EXPECT_EQ(fed.labels, whole.labels) << where;
  EXPECT_EQ(fed.commands, whole.commands) << where;
  ASSERT_EQ(fed.error.has_value(), whole.error.has_value()) << where;
  if (whole.error) {
    EXPECT_EQ(fed.error->offset, whole.error->offset) << where;
    EXPECT_EQ(fed.error->message, whole.error->message) << where;
  }
}

// Small labels so that every split point can be tried.
std::vector<std::string> Streams() {
  const std::string pages = StreamBuilder()
                                .Setup(425, 120)
                                .Raw("^XA^C(L")
                                .Band(Solid(425, 120, {200, 10, 10}), 0, 0)
                                .Download(PluginPng(Solid(6, 6, {0, 0, 255})), "LOGO")
                                .Raw("^C(S^XZ^XA^C(L")
                                .Band(Solid(30, 20, {0, 255, 0}), 100, 50)
                                .Recall(10, 10, "LOGO")
                                .Raw("^C(S^XZ^XA^C(L^C(S^XZ^XA")
                                .Band(Solid(5, 5, {9, 9, 9}), 1, 1)
                                .Raw("^XZ")
                                .Text();
  const std::string lying = StreamBuilder()
                                .Setup(425, 120)
                                .Raw("^XA")
                                .Band(Solid(4, 4, {1, 2, 3}), 0, 0)
                                .Raw("^XZ^XA")
                                .Download(WithAnnouncedSize(PluginPng(Solid(4, 4, {1, 2, 3})), 9, 4))
                                .Raw("^XZ")
                                .Text();
  return {pages, pages.substr(0, pages.size() * 2 / 3), lying};
}

TEST(StreamFeed, EverySplitOfAStreamGivesTheLabelsAndVerdictOfTheWhole) {
  for (const std::string& stream : Streams()) {
    const Outcome whole = Whole(stream);
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
      PrinterMemory memory;
      ExpectSame(InPieces(stream, {cut}, memory), whole, "cut at " + std::to_string(cut));
      if (::testing::Test::HasFailure()) return;
    }
    // Byte by byte, and in random pieces.
    std::vector<size_t> everyByte;
    for (size_t i = 1; i < stream.size(); ++i) everyByte.push_back(i);
    PrinterMemory memory;
    ExpectSame(InPieces(stream, everyByte, memory), whole, "byte by byte");
    std::mt19937 random(7);
    for (int round = 0; round < 5; ++round) {
      std::vector<size_t> cuts;
      for (size_t at = 0;;) {
        at += 1 + random() % 300;
        if (at >= stream.size()) break;
        cuts.push_back(at);
      }
      PrinterMemory fresh;
      ExpectSame(InPieces(stream, cuts, fresh), whole, "random pieces, round " + std::to_string(round));
    }
  }
}

TEST(StreamFeed, TheFuzzCorpusFedInSmallPiecesGivesTheVerdictOfTheWhole) {
  size_t replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(STREAMCHECK_CORPUS_DIR)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<size_t> cuts;
    for (size_t at = 1 + bytes.size() % 5; at < bytes.size(); at += 1 + at % 7) cuts.push_back(at);
    PrinterMemory memory;
    ExpectSame(InPieces(bytes, cuts, memory), Whole(bytes), entry.path().string());
    ++replayed;
  }
  EXPECT_GT(replayed, 0u);
}

TEST(StreamFeed, TheNextJobPrintsOnWhatTheLastOneLeftInMemory) {
  const RgbImage base = Solid(425, 120, {200, 10, 10});
  const std::string first = StreamBuilder()
                                .Setup(425, 120)
                                .Raw("^XA^C(L")
                                .Band(base, 0, 0)
                                .Download(PluginPng(Solid(6, 6, {0, 0, 255})), "LOGO")
                                .Raw("^C(S^XZ")
                                .Text();
  // As the plug-in's second job: its own set-up, then only what changed.
  const std::string second = StreamBuilder()
                                 .Setup(425, 120)
                                 .Raw("^XA^C(L")
                                 .Band(Solid(30, 20, {0, 255, 0}), 100, 50)
                                 .Recall(10, 10, "LOGO")
                                 .Raw("^C(S^XZ")
                                 .Text();
  PrinterMemory memory;
  const Outcome one = InPieces(first, {first.size() / 2}, memory);
  ASSERT_FALSE(one.error) << one.error->message;
  const Outcome two = InPieces(second, {7, second.size() - 3}, memory);
  ASSERT_FALSE(two.error) << two.error->message;

  // The same labels as one stream holding both jobs.
  const Outcome both = Whole(first + second);
  ASSERT_EQ(both.pictures.size(), 2u);
  ASSERT_EQ(two.pictures.size(), 1u);
  EXPECT_TRUE(two.pictures[0] == both.pictures[1]);

  // After a power cycle the name is unknown and the page starts white.
  PrinterMemory fresh;
  const Outcome cold = InPieces(second, {}, fresh);
  ASSERT_TRUE(cold.error);
  EXPECT_NE(cold.error->message.find("no earlier download"), std::string::npos) << cold.error->message;
  const std::string withoutLogo = second.substr(0, second.find("^FO10,10")) + "^C(S^XZ";
  PrinterMemory fresh2;
  const Outcome white = InPieces(withoutLogo, {}, fresh2);
  ASSERT_EQ(white.pictures.size(), 1u);
  EXPECT_TRUE(white.pictures == Whole(withoutLogo).pictures);
  EXPECT_EQ(white.pictures[0][0], 255);  // top left: white, not the base's red
  EXPECT_EQ(two.pictures[0][0], 200);

  // A job cut inside a page format prints nothing, but the images it completed
  // stay, and so does what it drew in the label memory, as on the printer.
  PrinterMemory cut;
  const std::string truncated = first.substr(0, first.find("^C(S"));
  const Outcome broken = InPieces(truncated, {}, cut);
  ASSERT_TRUE(broken.error);
  EXPECT_TRUE(broken.pictures.empty());
  const Outcome after = InPieces(second, {}, cut);
  ASSERT_FALSE(after.error) << after.error->message;
  EXPECT_EQ(after.pictures[0][0], 200);
}

}  // namespace
}  // namespace streamcheck

namespace streamcheck {
namespace {

TEST(StreamFeed, APrinterWhoseMemoryIsFullRefusesNewNamesButTakesReplacements) {
  const std::vector<uint8_t> png = testing::PluginPng(testing::Solid(6, 6, {0, 0, 255}));
  auto job = [&](const char* name) {
    return testing::StreamBuilder().Setup(425, 120).Raw("^XA").Download(png, name).Recall(0, 0, name).Raw("^XZ").Text();
  };
  PrinterMemory memory;
  // Two images of three-letter names: their PNG files, names and fixed costs.
  const size_t two = 2 * (png.size() + 3 + kStoredImageOverhead);
  memory.imageByteLimit = two;
  EXPECT_FALSE(InPieces(job("ONE"), {}, memory).error);
  EXPECT_FALSE(InPieces(job("TWO"), {}, memory).error);
  EXPECT_FALSE(InPieces(job("ONE"), {}, memory).error);  // replaces its own bytes
  const std::string third = job("THREE");
  const Outcome full = InPieces(third, {}, memory);
  ASSERT_TRUE(full.error);
  EXPECT_EQ(full.error->offset, third.find("~DYR:"));
  EXPECT_NE(full.error->message.find("printer memory full"), std::string::npos) << full.error->message;
  EXPECT_EQ(memory.imageBytes, two);
}

}  // namespace
}  // namespace streamcheck

namespace streamcheck {
namespace {

TEST(StreamFeed, HandsALabelOverAsSoonAsItsFormatIsClosed) {
  const std::string stream =
      testing::StreamBuilder().Setup(425, 120).Raw("^XA").Band(testing::Solid(4, 4, {1, 2, 3}), 0, 0).Raw("^XZ").Text();
  size_t printed = 0;
  const LabelSink sink = [&](const PrintedLabel&) {
    ++printed;
    return true;
  };
  PrinterMemory memory;
  StreamFeed feed(memory, &sink);
  feed.Feed(std::string_view(stream).substr(0, stream.size() - 1));
  EXPECT_EQ(printed, 0u);
  feed.Feed(std::string_view(stream).substr(stream.size() - 1));
  EXPECT_EQ(printed, 1u);  // the client may keep the connection open: the label is out already
  // A number at the very end may still grow: "^S(CLS,P,4" could become 425.
  PrinterMemory other;
  StreamFeed setup(other, &sink);
  const std::string head = testing::StreamBuilder().Setup(425, 120).Text();
  setup.Feed(head.substr(0, head.find("^S(CLS,P,") + 10));
  setup.Feed(head.substr(head.find("^S(CLS,P,") + 10));
  EXPECT_FALSE(setup.Finish().error);
}

}  // namespace
}  // namespace streamcheck
