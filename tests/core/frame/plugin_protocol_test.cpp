#include "frame/plugin_protocol.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/native/debug_output_capture.h"
#include "support/native/protocol_harness.h"

namespace {

using enum PluginState;
using Harness = ProtocolHarness<>;

constexpr PluginState kAllStates[] = {Created, Initialized, Ready, PageOpen, Failed};

// Drives a fresh harness into `state` the way a host would: Ready has a
// checked header, PageOpen an open page with "BASE01" waiting to be placed.
void Reach(Harness& h, PluginState state) {
  switch (state) {
    case Created: return;
    case Failed: h.protocol.lpxInitialize(nullptr, nullptr, nullptr); return;
    case Initialized: h.Initialize(); return;
    case Ready:
      h.Initialize();
      ASSERT_TRUE(h.Header());
      return;
    case PageOpen:
      h.Initialize();
      ASSERT_TRUE(h.Header());
      ASSERT_TRUE(h.Send(100, 40, "BASE01"));
      ASSERT_TRUE(h.protocol.lpxCreateNewPage());
      return;
  }
}

constexpr DotPoint kAt{10, 20};

struct Operation {
  std::u16string name;
  std::function<bool(Harness&)> call;
  // The accepted states with the code the call then ends with (0: success).
  std::map<PluginState, ResultCode> accepted;
  PluginState onSuccess;  // Created stands for "unchanged"
};

std::vector<Operation> Operations() {
  const std::map<PluginState, ResultCode> page{{PageOpen, 0}};
  return {
      {u"lpxSendBitmap",
       [](Harness& h) { return h.Send(8, 8, "LOT"); },
       // Within the page "BASE01" still waits to be placed: a second bitmap is refused.
       {{Ready, 0}, {PageOpen, result::kBadSourceBitmap}},
       Created},
      {u"lpxCreateNewPage", [](Harness& h) { return h.protocol.lpxCreateNewPage(); }, {{Ready, 0}}, PageOpen},
      {u"lpxReferToBaseBitmap", [](Harness& h) { return h.protocol.lpxReferToBaseBitmap(&kAt); }, page, Created},
      {u"lpxReferToVariableBitmap", [](Harness& h) { return h.protocol.lpxReferToVariableBitmap("BASE01", &kAt); },
       page, Created},
      {u"lpxCloseNewPageStatic", [](Harness& h) { return h.protocol.lpxCloseNewPageStatic(1); }, page, Created},
      {u"lpxCloseNewPageDynamic", [](Harness& h) { return h.protocol.lpxCloseNewPageDynamic(1); }, page, Created},
      {u"lpxCloseNewPageFinal", [](Harness& h) { return h.protocol.lpxCloseNewPageFinal(); }, page, Ready},
      {u"lpxWritePrintJobHeader", [](Harness& h) { return h.Header(); }, {{Initialized, 0}}, Ready},
      {u"lpxAddEmptyPage", [](Harness& h) { return h.protocol.lpxAddEmptyPage(); }, {{Ready, 0}}, Created},
      // No "END01"/"START01" bitmap was sent: the engine refuses the name.
      {u"lpxReferToEndLabel",
       [](Harness& h) { return h.protocol.lpxReferToEndLabel(&kAt); },
       {{Ready, result::kWrongBitmapName}},
       Created},
      {u"lpxReferToStartLabel",
       [](Harness& h) { return h.protocol.lpxReferToStartLabel(&kAt); },
       {{Ready, result::kWrongBitmapName}},
       Created},
      {u"lpxWriteClock", [](Harness& h) { return h.protocol.lpxWriteClock(u"12:00", &kAt, 24, u"Arial"); }, page,
       Created},
      {u"lpxWritePrinter",
       [](Harness& h) { return h.protocol.lpxWritePrinter(); },
       {{Ready, 0}, {PageOpen, 0}},
       Created},
  };
}

std::u16string Trace(const std::u16string& name) { return name + u"(): start\n"; }

std::u16string ErrorLine(ResultCode code) {
  const std::string text = "ERROR: " + std::to_string(code);
  return std::u16string(text.begin(), text.end());
}

TEST(PluginProtocol, EveryCheckedOperationInEveryState) {
  for (const Operation& op : Operations()) {
    for (PluginState state : kAllStates) {
      SCOPED_TRACE(testing::Message() << std::string(op.name.begin(), op.name.end()) << " in state "
                                      << static_cast<int>(state));
      Harness h;
      Reach(h, state);
      ASSERT_EQ(h.protocol.State(), state);
      const size_t logged = h.log.entries.size();
      (void)TakeDebugOutput();

      const bool result = op.call(h);
      const auto accepted = op.accepted.find(state);
      EXPECT_TRUE(TakeDebugOutput().ends_with(Trace(op.name)));
      if (accepted == op.accepted.end()) {
        EXPECT_FALSE(result);
        EXPECT_EQ(h.protocol.State(), state);
        EXPECT_EQ(h.log.entries.size(), logged);
      } else if (accepted->second == result::kOk) {
        EXPECT_TRUE(result);
        EXPECT_EQ(h.protocol.State(), op.onSuccess == Created ? state : op.onSuccess);
        EXPECT_EQ(h.log.entries.size(), logged);
      } else {
        EXPECT_FALSE(result);
        EXPECT_EQ(h.protocol.State(), Failed);
        ASSERT_EQ(h.log.entries.size(), logged + 1);
        EXPECT_EQ(h.log.entries.back().message, ErrorLine(accepted->second));
        EXPECT_EQ(h.log.entries.back().source, op.name);
      }
    }
  }
}

TEST(PluginProtocol, UncheckedOperationsAnswerAlikeInEveryState) {
  for (PluginState state : kAllStates) {
    Harness h;
    Reach(h, state);
    const size_t logged = h.log.entries.size();
    (void)TakeDebugOutput();
    EXPECT_FALSE(h.protocol.lpxWriteText());
    EXPECT_FALSE(h.protocol.lpxReferToBarcode());
    EXPECT_FALSE(h.protocol.lpxWriteRFID());
    EXPECT_TRUE(h.protocol.lpxEject());
    EXPECT_TRUE(h.protocol.lpxClear());
    EXPECT_EQ(TakeDebugOutput(), Trace(u"lpxWriteText") + Trace(u"lpxReferToBarcode") + Trace(u"lpxWriteRFID") +
                                     Trace(u"lpxEject") + Trace(u"lpxClear"));
    EXPECT_EQ(h.protocol.State(), state);
    EXPECT_EQ(h.log.entries.size(), logged);

    // Layout data goes without a check and without a log line (what it is
    // taken for: LayoutDataIsTakenInReadyOnly).
    h.protocol.lpxSendLayoutData(LayoutData{90, 0, 0, 254, 381, 0, 0, 0, 0, 0, 3, -7, 0});
    EXPECT_EQ(TakeDebugOutput(), Trace(u"lpxSendLayoutData"));
    EXPECT_EQ(h.log.entries.size(), logged);
    EXPECT_EQ(h.protocol.State(), state);

    // Initialisation is accepted everywhere, keeps the first engine and opens
    // the printer port of its own handle.
    const CPrintControl* engine = h.protocol.Engine();
    const size_t portsBefore = h.ports.opened.size();
    h.records.extra[7] = 0x5A;
    h.Initialize();
    EXPECT_EQ(h.protocol.State(), Initialized);
    EXPECT_EQ(h.protocol.ExtraRecord()[7], 0x5A);
    if (engine != nullptr) EXPECT_EQ(h.protocol.Engine(), engine);
    EXPECT_EQ(h.ports.opened.size(), portsBefore + 1);
    EXPECT_EQ(h.log.entries.size(), logged);
  }
}

TEST(PluginProtocol, ArgumentChecksComeAfterTheStateAndFailWith101) {
  using Call = std::function<bool(PluginProtocol&)>;
  const std::vector<std::pair<std::u16string, Call>> pageCalls = {
      {u"lpxSendBitmap", [](PluginProtocol& p) { return p.lpxSendBitmap(nullptr, "BASE01"); }},
      {u"lpxReferToBaseBitmap", [](PluginProtocol& p) { return p.lpxReferToBaseBitmap(nullptr); }},
      {u"lpxReferToVariableBitmap", [](PluginProtocol& p) { return p.lpxReferToVariableBitmap(nullptr, &kAt); }},
      {u"lpxReferToVariableBitmap", [](PluginProtocol& p) { return p.lpxReferToVariableBitmap("V", nullptr); }},
      {u"lpxCloseNewPageStatic", [](PluginProtocol& p) { return p.lpxCloseNewPageStatic(0); }},
      {u"lpxCloseNewPageStatic", [](PluginProtocol& p) { return p.lpxCloseNewPageStatic(INT_MIN); }},
      {u"lpxCloseNewPageStatic", [](PluginProtocol& p) { return p.lpxCloseNewPageStatic(kMaxCopies + 1); }},
      {u"lpxCloseNewPageStatic", [](PluginProtocol& p) { return p.lpxCloseNewPageStatic(INT_MAX); }},
      {u"lpxCloseNewPageDynamic", [](PluginProtocol& p) { return p.lpxCloseNewPageDynamic(-1); }},
      {u"lpxWriteClock", [](PluginProtocol& p) { return p.lpxWriteClock(nullptr, &kAt, 24, u"Arial"); }},
      {u"lpxWriteClock", [](PluginProtocol& p) { return p.lpxWriteClock(u"###HWGEN###", nullptr, 24, u"A"); }},
      {u"lpxWriteClock", [](PluginProtocol& p) { return p.lpxWriteClock(u"1", &kAt, 24, nullptr); }},
  };
  for (const auto& [name, call] : pageCalls) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    Harness refused;
    Reach(refused, Ready);
    if (name != u"lpxSendBitmap") {
      EXPECT_FALSE(call(refused.protocol));  // refused by the state before any argument is looked at
      EXPECT_EQ(refused.protocol.State(), Ready);
      EXPECT_TRUE(refused.log.entries.empty());
    }
    Harness h;
    Reach(h, PageOpen);
    EXPECT_FALSE(call(h.protocol));
    EXPECT_EQ(h.protocol.State(), Failed);
    ASSERT_EQ(h.log.entries.size(), 1u);
    EXPECT_EQ(h.log.entries[0].message, u"ERROR: 101");
    EXPECT_EQ(h.log.entries[0].source, name);
  }

