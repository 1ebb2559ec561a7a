// The per-printer settings store: twelve 32-bit values of printer data under
// one key, read afresh at every use (never cached) and written in fixed groups.
// Readers never fail: a value that cannot be read gives its default.
#pragma once
#include <cstdint>
#include <string_view>

#include "platform/printer_port.h"
#include "platform/units.h"

namespace setting {
inline constexpr std::u16string_view kMediaType = u"MediaType";
inline constexpr std::u16string_view kVOffset = u"VOffset";
inline constexpr std::u16string_view kHOffset = u"HOffset";
inline constexpr std::u16string_view kUnit = u"Unit";
inline constexpr std::u16string_view kPrintError = u"PrintError";
inline constexpr std::u16string_view kForcePrinting = u"ForcePrinting";
inline constexpr std::u16string_view kAutoCut = u"AutoCut";
inline constexpr std::u16string_view kCutTiming = u"CutTiming";
inline constexpr std::u16string_view kCutInterval = u"CutInterval";
inline constexpr std::u16string_view kPrintQuality = u"PrintQuality";
inline constexpr std::u16string_view kBidirectional = u"Bi-d";
inline constexpr std::u16string_view kBandingReduction = u"BandR";
}  // namespace setting

// The stored cut timing: when the printer cuts.
namespace cut_timing {
inline constexpr int32_t kEveryPage = 0;
inline constexpr int32_t kLastPage = 1;
inline constexpr int32_t kInterval = 2;  // after every "CutInterval" pages
inline constexpr int32_t kCount = 3;
}  // namespace cut_timing

// The media the printer knows, by the index stored as "MediaType".
inline constexpr int32_t kMediaCount = 6;

namespace setting_default {
inline constexpr int32_t kMediaType = 2;  // "Matte Paper2"
inline constexpr int32_t kOffset = 0;
inline constexpr int32_t kUnit = 0;  // millimetres
inline constexpr bool kPrintError = true;
inline constexpr bool kForcePrinting = false;
inline constexpr bool kAutoCut = true;
inline constexpr int32_t kCutTiming = cut_timing::kEveryPage;
inline constexpr int32_t kCutInterval = 1;
inline constexpr int32_t kPrintQuality = 0;  // speed
inline constexpr bool kBidirectional = true;
inline constexpr bool kBandingReduction = true;
}  // namespace setting_default
static_assert(setting_default::kMediaType >= 0 && setting_default::kMediaType < kMediaCount,
              "the default medium is one the printer knows");

inline constexpr char kCutOn = 'E';
inline constexpr char kCutOff = 'D';
inline constexpr char kBidirectionalPrinting = 'B';
inline constexpr char kUnidirectionalPrinting = 'U';

// The stored number, or `fallback` when it cannot be read.
uint32_t ReadSetting(PrinterPort& printer, std::u16string_view name, uint32_t fallback);
// The stored number read as signed, or `fallback` when it cannot be read.
int32_t ReadSigned(PrinterPort& printer, std::u16string_view name, int32_t fallback);
// A flag is set only when stored as exactly 1; `fallback` when unreadable.
bool ReadFlag(PrinterPort& printer, std::u16string_view name, bool fallback);

// Tenths of a millimetre to dots at `resolution` dots per inch, halves away from zero.
int32_t TenthsMmToDots(int64_t tenths, int32_t resolution);

struct PositionSettings {
  int32_t vOffset = 0;
  int32_t hOffset = 0;
  int32_t unit = 0;
};
// The stored print position adjustment in dots, added to every position placed.
struct PositionAdjustment {
  int32_t vertical = 0;
  int32_t horizontal = 0;
};
struct ErrorSettings {
  bool printErrors = setting_default::kPrintError;
  bool forcePrinting = setting_default::kForcePrinting;
};
struct CutSettings {
  char cutMode = kCutOff;
  uint32_t pagesPerCut = 0;
};
struct QualitySettings {
  int32_t printMode = 0;
  char direction = kBidirectionalPrinting;
};

int32_t LoadMediaType(PrinterPort& printer);
PositionSettings LoadPositionSettings(PrinterPort& printer);
PositionAdjustment LoadOffsetsInDots(PrinterPort& printer, int32_t resolution);
ErrorSettings LoadErrorSettings(PrinterPort& printer);
CutSettings LoadCutSettings(PrinterPort& printer);
QualitySettings LoadQualitySettings(PrinterPort& printer);

bool SaveMediaType(PrinterPort& printer, int32_t mediaIndex);
bool SaveQualitySettings(PrinterPort& printer, int32_t quality, bool bidirectional, bool bandingReduction);
bool SavePositionSettings(PrinterPort& printer, int32_t vOffset, int32_t hOffset, int32_t unit);
bool SaveErrorSettings(PrinterPort& printer, bool printErrors, bool forcePrinting);
bool SaveCutSettings(PrinterPort& printer, bool autoCut, int32_t cutTiming, int32_t cutInterval);
