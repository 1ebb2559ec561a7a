#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream_builder.h"
#include "stream_checker.h"
#include "stream_parser.h"

namespace streamcheck {
namespace {

using testing::Solid;
using testing::StreamBuilder;

TEST(StreamParser, SplitsAPluginJobIntoCommandsWithTheirOffsets) {
  const RgbImage band = Solid(40, 30, {255, 0, 0});
  const std::string stream = StreamBuilder().Setup(832, 1200).Raw("^XA^C(L").Band(band, 5, 7).Raw("^C(S^XZ").Text();
  const ParsedStream parsed = ParseStream(stream);
  ASSERT_FALSE(parsed.error) << parsed.error->message;

  std::vector<CommandKind> kinds;
  for (const Command& c : parsed.commands) kinds.push_back(c.kind);
  using K = CommandKind;
  const std::vector<CommandKind> expected{
      K::FormatStart,  K::Comment,     K::FormatEnd,     K::FormatStart, K::MediaType,    K::LabelWidth, K::LabelLength,
      K::PrinterClock, K::CutMode,     K::PagesPerCut,   K::PrintMode,   K::Direction,    K::SetupEnd,   K::FormatEnd,
      K::FormatStart,  K::PageCarryIn, K::ImageDownload, K::ImageRecall, K::PageCarryOut, K::FormatEnd};
  EXPECT_EQ(kinds, expected);

  const Command& clock = parsed.commands[7];
  EXPECT_EQ(clock.offset, stream.find("^ST"));
  EXPECT_EQ((std::vector<int32_t>{clock.clock.month, clock.clock.day, clock.clock.year, clock.clock.hour,
                                  clock.clock.minute, clock.clock.second}),
            (std::vector<int32_t>{12, 7, 2026, 21, 5, 9}));
  EXPECT_EQ(parsed.commands[4].text, "M2");
  EXPECT_EQ(parsed.commands[6].value, 1200);

  const Command& download = parsed.commands[16];
  EXPECT_EQ(download.offset, stream.find("~DYR:"));
  EXPECT_EQ(download.text, "DIFF");
  EXPECT_EQ(stream.compare(download.dataOffset, 4, "\x89PNG"), 0);
  EXPECT_EQ(download.dataOffset + download.dataSize, stream.find("^FO"));
  const Command& recall = parsed.commands[17];
  EXPECT_EQ(recall.x, 5);
  EXPECT_EQ(recall.y, 7);
  EXPECT_EQ(recall.offset + recall.length, stream.find("^C(S"));
}

TEST(StreamParser, ReportsWhereAndWhyADamagedStreamBreaks) {
  struct Case {
    std::string stream;
    size_t offset;
    const char* message;
  };
  const std::vector<Case> cases{
      {"^XA^QQ^XZ", 3, "unknown command \"^QQ^XZ\""},
      {std::string("^XA\0\xff^XZ", 8), 3, "unexpected bytes \"\\x00\\xFF^XZ\""},
      {"^XA^XZ\r\n", 6, "unexpected bytes"},
      {"^XA~DYR:DIFF,B,P,100,0,abc", 3, "announces 100 bytes but only 3 follow"},
      {"^XA~DYR:DIFF,B,P,99999999999999999999999,0,", 17, "byte count"},
      {"^XA~DYR:DIFF,B,X,", 12, "expected \",B,P,\""},
      {"^XA^S(CLS,P,0832", 12, "not written as plain decimal"},
      {"^XA^S(CLS,P,2147483648", 12, "out of range"},
      {"^XA^S(CLM,T,Z9^XZ", 12, "unknown media code \"Z9\""},
      {"^XA^S(CX0,L,X", 12, "cut mode \"X\""},
      {"^XA^ST13,7,2026,21,5,9,M", 6, "clock month 13 is out of range"},
      {"^XA^ST1,7,26,21,5,9,M", 10, "fewer than four digits"},
      {"^XA^FXno end", 6, "no ^FS"},
      {"^XA^FO1,2^IMR:DIFF.BMP^FS", 18, "expected \".PNG\""},
      {"^XA^X", 3, "stream ends inside a command"},
      {"^XA~DYR:DIFF,B,P,", 17, "stream ends before the byte count"},
      {"^XA~DYR:DIFF,B,P,1", 17, "stream ends inside the byte count"},
      {"^XA~DYR:DIFF,B,P,1,0", 18, "stream ends inside the download header"},
  };
  for (const Case& c : cases) {
    const ParsedStream parsed = ParseStream(c.stream);
    ASSERT_TRUE(parsed.error) << c.stream;
    EXPECT_EQ(parsed.error->offset, c.offset) << c.stream;
    EXPECT_NE(parsed.error->message.find(c.message), std::string::npos) << c.stream << " -> " << parsed.error->message;
  }

  // Negative positions are part of the language.
  const ParsedStream negative = ParseStream("^FO-5,10^IMR:DIFF.PNG^FS");
  ASSERT_FALSE(negative.error);
  EXPECT_EQ(negative.commands[0].x, -5);
}

TEST(StreamParser, EveryCutOfAJobIsDamagedUnlessItEndsAfterAFormat) {
  const std::string stream =
      StreamBuilder().Setup(425, 113).Raw("^XA^C(L").Band(Solid(3, 2, {0, 0, 0}), 1, 1).Raw("^C(S^XZ").Text();
  ASSERT_FALSE(CheckStream(stream).error);
  for (size_t length = 1; length < stream.size(); ++length) {
    const std::string_view cut(stream.data(), length);
    const CheckResult result = CheckStream(cut);
    if (result.error) {
      EXPECT_LE(result.error->offset, length);
    } else {
      EXPECT_EQ(cut.substr(cut.size() - 3), "^XZ") << "length " << length;
    }
  }
}

}  // namespace
}  // namespace streamcheck
