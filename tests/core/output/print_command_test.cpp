#include "output/print_command.h"

#include <gtest/gtest.h>

#include "support/native/fakes.h"

namespace {

std::string Text(const CPrintCommand& command) { return std::string(command.Buffer().begin(), command.Buffer().end()); }

TEST(PrintCommand, JobSetupIsByteExact) {
  FixedClock clock;
  clock.time = {2026, 12, 7, 21, 5, 9, 0};
  CPrintCommand command(clock);
  ASSERT_EQ(command.AppendJobSetup({832, 1200}, "M2", 'E', 0, 2, 'B'), 0);
  EXPECT_EQ(Text(command),
            "^XA^FXLTCommand^FS^XZ"
            "^XA^S(CLM,T,M2^S(CLS,P,832^S(CLS,L,1200^ST12,7,2026,21,5,9,M^S(CX0,L,E^S(CX0,C,0^S(CX0,Q,2"
            "^S(CMP,D,B^C(D^XZ");
}

TEST(PrintCommand, ClockPadsOnlyTheYearAndNegativeValuesKeepTheirSign) {
  FixedClock clock;
  clock.time = {2027, 1, 3, 9, 5, 0, 0};
  CPrintCommand command(clock);
  ASSERT_EQ(command.AppendJobSetup({-5, 0}, "P1", 'D', 4294967295u, -1, 'U'), 0);
  const std::string text = Text(command);
  EXPECT_NE(text.find("^ST1,3,2027,9,5,0,M"), std::string::npos) << text;
  EXPECT_NE(text.find("^S(CLS,P,-5^S(CLS,L,0^"), std::string::npos) << text;
  EXPECT_NE(text.find("^S(CX0,C,4294967295^S(CX0,Q,-1^S(CMP,D,U^C(D^XZ"), std::string::npos) << text;

  char year[32];
  EXPECT_TRUE(FormatPrinterClock({987, 1, 1, 0, 0, 0, 0}, year));
  EXPECT_STREQ(year, "^ST1,1,0987,0,0,0,M");
}

TEST(PrintCommand, DownloadCarriesItsExactByteCountAndRecallFollowsDirectly) {
  FixedClock clock;
  CPrintCommand command(clock);
  ByteImage png = {0x89, 'P', 'N', 'G', 0, 0xFF, ',', '^'};
  command.AppendImageDownload("DIFF", png);
  command.AppendImageRecall("DIFF", {-5, 10});
  const std::string expected =
      std::string("~DYR:DIFF,B,P,8,0,") + std::string(png.begin(), png.end()) + "^FO-5,10^IMR:DIFF.PNG^FS";
  EXPECT_EQ(Text(command), expected);

  CPrintCommand empty(clock);
  empty.AppendImageDownload("DIFF", {});
  EXPECT_EQ(Text(empty), "~DYR:DIFF,B,P,0,0,");
}

TEST(PrintCommandFraming, PagesCarryTheKeptPageOverAndCopiesAreEmptyPageFormats) {
  FixedClock clock;
  CPrintCommand command(clock);
  command.BeginPage();
  command.EndPage(2);
  command.BeginLabel();
  command.EndLabel();
  command.BeginPage();
  command.EndPage(0);
  EXPECT_EQ(Text(command), "^XA^C(L^C(S^XZ^XA^C(L^C(S^XZ^XA^C(L^C(S^XZ^XA^XZ^XA^C(L^C(S^XZ");
  EXPECT_EQ(static_cast<int64_t>(std::string_view("^XA^C(L^C(S^XZ").size()), kCopyFormatBytes);
}

TEST(PrintCommandSend, EmptyBufferMakesNoCall) {
  FixedClock clock;
  CPrintCommand command(clock);
  MemoryPrinter printer;
  EXPECT_EQ(command.SendToPrinter(printer), 0);
  EXPECT_TRUE(printer.sends.empty());
}

TEST(PrintCommandSend, PartialWritesDeliverEveryByteInOrder) {
  FixedClock clock;
  CPrintCommand command(clock);
  std::string payload;
  for (int i = 0; i < 1000; ++i) payload.push_back(static_cast<char>('a' + i % 26));
  command.AppendRaw(payload);
  MemoryPrinter printer;
  printer.writeBehaviour = [](uint32_t offered, uint32_t& accepted) {
    accepted = std::min<uint32_t>(offered, 333);
    return true;
  };
  EXPECT_EQ(command.SendToPrinter(printer), 0);
  EXPECT_EQ(printer.OutputText(), payload);
  EXPECT_EQ(printer.sends, (std::vector<size_t>{1000, 667, 334, 1}));
  EXPECT_TRUE(command.Buffer().empty());
  EXPECT_GE(command.Buffer().capacity(), 1000u);
}

TEST(PrintCommandSend, ZeroBytesWrittenOrAFailedCallEndsWith304AndEmptiesTheBuffer) {
  FixedClock clock;
  MemoryPrinter stalls;
  stalls.writeBehaviour = [calls = 0](uint32_t offered, uint32_t& accepted) mutable {
    accepted = ++calls == 1 ? offered / 2 : 0;
    return true;
  };
  CPrintCommand command(clock);
  command.AppendRaw("^XA^XZ^XA^XZ");
  EXPECT_EQ(command.SendToPrinter(stalls), 304);
  EXPECT_EQ(stalls.OutputText(), "^XA^XZ");
  EXPECT_TRUE(command.Buffer().empty());

  MemoryPrinter refuses;
  refuses.writeBehaviour = [](uint32_t, uint32_t&) { return false; };
  command.AppendRaw("^XA^XZ");
  EXPECT_EQ(command.SendToPrinter(refuses), 304);
  EXPECT_TRUE(command.Buffer().empty());
  // The buffer starts again for the next job.
  command.AppendRaw("^XA");
  MemoryPrinter good;
  EXPECT_EQ(command.SendToPrinter(good), 0);
  EXPECT_EQ(good.OutputText(), "^XA");
}

}  // namespace
