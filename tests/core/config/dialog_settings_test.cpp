#include "config/dialog_settings.h"

#include <gtest/gtest.h>

#include "config/settings_store.h"
#include "support/native/fakes.h"

namespace {

DialogSaveValues DefaultsAtOk() {
  DialogSaveValues v;
  v.mediaSelection = 2;
  v.quality = 0;
  v.bidirectional = true;
  v.bandingReduction = true;
  v.printErrors = true;
  v.cut = CutChoice{true, 0, 1};
  return v;
}

TEST(DialogStartValues, EmptyPrinterGivesTheDefaults) {
  MemoryPrinter printer;
  const DialogStartValues v = ReadDialogStartValues(printer);
  EXPECT_EQ(v.mediaType, 2);
  EXPECT_EQ(v.printQuality, 0);
  EXPECT_TRUE(v.bidirectional);
  EXPECT_TRUE(v.bandingReduction);
  EXPECT_TRUE(v.autoCut);
  EXPECT_EQ(v.cutTiming, 0);
  EXPECT_EQ(v.cutInterval, 1u);
  EXPECT_EQ(v.vOffset, 0);
  EXPECT_EQ(v.unit, 0);
  EXPECT_TRUE(v.printErrors);
  EXPECT_FALSE(v.forcePrinting);
  const std::vector<std::u16string> order{u"MediaType", u"PrintQuality", u"Bi-d",        u"BandR",
                                          u"AutoCut",   u"CutTiming",    u"CutInterval", u"VOffset",
                                          u"HOffset",   u"Unit",         u"PrintError",  u"ForcePrinting"};
  EXPECT_EQ(printer.reads, order);
}

TEST(DialogStartValues, StoredNumbersAreShownAsStored) {
  MemoryPrinter printer;
  printer.Set(u"AutoCut", 2);  // not exactly 1: clear
  printer.Set(u"CutTiming", 5);
  printer.Set(u"CutInterval", 300);
  printer.Set(u"VOffset", static_cast<uint32_t>(-15));
  printer.Set(u"Bi-d", 0);
  const DialogStartValues v = ReadDialogStartValues(printer);
  EXPECT_FALSE(v.autoCut);
  EXPECT_EQ(v.cutTiming, 5);
  EXPECT_EQ(v.cutInterval, 300u);
  EXPECT_EQ(v.vOffset, -15);
  EXPECT_FALSE(v.bidirectional);
}

TEST(DialogSave, WritesAllTwelveValuesInOrder) {
  MemoryPrinter printer;
  DialogSaveValues v = DefaultsAtOk();
  v.vOffset = -13;
  v.unit = 1;
  ASSERT_TRUE(SaveDialogValues(printer, v));
  const std::vector<std::u16string> order{u"MediaType",     u"PrintQuality", u"Bi-d",      u"BandR",
                                          u"VOffset",       u"HOffset",      u"Unit",      u"PrintError",
                                          u"ForcePrinting", u"AutoCut",      u"CutTiming", u"CutInterval"};
  EXPECT_EQ(printer.writes, order);
  EXPECT_EQ(printer.settings[u"MediaType"], 2u);
  EXPECT_EQ(printer.settings[u"VOffset"], static_cast<uint32_t>(-13));
  EXPECT_EQ(printer.settings[u"Unit"], 1u);
  EXPECT_EQ(printer.settings[u"PrintError"], 1u);
  EXPECT_EQ(printer.settings[u"CutInterval"], 1u);
}

TEST(DialogSave, ForcePrintingIsNeverSavedWithErrorPrintOut) {
  MemoryPrinter printer;
  DialogSaveValues v = DefaultsAtOk();
  v.forcePrintingChecked = true;
  ASSERT_TRUE(SaveDialogValues(printer, v));
  EXPECT_EQ(printer.settings[u"ForcePrinting"], 0u);
  v.printErrors = false;
  ASSERT_TRUE(SaveDialogValues(printer, v));
  EXPECT_EQ(printer.settings[u"ForcePrinting"], 1u);
}

TEST(DialogSave, MediaSelectionOutsideTheListSavesZero) {
  for (int32_t selection : {6, -1}) {
    MemoryPrinter printer;
    DialogSaveValues v = DefaultsAtOk();
    v.mediaSelection = selection;
    ASSERT_TRUE(SaveDialogValues(printer, v));
    EXPECT_EQ(printer.settings[u"MediaType"], 0u) << selection;
  }
}

TEST(DialogSave, RefusedWriteStopsAndKeepsEarlierValues) {
  MemoryPrinter printer;
  printer.Set(u"HOffset", 7);
  printer.Set(u"AutoCut", 0);
  printer.failWritesAfter = 5;  // MediaType, quality group, then VOffset
  DialogSaveValues v = DefaultsAtOk();
  v.vOffset = 100;
  v.hOffset = 200;
  EXPECT_FALSE(SaveDialogValues(printer, v));
  EXPECT_EQ(printer.writes.size(), 5u);
  EXPECT_EQ(printer.settings[u"VOffset"], 100u);
  EXPECT_EQ(printer.settings[u"HOffset"], 7u);  // the failing write left it alone
  EXPECT_EQ(printer.settings[u"AutoCut"], 0u);  // later groups untouched
  EXPECT_EQ(printer.settings.count(u"PrintError"), 0u);
}

TEST(DialogSave, MissingCutValuesFailAfterTheOtherGroups) {
  MemoryPrinter printer;
  DialogSaveValues v = DefaultsAtOk();
  v.cut.reset();
  EXPECT_FALSE(SaveDialogValues(printer, v));
  EXPECT_EQ(printer.writes.size(), 9u);
  EXPECT_EQ(printer.settings.count(u"AutoCut"), 0u);
}

}  // namespace