  Harness h;
  h.protocol.lpxInitialize(&h.hostPrinter, h.records.job.data(), nullptr);
  EXPECT_EQ(h.protocol.State(), Failed);
  ASSERT_EQ(h.log.entries.size(), 1u);
  EXPECT_EQ(h.log.entries[0].source, u"lpxInitialize");
  EXPECT_EQ(h.protocol.Engine(), nullptr);
  EXPECT_FALSE(h.Header());  // Failed until a valid initialisation
  h.Initialize();
  EXPECT_TRUE(h.Header());
}

TEST(PluginProtocol, APrinterKeptClockIsDeclinedSilentlyAndThePageGoesOn) {
  Harness h;
  Reach(h, PageOpen);
  EXPECT_FALSE(h.protocol.lpxWriteClock(u"time ###HWGEN### here", &kAt, 24, u"Arial"));
  EXPECT_EQ(h.protocol.State(), PageOpen);
  EXPECT_TRUE(h.log.entries.empty());
  EXPECT_TRUE(h.protocol.lpxCloseNewPageFinal());
}

// A layout turned by 45 degrees cannot blank a half-used page of two cells
// (208): the close shows whether the layout sent before it was taken.
TEST(PluginProtocol, LayoutDataIsTakenInReadyOnly) {
  const LayoutData turned{45, 0, 0, 254, 0, 0, 0, 0, 0, 0, 2, 1, 0};
  Harness h;
  h.Initialize();
  h.protocol.lpxSendLayoutData(turned);  // Initialized: ignored
  ASSERT_TRUE(h.Header());
  ASSERT_TRUE(h.Send(100, 40, "BASE01"));
  ASSERT_TRUE(h.protocol.lpxCreateNewPage());
  h.protocol.lpxSendLayoutData(turned);  // PageOpen: ignored
  ASSERT_TRUE(h.protocol.lpxReferToBaseBitmap(&kAt));
  EXPECT_TRUE(h.protocol.lpxCloseNewPageStatic(1));
  EXPECT_TRUE(h.protocol.lpxCloseNewPageFinal());

  h.protocol.lpxSendLayoutData(turned);  // Ready: taken
  ASSERT_TRUE(h.protocol.lpxCreateNewPage());
  ASSERT_TRUE(h.protocol.lpxReferToBaseBitmap(&kAt));
  EXPECT_FALSE(h.protocol.lpxCloseNewPageStatic(1));
  ASSERT_FALSE(h.log.entries.empty());
  EXPECT_EQ(h.log.entries.back().message, u"ERROR: 208");
}

