#include "config/dialog_rules.h"

#include <gtest/gtest.h>

namespace {

int32_t VerticalMm(std::u16string_view text) { return TenthsFromText(text, unit::kMillimetres, VerticalLimits()); }
int32_t HorizontalMm(std::u16string_view text) { return TenthsFromText(text, unit::kMillimetres, HorizontalLimits()); }
int32_t VerticalInch(std::u16string_view text) { return TenthsFromText(text, unit::kInches, VerticalLimits()); }
int32_t HorizontalInch(std::u16string_view text) { return TenthsFromText(text, unit::kInches, HorizontalLimits()); }

TEST(PositionLimits, TenthsAndInchesOfBothLines) {
  const PositionLimits v = VerticalLimits();
  EXPECT_EQ(v.textLimit, 7);
  EXPECT_EQ(v.maximum, 10160);
  EXPECT_EQ(v.minimum, -10160);
  EXPECT_DOUBLE_EQ(v.maximumInches, 40.0);
  const PositionLimits h = HorizontalLimits();
  EXPECT_EQ(h.textLimit, 6);
  EXPECT_EQ(h.maximum, 1039);
  EXPECT_EQ(h.minimum, -1039);
  EXPECT_DOUBLE_EQ(h.minimumInches, -1039 / 254.0);
}

TEST(PositionText, ParsesTheLeadingNumberOnly) {
  EXPECT_DOUBLE_EQ(ParseLeadingNumber(u"  -1.25"), -1.25);
  EXPECT_DOUBLE_EQ(ParseLeadingNumber(u"+3."), 3.0);
  EXPECT_DOUBLE_EQ(ParseLeadingNumber(u".5mm"), 0.5);
  EXPECT_DOUBLE_EQ(ParseLeadingNumber(u"12abc"), 12.0);
  EXPECT_DOUBLE_EQ(ParseLeadingNumber(u"1e2"), 100.0);
  EXPECT_DOUBLE_EQ(ParseLeadingNumber(u"2e"), 2.0);  // exponent without digits is not part of it
  EXPECT_DOUBLE_EQ(ParseLeadingNumber(u"2e+x"), 2.0);
  EXPECT_DOUBLE_EQ(ParseLeadingNumber(u"1,5"), 1.0);  // the separator is always the full stop
  EXPECT_DOUBLE_EQ(ParseLeadingNumber(u""), 0.0);
  EXPECT_DOUBLE_EQ(ParseLeadingNumber(u"abc"), 0.0);
  EXPECT_DOUBLE_EQ(ParseLeadingNumber(u"-"), 0.0);
  EXPECT_DOUBLE_EQ(ParseLeadingNumber(u"."), 0.0);
  // Words a C library would read as infinity or NaN are not numbers here.
  EXPECT_DOUBLE_EQ(ParseLeadingNumber(u"inf"), 0.0);
  EXPECT_DOUBLE_EQ(ParseLeadingNumber(u"nan"), 0.0);
  EXPECT_DOUBLE_EQ(ParseLeadingNumber(u"0x10"), 0.0);
}

TEST(PositionText, NumbersBeyondDoubleSaturateInsteadOfOverflowing) {
  EXPECT_EQ(VerticalMm(u"1e400"), 10160);
  EXPECT_EQ(VerticalMm(u"-1e400"), -10160);
  EXPECT_EQ(VerticalMm(u"1e-400"), 0);
  EXPECT_EQ(VerticalMm(u"99999999999"), 10160);  // beyond int32 once in tenths
  EXPECT_EQ(HorizontalInch(u"1e999"), 1039);
}

TEST(PositionText, MillimetresRoundHalvesAwayFromZeroAndClamp) {
  EXPECT_EQ(VerticalMm(u"1.25"), 13);
  EXPECT_EQ(VerticalMm(u"-1.25"), -13);
  EXPECT_EQ(VerticalMm(u"2000"), 10160);
  EXPECT_EQ(VerticalMm(u"-1016.04"), -10160);
  EXPECT_EQ(HorizontalMm(u"103.95"), 1039);
  EXPECT_EQ(VerticalMm(u"12abc"), 120);
  EXPECT_EQ(VerticalMm(u""), 0);
  EXPECT_EQ(VerticalMm(u"x5"), 0);
}

TEST(PositionText, InchesGoThroughWholeHundredths) {
  EXPECT_EQ(VerticalInch(u"0.004"), 0);
  EXPECT_EQ(VerticalInch(u"0.006"), 3);  // 1 hundredth = 2.54 tenths
  EXPECT_EQ(VerticalInch(u"0.01"), 3);
  EXPECT_EQ(VerticalInch(u"-0.01"), -3);
  EXPECT_EQ(HorizontalInch(u"-5"), -1039);   // clamped to -4.0905.. inch first
  EXPECT_EQ(HorizontalInch(u"4.09"), 1039);  // 1038.86 rounds up to the limit
  EXPECT_EQ(VerticalInch(u"40"), 10160);
  EXPECT_EQ(VerticalInch(u"1"), 254);
}

TEST(PositionText, ValueAndRangeTexts) {
  const PositionLimits v = VerticalLimits();
  const PositionLimits h = HorizontalLimits();
  EXPECT_EQ(ValueText(0, unit::kMillimetres, v), u"0.0");
  EXPECT_EQ(ValueText(0, unit::kInches, v), u"0.00");
  EXPECT_EQ(ValueText(13, unit::kMillimetres, v), u"1.3");
  EXPECT_EQ(ValueText(-1039, unit::kInches, h), u"-4.09");
  EXPECT_EQ(ValueText(2, unit::kInches, v), u"0.01");
  EXPECT_EQ(RangeText(unit::kMillimetres, v), u"(-1016.0 - 1016.0)");
  EXPECT_EQ(RangeText(unit::kMillimetres, h), u"(-103.9 - 103.9)");
  EXPECT_EQ(RangeText(unit::kInches, v), u"(-40.00 - 40.00)");
  EXPECT_EQ(RangeText(unit::kInches, h), u"(-4.09 - 4.09)");
  // Any unit other than inches shows millimetres.
  EXPECT_EQ(RangeText(7, h), u"(-103.9 - 103.9)");
}

TEST(PositionText, StoredValueOutsideLimitsShowsUnclampedInMillimetresOnly) {
  const PositionLimits h = HorizontalLimits();
  EXPECT_EQ(ValueText(5000, unit::kMillimetres, h), u"500.0");
  EXPECT_EQ(ValueText(5000, unit::kInches, h), u"4.09");
  // Reading that text back saves it clamped.
  EXPECT_EQ(TenthsFromText(u"500.0", unit::kMillimetres, h), 1039);
}

TEST(PositionText, InchRoundTripOfASmallValueSavesTheInchReading) {
  const PositionLimits v = VerticalLimits();
  const std::u16string shown = ValueText(2, unit::kInches, v);
  EXPECT_EQ(TenthsFromText(shown, unit::kInches, v), 3);
}

TEST(CutInterval, ClampsToOneTo255) {
  EXPECT_EQ(ClampCutInterval(0), 1u);
  EXPECT_EQ(ClampCutInterval(1), 1u);
  EXPECT_EQ(ClampCutInterval(255), 255u);
  EXPECT_EQ(ClampCutInterval(999), 255u);
  EXPECT_EQ(ClampCutInterval(0xFFFFFFFFu), 255u);
}

TEST(CutInterval, ShownOnlyWithAutoCutAtSpecifiedPages) {
  EXPECT_TRUE(CutIntervalShown(true, cut_timing::kInterval));
  EXPECT_FALSE(CutIntervalShown(false, cut_timing::kInterval));
  EXPECT_FALSE(CutIntervalShown(true, cut_timing::kLastPage));
  EXPECT_TRUE(IsCutTiming(2));
  EXPECT_FALSE(IsCutTiming(3));
  EXPECT_FALSE(IsCutTiming(-1));
}

TEST(QualityControls, PlainPaperGreysSliderAndBandingWhateverIsStored) {
  const QualityControls c = QualityControlsAtStart(kPlainPaper, 0, true);
  EXPECT_FALSE(c.sliderEnabled);
  EXPECT_FALSE(c.bandingChecked);
  EXPECT_FALSE(c.bandingEnabled);
  const QualityControls q = QualityControlsAtStart(kPlainPaper, 1, true);
  EXPECT_EQ(q.sliderPosition, kSliderQuality);  // shown as stored, greyed
  EXPECT_FALSE(q.sliderEnabled);
}

TEST(QualityControls, QualityLocksBandingOnlyWhenItIsSet) {
  const QualityControls locked = QualityControlsAtStart(3, 1, true);
  EXPECT_TRUE(locked.sliderEnabled);
  EXPECT_TRUE(locked.bandingChecked);
  EXPECT_FALSE(locked.bandingEnabled);
  const QualityControls free = QualityControlsAtStart(3, 1, false);
  EXPECT_FALSE(free.bandingChecked);
  EXPECT_TRUE(free.bandingEnabled);
}

TEST(QualityControls, MediaChangeResetsSliderAndSliderMovesLockBanding) {
  const QualityControls glossy = QualityControlsForMedia(5);
  EXPECT_EQ(glossy.sliderPosition, kSliderSpeed);
  EXPECT_TRUE(glossy.sliderEnabled);
  EXPECT_TRUE(glossy.bandingChecked);
  EXPECT_TRUE(glossy.bandingEnabled);
  const QualityControls plain = QualityControlsForMedia(kPlainPaper);
  EXPECT_FALSE(plain.sliderEnabled);
  EXPECT_FALSE(plain.bandingChecked);

  const QualityControls quality = QualityControlsForSlider(kSliderQuality, false);
  EXPECT_TRUE(quality.bandingChecked);
  EXPECT_FALSE(quality.bandingEnabled);
  const QualityControls speed = QualityControlsForSlider(kSliderSpeed, false);
  EXPECT_FALSE(speed.bandingChecked);  // keeps the user's check state
  EXPECT_TRUE(speed.bandingEnabled);
}

TEST(ForcePrinting, ErrorPrintOutExcludesForcePrinting) {
  EXPECT_FALSE(ForcePrintingFor(true, true).checked);
  EXPECT_FALSE(ForcePrintingFor(true, true).enabled);
  EXPECT_TRUE(ForcePrintingFor(false, true).checked);
  EXPECT_TRUE(ForcePrintingFor(false, false).enabled);
  EXPECT_FALSE(SavedForcePrinting(true, true));
  EXPECT_TRUE(SavedForcePrinting(false, true));
}

TEST(RoundHalfAway, HalvesAndSaturation) {
  EXPECT_EQ(RoundHalfAway(2.5), 3);
  EXPECT_EQ(RoundHalfAway(-2.5), -3);
  EXPECT_EQ(RoundHalfAway(2.4999), 2);
  EXPECT_EQ(RoundHalfAway(1e300), INT32_MAX);
  EXPECT_EQ(RoundHalfAway(-1e300), INT32_MIN);
}

}  // namespace
