#include "config/dialog_rules.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "config/settings_store.h"

namespace {

constexpr double kTenthsPerMm = 10.0;
constexpr double kHundredthsPerInch = 100.0;
constexpr int32_t kVerticalTextLimit = 7;
constexpr int32_t kHorizontalTextLimit = 6;
constexpr double kVerticalLimitMm = 1016.0;
constexpr double kHorizontalLimitMm = 103.9;
constexpr int kMmDecimals = 1;
constexpr int kInchDecimals = 2;

bool IsSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

std::u16string Widen(std::string_view text) { return std::u16string(text.begin(), text.end()); }

// printf's "%.Nf", without the C locale's say in the decimal separator.
std::string Fixed(double value, int decimals) {
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (error != std::errc()) return "0";
  return std::string(buffer, end);
}

}  // namespace

PositionLimits MakePositionLimits(int32_t textLimit, double maximumMm, double minimumMm) {
  PositionLimits limits;
  limits.textLimit = textLimit;
  limits.maximum = RoundHalfAway(maximumMm * kTenthsPerMm);
  limits.minimum = RoundHalfAway(minimumMm * kTenthsPerMm);
  limits.maximumInches = limits.maximum / static_cast<double>(kTenthsMmPerInch);
  limits.minimumInches = limits.minimum / static_cast<double>(kTenthsMmPerInch);
  return limits;
}

PositionLimits VerticalLimits() { return MakePositionLimits(kVerticalTextLimit, kVerticalLimitMm, -kVerticalLimitMm); }

PositionLimits HorizontalLimits() {
  return MakePositionLimits(kHorizontalTextLimit, kHorizontalLimitMm, -kHorizontalLimitMm);
}

double ParseLeadingNumber(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  std::string number;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  // Decimal magnitude of the integer part, to tell overflow from underflow.
  long long magnitude = 0;
  bool seenNonZero = false;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) {
    if (text[i] != u'0') seenNonZero = true;
    if (seenNonZero) ++magnitude;
    number.push_back(static_cast<char>(text[i++]));
    ++digits;
  }
  if (i < text.size() && text[i] == u'.') {
    size_t fraction = i + 1;
    std::string fractionDigits;
    while (fraction < text.size() && IsDigit(text[fraction]))
      fractionDigits.push_back(static_cast<char>(text[fraction++]));
    if (digits > 0 || !fractionDigits.empty()) {
      number += '.';
      number += fractionDigits;
      digits += fractionDigits.size();
      i = fraction;
    }
  }
  if (digits == 0) return 0.0;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    size_t exponent = i + 1;
    std::string exponentText = "e";
    if (exponent < text.size() && (text[exponent] == u'+' || text[exponent] == u'-')) {
      exponentText.push_back(static_cast<char>(text[exponent++]));
    }
    const size_t firstExponentDigit = exponent;
    long long exponentValue = 0;
    while (exponent < text.size() && IsDigit(text[exponent])) {
      exponentValue = std::min(exponentValue * 10 + (text[exponent] - u'0'), 100000LL);
      exponentText.push_back(static_cast<char>(text[exponent++]));
    }
    if (exponent > firstExponentDigit) {
      number += exponentText;
      magnitude += exponentText[1] == '-' ? -exponentValue : exponentValue;
    }
  }
  double value = 0.0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  (void)end;
  if (error == std::errc::result_out_of_range) {
    value = magnitude > 0 ? std::numeric_limits<double>::max() : 0.0;
  } else if (error != std::errc()) {
    value = 0.0;
  }
  return negative ? -value : value;
}

int32_t TenthsFromText(std::u16string_view text, int32_t unitShown, const PositionLimits& limits) {
  const double number = ParseLeadingNumber(text);
  int32_t tenths = 0;
  if (unitShown == unit::kInches) {
    const double inches = std::clamp(number, limits.minimumInches, limits.maximumInches);
    const int64_t hundredths = RoundHalfAway(inches * kHundredthsPerInch);
    tenths = RoundHalfAway(static_cast<double>(hundredths * kTenthsMmPerInch) / kHundredthsPerInch);
  } else {
    tenths = RoundHalfAway(number * kTenthsPerMm);
  }
  return std::clamp(tenths, limits.minimum, limits.maximum);
}

std::u16string ValueText(int32_t tenths, int32_t unitShown, const PositionLimits& limits) {
  if (unitShown == unit::kInches) {
    const double inches =
        std::clamp(tenths / static_cast<double>(kTenthsMmPerInch), limits.minimumInches, limits.maximumInches);
    return Widen(Fixed(inches, kInchDecimals));
  }
  return Widen(Fixed(tenths / kTenthsPerMm, kMmDecimals));
}

std::u16string RangeText(int32_t unitShown, const PositionLimits& limits) {
  std::string text = "(";
  if (unitShown == unit::kInches) {
    text += Fixed(limits.minimumInches, kInchDecimals) + " - " + Fixed(limits.maximumInches, kInchDecimals);
  } else {
    text +=
        Fixed(limits.minimum / kTenthsPerMm, kMmDecimals) + " - " + Fixed(limits.maximum / kTenthsPerMm, kMmDecimals);
  }
  text += ")";
  return Widen(text);
}

uint32_t ClampCutInterval(uint32_t interval) { return std::clamp(interval, kMinCutInterval, kMaxCutInterval); }

bool IsCutTiming(int32_t timing) { return timing >= cut_timing::kEveryPage && timing < cut_timing::kCount; }

bool CutIntervalShown(bool autoCut, int32_t timing) { return autoCut && timing == cut_timing::kInterval; }

bool IsMediaIndex(int32_t media) { return media >= 0 && media < kMediaCount; }

QualityControls QualityControlsAtStart(int32_t media, int32_t quality, bool bandingReduction) {
  QualityControls controls;
  controls.sliderPosition = quality;
  if (media == kPlainPaper) {
    controls.sliderEnabled = false;
    controls.bandingChecked = false;
    controls.bandingEnabled = false;
    return controls;
  }
  controls.bandingChecked = bandingReduction;
  controls.bandingEnabled = !(bandingReduction && quality == kSliderQuality);
  return controls;
}

QualityControls QualityControlsForMedia(int32_t media) {
  QualityControls controls;
  controls.sliderPosition = kSliderSpeed;
  const bool plain = media == kPlainPaper;
  controls.sliderEnabled = !plain;
  controls.bandingChecked = !plain;
  controls.bandingEnabled = !plain;
  return controls;
}

QualityControls QualityControlsForSlider(int32_t position, bool bandingChecked) {
  QualityControls controls;
  controls.sliderPosition = position;
  const bool quality = position == kSliderQuality;
  controls.bandingChecked = quality || bandingChecked;
  controls.bandingEnabled = !quality;
  return controls;
}

ForcePrintingBox ForcePrintingFor(bool printErrors, bool forceChecked) {
  if (printErrors) return {false, false};
  return {forceChecked, true};
}

bool SavedForcePrinting(bool printErrors, bool forceChecked) { return !printErrors && forceChecked; }