// Regression: a copy count of 2,147,483,647 once made the final close append
// 34 GB of empty formats. The largest accepted count is bounded by the ceiling.
TEST(PluginProtocol, CopyCountsBeyondTheBufferCeilingAreRefusedAndTheLargestStaysBounded) {
  Harness h;
  Reach(h, PageOpen);
  EXPECT_FALSE(h.protocol.lpxCloseNewPageStatic(INT_MAX));
  EXPECT_EQ(h.protocol.State(), Failed);
  ASSERT_EQ(h.log.entries.size(), 1u);
  EXPECT_EQ(h.log.entries[0].message, u"ERROR: 101");

  Harness largest;
  Reach(largest, PageOpen);
  ASSERT_TRUE(largest.protocol.lpxReferToBaseBitmap(&kAt));  // the page is whole: nothing else to send
  ASSERT_TRUE(largest.protocol.lpxWritePrinter());
  const size_t before = largest.printer.output.size();
  ASSERT_TRUE(largest.protocol.lpxCloseNewPageStatic(kMaxCopies));
  ASSERT_TRUE(largest.protocol.lpxCloseNewPageFinal());
  ASSERT_TRUE(largest.protocol.lpxWritePrinter());
  const size_t grown = largest.printer.output.size() - before;
  EXPECT_LE(grown, static_cast<size_t>(kCopyBytesCeiling + 2 * kCopyFormatBytes));
  // The page's own "^C(S^XZ", then one empty format per extra copy.
  EXPECT_EQ(grown, 7 + static_cast<size_t>(kMaxCopies - 1) * kCopyFormatBytes);
}

