#include <gtest/gtest.h>

#include <string>

#include "engine/print_control.h"
#include "support/native/engine_access.h"
#include "support/native/fakes.h"

namespace {

class JobHeader : public testing::Test {
 protected:
  MemoryPrinter printer;
  FixedClock clock;
  BlockTextRenderer text;
  RecordingLog log;

  std::unique_ptr<CPrintControl> Engine(int32_t resolution = 360) {
    return std::make_unique<CPrintControl>(resolution, printer, JobServices{clock, text, log});
  }
  // What the engine built and had not written yet, as the printer then receives it.
  std::string Buffer(CPrintControl& engine) {
    const size_t printed = printer.output.size();
    Written(engine, printer);
    return printer.OutputText().substr(printed);
  }
  ResultCode Header(CPrintControl& engine, int32_t width, int32_t length) {
    const int32_t header[2] = {width, length};
    return engine.WritePrintJobHeader(header);
  }
  // The set-up label's size in the printer's output (the error print-out), or "" when none was printed.
  std::string PrintedSize() const {
    const std::string out = printer.OutputText();
    const size_t p = out.find("^S(CLS,P,");
    if (p == std::string::npos) return "";
    const size_t end = out.find("^ST", p);
    return out.substr(p, end - p);
  }
};

TEST_F(JobHeader, FittingJobsAppendTheSetupAndReadOnlyTheJobSettings) {
  auto engine = Engine();
  ASSERT_EQ(Header(*engine, 1587, 14400), 0);
  EXPECT_TRUE(log.entries.empty());
  EXPECT_TRUE(printer.output.empty());
  EXPECT_NE(Buffer(*engine).find("^S(CLM,T,M2^S(CLS,P,1587^S(CLS,L,14400^ST12,7,2026,21,5,9,M"
                                 "^S(CX0,L,E^S(CX0,C,1^S(CX0,Q,1^S(CMP,D,B^C(D^XZ"),
            std::string::npos);
  EXPECT_EQ(printer.reads, (std::vector<std::u16string>{u"AutoCut", u"CutTiming", u"CutInterval", u"MediaType",
                                                        u"PrintQuality", u"Bi-d", u"BandR"}));

  printer.Set(u"AutoCut", 0);
  auto smallest = Engine();
  EXPECT_EQ(Header(*smallest, 425, 113), 0);
}

TEST_F(JobHeader, SizesBeyondTheLimitsAreRefusedWithTheirErrorPage) {
  struct Case {
    int32_t width, length;
    const char* errorPage;
  } cases[] = {{1588, 1000, "^S(CLS,P,1587^S(CLS,L,212"},
               {424, 1000, "^S(CLS,P,425^S(CLS,L,212"},
               {1000, 112, "^S(CLS,P,1000^S(CLS,L,212"},
               {1000, 14401, "^S(CLS,P,1000^S(CLS,L,212"}};
  for (const Case& c : cases) {
    printer.output.clear();
    log.entries.clear();
    auto engine = Engine();
    EXPECT_EQ(Header(*engine, c.width, c.length), 102);
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].message, u"ERROR: Invalid Paper Size");
    EXPECT_EQ(log.entries[0].source, u"lpxWritePrintJobHeader");
    EXPECT_EQ(PrintedSize(), c.errorPage) << c.width << "x" << c.length;
    EXPECT_EQ(Buffer(*engine), "");
  }
}

TEST_F(JobHeader, OtherResolutionsMeasureTheErrorPageAt360Dpi) {
  auto at300 = Engine(300);
  EXPECT_EQ(Header(*at300, 1000, 1000), 102);
  EXPECT_EQ(log.entries.back().message, u"ERROR: Invalid Resolution");
  EXPECT_EQ(PrintedSize(), "^S(CLS,P,1200^S(CLS,L,212");

  printer.output.clear();
  auto at600 = Engine(600);
  EXPECT_EQ(Header(*at600, 600, 1000), 102);
  EXPECT_EQ(PrintedSize(), "^S(CLS,P,425^S(CLS,L,212");

  // A resolution of 0 has no measure: the narrowest error page, and no division.
  printer.output.clear();
  auto atZero = Engine(0);
  EXPECT_EQ(Header(*atZero, 1000, 1000), 102);
  EXPECT_EQ(PrintedSize(), "^S(CLS,P,425^S(CLS,L,212");
  auto negative = Engine(-360);
  EXPECT_EQ(Header(*negative, 1000, 1000), 102);
}

TEST_F(JobHeader, TooShortToCutOnlyWithAutomaticCutting) {
  auto engine = Engine();
  EXPECT_EQ(Header(*engine, 1000, 211), 102);
  EXPECT_EQ(log.entries.back().message, u"ERROR:\nPaper is too short to cut");
  const std::string out = printer.OutputText();
  EXPECT_NE(out.find("^S(CLS,P,1000^S(CLS,L,212^ST"), std::string::npos);
  EXPECT_NE(out.find("^S(CX0,L,D^S(CX0,C,0^"), std::string::npos);
  // The message has two lines on the error label.
  EXPECT_EQ(text.rendered.back(), u"ERROR:\nPaper is too short to cut");

  auto exact = Engine();
  EXPECT_EQ(Header(*exact, 1000, 212), 0);

  printer.Set(u"AutoCut", 0);
  auto uncut = Engine();
  EXPECT_EQ(Header(*uncut, 1000, 211), 0);

  // Forced printing goes on without cutting.
  printer.Set(u"AutoCut", 1);
  printer.Set(u"ForcePrinting", 1);
  auto forced = Engine();
  EXPECT_EQ(Header(*forced, 1000, 211), 0);
  const std::string setup = Buffer(*forced);
  EXPECT_NE(setup.find("^S(CLS,L,211^ST"), std::string::npos);
  EXPECT_NE(setup.find("^S(CX0,L,D^S(CX0,C,0^"), std::string::npos);
}

