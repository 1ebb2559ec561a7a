#include "config/settings_store.h"

#include <gtest/gtest.h>

#include "support/native/fakes.h"

TEST(SettingsStore, NothingStoredGivesTheDefaults) {
  MemoryPrinter printer;
  EXPECT_EQ(LoadMediaType(printer), 2);
  const PositionSettings position = LoadPositionSettings(printer);
  EXPECT_EQ(position.vOffset, 0);
  EXPECT_EQ(position.hOffset, 0);
  EXPECT_EQ(position.unit, 0);
  const ErrorSettings errors = LoadErrorSettings(printer);
  EXPECT_TRUE(errors.printErrors);
  EXPECT_FALSE(errors.forcePrinting);
  const CutSettings cut = LoadCutSettings(printer);
  EXPECT_EQ(cut.cutMode, 'E');
  EXPECT_EQ(cut.pagesPerCut, 1u);
  const QualitySettings quality = LoadQualitySettings(printer);
  EXPECT_EQ(quality.printMode, 1);
  EXPECT_EQ(quality.direction, 'B');
}

TEST(SettingsStore, CutSettingsByFlagAndTiming) {
  struct Case {
    std::optional<uint32_t> autoCut, timing, interval;
    char mode;
    uint32_t pages;
  } cases[] = {
      {2, 0, 1, 'D', 0},  // only exactly 1 is set
      {0, 2, 300, 'D', 0},
      {1, 1, std::nullopt, 'E', 0},
      {1, 2, std::nullopt, 'E', 1},
      {1, 2, 300, 'E', 300},  // the job side does not clamp
      {1, 7, 5, 'E', 0},
      {std::nullopt, 0, std::nullopt, 'E', 1},
  };
  for (const Case& c : cases) {
    MemoryPrinter printer;
    if (c.autoCut) printer.Set(u"AutoCut", *c.autoCut);
    if (c.timing) printer.Set(u"CutTiming", *c.timing);
    if (c.interval) printer.Set(u"CutInterval", *c.interval);
    const CutSettings cut = LoadCutSettings(printer);
    EXPECT_EQ(cut.cutMode, c.mode);
    EXPECT_EQ(cut.pagesPerCut, c.pages);
    // All three are read, in order, whatever the flag says.
    EXPECT_EQ(printer.reads, (std::vector<std::u16string>{u"AutoCut", u"CutTiming", u"CutInterval"}));
  }
}

TEST(SettingsStore, QualityAndDirection) {
  struct Case {
    std::optional<uint32_t> quality, bidi, bandR;
    int32_t mode;
    char direction;
  } cases[] = {
      {1, 1, 0, 2, 'B'}, {0, 1, 0, 0, 'B'}, {std::nullopt, std::nullopt, std::nullopt, 1, 'B'},
      {7, 0, 1, 2, 'U'}, {0, 5, 1, 1, 'U'},
  };
  for (const Case& c : cases) {
    MemoryPrinter printer;
    if (c.quality) printer.Set(u"PrintQuality", *c.quality);
    if (c.bidi) printer.Set(u"Bi-d", *c.bidi);
    if (c.bandR) printer.Set(u"BandR", *c.bandR);
    const QualitySettings q = LoadQualitySettings(printer);
    EXPECT_EQ(q.printMode, c.mode);
    EXPECT_EQ(q.direction, c.direction);
  }
}

TEST(SettingsStore, OffsetsInDotsRoundHalvesAwayFromZero) {
  const std::pair<int32_t, int32_t> cases[] = {{15, 21}, {-15, -21}, {4, 6}, {3, 4},
                                               {-3, -4}, {1, 1},     {0, 0}, {-10160, -14400}};
  for (const auto& [tenths, dots] : cases) {
    MemoryPrinter printer;
    printer.Set(u"VOffset", static_cast<uint32_t>(tenths));
    printer.Set(u"HOffset", static_cast<uint32_t>(-tenths));
    const PositionAdjustment offsets = LoadOffsetsInDots(printer, 360);
    EXPECT_EQ(offsets.vertical, dots) << tenths;
    EXPECT_EQ(offsets.horizontal, -dots) << tenths;
  }
  // Stored numbers far outside the dialog's range saturate instead of overflowing.
  MemoryPrinter extreme;
  extreme.Set(u"VOffset", 0x7FFFFFFF);
  extreme.Set(u"HOffset", 0x80000000);
  const PositionAdjustment offsets = LoadOffsetsInDots(extreme, 360);
  EXPECT_EQ(offsets.vertical, INT32_MAX);
  EXPECT_EQ(offsets.horizontal, INT32_MIN);
}

TEST(SettingsStore, WritersStoreInOrderAndStopAtTheFirstRefusal) {
  MemoryPrinter printer;
  ASSERT_TRUE(SaveQualitySettings(printer, 1, false, true));
  ASSERT_TRUE(SavePositionSettings(printer, -10160, 1039, 1));
  ASSERT_TRUE(SaveErrorSettings(printer, true, false));
  EXPECT_EQ(printer.writes, (std::vector<std::u16string>{u"PrintQuality", u"Bi-d", u"BandR", u"VOffset", u"HOffset",
                                                         u"Unit", u"PrintError", u"ForcePrinting"}));
  EXPECT_EQ(printer.settings[u"Bi-d"], 0u);
  EXPECT_EQ(printer.settings[u"VOffset"], static_cast<uint32_t>(-10160));

  MemoryPrinter failing;
  failing.Set(u"CutInterval", 9);
  failing.failWritesAfter = 2;
  EXPECT_FALSE(SaveCutSettings(failing, true, 2, 255));
  EXPECT_EQ(failing.settings[u"AutoCut"], 1u);
  EXPECT_EQ(failing.settings[u"CutTiming"], 2u);
  EXPECT_EQ(failing.settings[u"CutInterval"], 9u);
  EXPECT_FALSE(SaveMediaType(failing, 3));
  EXPECT_EQ(failing.settings.count(u"MediaType"), 0u);
}