// A clock that prints nothing (an empty text, or line breaks only) leaves
// the bitmap waiting for its reference: the host places it after the clock.
TEST(PluginProtocol, AClockThatPrintsNothingLeavesThePendingBitmapWaiting) {
  for (const char16_t* text : {u"\n\n", u""}) {
    Harness h;
    Reach(h, PageOpen);  // "BASE01" is pending
    ASSERT_TRUE(h.protocol.lpxWriteClock(text, &kAt, 24, u"Arial"));
    EXPECT_TRUE(h.protocol.lpxReferToBaseBitmap(&kAt));
    EXPECT_TRUE(h.Send(20, 10, "LOT"));
    EXPECT_TRUE(h.protocol.lpxReferToVariableBitmap("LOT", &kAt));
    EXPECT_EQ(h.protocol.State(), PageOpen);
    EXPECT_TRUE(h.log.entries.empty());
  }
}

TEST(PluginProtocol, TheSampleJobRunsThroughAndANewInitializeStartsTheNextJob) {
  Harness h;
  ASSERT_TRUE(h.SampleJob());
  EXPECT_TRUE(h.log.entries.empty());
  EXPECT_NE(h.printer.OutputText().find("^XA^C(L"), std::string::npos);
  h.printer.output.clear();
  ASSERT_TRUE(h.SampleJob());
  EXPECT_EQ(h.ports.opened.size(), 2u);  // each job through its own handle
}

}  // namespace

namespace {

// Regression (found by the fault tests): a job that failed with a page half
// built left its commands in the buffer, and a bitmap it never placed in the
// raster; the next job printed that half page in front of its own set-up and
// had its first bitmap refused.
TEST(PluginProtocol, AFailedJobLeavesNothingForTheNextJob) {
  Harness h;
  Reach(h, PageOpen);
  ASSERT_TRUE(h.protocol.lpxReferToBaseBitmap(&kAt));
  ASSERT_TRUE(h.Send(20, 10, "LOT"));
  EXPECT_FALSE(h.protocol.lpxReferToVariableBitmap("OTHER", &kAt));
  ASSERT_EQ(h.protocol.State(), Failed);

  h.Initialize();
  ASSERT_TRUE(h.Header());
  EXPECT_TRUE(h.Send(20, 10, "LOT"));
  ASSERT_TRUE(h.protocol.lpxWritePrinter());
  EXPECT_TRUE(h.printer.OutputText().starts_with("^XA^FXLTCommand^FS^XZ")) << h.printer.OutputText().substr(0, 40);
}

}  // namespace