TEST_F(JobHeader, WithoutSettingsTheErrorPageGoesOutInTwoWritesThen102) {
  auto engine = Engine();
  EXPECT_EQ(Header(*engine, 2000, 1000), 102);
  ASSERT_EQ(printer.sends.size(), 2u);
  const std::string out = printer.OutputText();
  const std::string setup = out.substr(0, printer.sends[0]);
  EXPECT_EQ(setup.rfind("^XA^FXLTCommand^FS^XZ^XA^S(CLM,T,M2^S(CLS,P,1587", 0), 0u);
  const std::string page = out.substr(printer.sends[0]);
  EXPECT_EQ(page.rfind("^XA~DYR:DIFF,B,P,", 0), 0u);
  EXPECT_NE(page.find("^FO0,0^IMR:DIFF.PNG^FS~DYR:DIFF,B,P,"), std::string::npos);
  EXPECT_NE(page.find("^FO57,57^IMR:DIFF.PNG^FS^XZ"), std::string::npos);
  EXPECT_EQ(page.substr(page.size() - 3), "^XZ");
  EXPECT_EQ(Buffer(*engine), "");
}

TEST_F(JobHeader, ForcedPrintingClampsTheSizeAndKeepsTheHostsHeader) {
  printer.Set(u"ForcePrinting", 1);
  printer.Set(u"PrintError", 0);
  auto engine = Engine();
  EXPECT_EQ(Header(*engine, 2000, 20000), 0);
  EXPECT_TRUE(printer.output.empty());
  EXPECT_NE(Buffer(*engine).find("^S(CLS,P,1587^S(CLS,L,14400^"), std::string::npos);
  // A clock is turned within the host's header, not within the clamped label:
  // turned half round, (1000, 10000) less the text's extent lies at (960, 9990).
  LayoutData halfTurn;
  halfTurn.rotation = 180;
  engine->SetLayout(halfTurn);
  engine->CreateNewPage();
  ASSERT_EQ(engine->WriteClock(u"12:00", {1000, 10000}, 20, u"Arial"), 0);
  EXPECT_TRUE(Buffer(*engine).ends_with("^FO960,9990^IMR:DIFF.PNG^FS"));

  // Both set: the error page is printed at once, the corrected job waits in the buffer.
  printer.Set(u"PrintError", 1);
  printer.sends.clear();
  auto both = Engine();
  EXPECT_EQ(Header(*both, 100, 50), 0);
  EXPECT_EQ(printer.sends.size(), 2u);
  EXPECT_EQ(Buffer(*both).rfind("^XA^FXLTCommand^FS^XZ^XA^S(CLM,T,M2^S(CLS,P,425^S(CLS,L,113^", 0), 0u);
}

TEST_F(JobHeader, MediaCodesComeFromTheStoredIndexAndStayInTheTable) {
  const std::pair<uint32_t, const char*> cases[] = {{0, "P1"}, {3, "S1"}, {5, "G1"}, {6, "M2"}, {0xFFFFFFFF, "M2"}};
  for (const auto& [stored, code] : cases) {
    printer.Set(u"MediaType", stored);
    auto engine = Engine();
    ASSERT_EQ(Header(*engine, 832, 1200), 0);
    EXPECT_NE(Buffer(*engine).find(std::string("^S(CLM,T,") + code + "^"), std::string::npos) << stored;
  }
}

TEST_F(JobHeader, ErrorPrintOutThatCannotBeSentLeavesNoUnfinishedFormat) {
  // The spooler refuses the first write: no page format is built.
  printer.writeBehaviour = [](uint32_t, uint32_t&) { return false; };
  auto refused = Engine();
  EXPECT_EQ(Header(*refused, 2000, 1000), 102);
  EXPECT_EQ(printer.sends.size(), 1u);
  EXPECT_EQ(Buffer(*refused), "");

  // The text cannot be drawn after the set-up went out: what was appended is dropped,
  // and a forced job's own set-up starts the buffer.
  printer.writeBehaviour = nullptr;
  printer.sends.clear();
  printer.Set(u"ForcePrinting", 1);
  text.failWith = 407;
  auto failing = Engine();
  EXPECT_EQ(Header(*failing, 2000, 1000), 0);
  EXPECT_EQ(printer.sends.size(), 1u);
  const std::string buffer = Buffer(*failing);
  EXPECT_EQ(buffer.rfind("^XA^FXLTCommand^FS^XZ^XA^S(CLM,T,M2^S(CLS,P,1587^S(CLS,L,1000^", 0), 0u);
  EXPECT_EQ(buffer.find("~DYR"), std::string::npos);
}

}  // namespace
