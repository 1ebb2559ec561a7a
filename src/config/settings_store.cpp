#include "config/settings_store.h"

#include <initializer_list>
#include <utility>

#include "config/rounding.h"

namespace {

constexpr uint32_t kFlagSet = 1;
constexpr int32_t kPrintModeQuality = 2;
constexpr int32_t kPrintModeBandingReduction = 1;
constexpr int32_t kPrintModeSpeed = 0;

uint32_t FlagValue(bool flag) { return flag ? 1u : 0u; }

// Writes the values in order and stops at the first refusal.
bool WriteAll(PrinterPort& printer, std::initializer_list<std::pair<std::u16string_view, uint32_t>> values) {
  for (const auto& [name, value] : values) {
    if (!printer.WriteSetting(name, value)) return false;
  }
  return true;
}

}  // namespace

uint32_t ReadSetting(PrinterPort& printer, std::u16string_view name, uint32_t fallback) {
  return printer.ReadSetting(name).value_or(fallback);
}

bool ReadFlag(PrinterPort& printer, std::u16string_view name, bool fallback) {
  const auto stored = printer.ReadSetting(name);
  return stored ? *stored == kFlagSet : fallback;
}

int32_t TenthsMmToDots(int64_t tenths, int32_t resolution) {
  // Saturates: a stored number far outside the dialog's range must not overflow the conversion.
  return RoundHalfAway(static_cast<double>(tenths) * resolution / kTenthsMmPerInch);
}

int32_t LoadMediaType(PrinterPort& printer) {
  return ReadSigned(printer, setting::kMediaType, setting_default::kMediaType);
}

PositionSettings LoadPositionSettings(PrinterPort& printer) {
  PositionSettings s;
  s.vOffset = ReadSigned(printer, setting::kVOffset, setting_default::kOffset);
  s.hOffset = ReadSigned(printer, setting::kHOffset, setting_default::kOffset);
  s.unit = ReadSigned(printer, setting::kUnit, setting_default::kUnit);
  return s;
}

PositionAdjustment LoadOffsetsInDots(PrinterPort& printer, int32_t resolution) {
  PositionAdjustment dots;
  if (auto v = printer.ReadSetting(setting::kVOffset)) {
    dots.vertical = TenthsMmToDots(static_cast<int32_t>(*v), resolution);
  }
  if (auto h = printer.ReadSetting(setting::kHOffset)) {
    dots.horizontal = TenthsMmToDots(static_cast<int32_t>(*h), resolution);
  }
  return dots;
}

ErrorSettings LoadErrorSettings(PrinterPort& printer) {
  ErrorSettings s;
  s.printErrors = ReadFlag(printer, setting::kPrintError, setting_default::kPrintError);
  s.forcePrinting = ReadFlag(printer, setting::kForcePrinting, setting_default::kForcePrinting);
  return s;
}

CutSettings LoadCutSettings(PrinterPort& printer) {
  const bool autoCut = ReadFlag(printer, setting::kAutoCut, setting_default::kAutoCut);
  const int32_t timing = ReadSigned(printer, setting::kCutTiming, setting_default::kCutTiming);
  const uint32_t interval =
      ReadSetting(printer, setting::kCutInterval, static_cast<uint32_t>(setting_default::kCutInterval));
  CutSettings s;
  if (!autoCut) return s;
  s.cutMode = kCutOn;
  switch (timing) {
    case cut_timing::kEveryPage: s.pagesPerCut = 1; break;
    case cut_timing::kLastPage: s.pagesPerCut = 0; break;
    case cut_timing::kInterval: s.pagesPerCut = interval; break;
    default: s.pagesPerCut = 0; break;
  }
  return s;
}

QualitySettings LoadQualitySettings(PrinterPort& printer) {
  const int32_t quality = ReadSigned(printer, setting::kPrintQuality, setting_default::kPrintQuality);
  const bool bidirectional = ReadFlag(printer, setting::kBidirectional, setting_default::kBidirectional);
  const bool bandingReduction = ReadFlag(printer, setting::kBandingReduction, setting_default::kBandingReduction);
  QualitySettings s;
  if (quality != 0) {
    s.printMode = kPrintModeQuality;
  } else {
    s.printMode = bandingReduction ? kPrintModeBandingReduction : kPrintModeSpeed;
  }
  s.direction = bidirectional ? kBidirectionalPrinting : kUnidirectionalPrinting;
  return s;
}

bool SaveMediaType(PrinterPort& printer, int32_t mediaIndex) {
  return WriteAll(printer, {{setting::kMediaType, static_cast<uint32_t>(mediaIndex)}});
}

bool SaveQualitySettings(PrinterPort& printer, int32_t quality, bool bidirectional, bool bandingReduction) {
  return WriteAll(printer, {{setting::kPrintQuality, static_cast<uint32_t>(quality)},
                            {setting::kBidirectional, FlagValue(bidirectional)},
                            {setting::kBandingReduction, FlagValue(bandingReduction)}});
}

bool SavePositionSettings(PrinterPort& printer, int32_t vOffset, int32_t hOffset, int32_t unit) {
  return WriteAll(printer, {{setting::kVOffset, static_cast<uint32_t>(vOffset)},
                            {setting::kHOffset, static_cast<uint32_t>(hOffset)},
                            {setting::kUnit, static_cast<uint32_t>(unit)}});
}

bool SaveErrorSettings(PrinterPort& printer, bool printErrors, bool forcePrinting) {
  return WriteAll(
      printer, {{setting::kPrintError, FlagValue(printErrors)}, {setting::kForcePrinting, FlagValue(forcePrinting)}});
}

bool SaveCutSettings(PrinterPort& printer, bool autoCut, int32_t cutTiming, int32_t cutInterval) {
  return WriteAll(printer, {{setting::kAutoCut, FlagValue(autoCut)},
                            {setting::kCutTiming, static_cast<uint32_t>(cutTiming)},
                            {setting::kCutInterval, static_cast<uint32_t>(cutInterval)}});
}

int32_t ReadSigned(PrinterPort& printer, std::u16string_view name, int32_t fallback) {
  return static_cast<int32_t>(ReadSetting(printer, name, static_cast<uint32_t>(fallback)));
}
