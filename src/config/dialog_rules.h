// The configuration dialog's rules as plain functions from values to values:
// millimetre/inch conversion, rounding and clamping of the position
// adjustments, the cut interval limits, and which print controls are enabled
// and checked when. The dialog procedure only moves values between its
// controls and these functions.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "config/rounding.h"
#include "config/settings_store.h"

// ---- Shared vocabulary -----------------------------------------------------

namespace unit {
inline constexpr int32_t kMillimetres = 0;
inline constexpr int32_t kInches = 1;
}  // namespace unit

inline constexpr int32_t kPlainPaper = 0;

inline constexpr int32_t kSliderSpeed = 0;
inline constexpr int32_t kSliderQuality = 1;

inline constexpr uint32_t kMinCutInterval = 1;
inline constexpr uint32_t kMaxCutInterval = 255;
inline constexpr int32_t kCutIntervalTextLimit = 3;

// ---- Position adjustment ---------------------------------------------------

// The limits of one adjustment line, in tenths of a millimetre and in inches.
struct PositionLimits {
  int32_t textLimit = 0;
  int32_t maximum = 0;
  int32_t minimum = 0;
  double maximumInches = 0;
  double minimumInches = 0;
};

// Limits given in millimetres become whole tenths (halves away from zero);
// the inch limits are those tenths over 254.
PositionLimits MakePositionLimits(int32_t textLimit, double maximumMm, double minimumMm);
PositionLimits VerticalLimits();    // 7 characters, -1016.0 to 1016.0 mm
PositionLimits HorizontalLimits();  // 6 characters, -103.9 to 103.9 mm

// The leading decimal number of a text, the way the edit box is read: white
// space skipped, optional sign, digits with an optional full stop and
// fraction, optional exponent; conversion stops at the first character that
// does not fit. No leading number (or an empty text) gives 0. Never infinite
// or NaN: a number beyond the range of double saturates.
double ParseLeadingNumber(std::u16string_view text);

// The edit box text taken over into tenths of a millimetre, clamped to the limits.
int32_t TenthsFromText(std::u16string_view text, int32_t unitShown, const PositionLimits& limits);

// The edit box text for a value: "%.1f" mm unclamped, or "%.2f" inches clamped.
std::u16string ValueText(int32_t tenths, int32_t unitShown, const PositionLimits& limits);
// The range label: "(%.1f - %.1f)" mm or "(%.2f - %.2f)" inches.
std::u16string RangeText(int32_t unitShown, const PositionLimits& limits);

// ---- Auto cut --------------------------------------------------------------

// 0 becomes 1, anything above 255 becomes 255.
uint32_t ClampCutInterval(uint32_t interval);
bool IsCutTiming(int32_t timing);
// The interval box and its label are live only with auto cut on at timing 2.
bool CutIntervalShown(bool autoCut, int32_t timing);

// ---- Print settings --------------------------------------------------------

// What the quality slider and the banding reduction box show.
struct QualityControls {
  int32_t sliderPosition = kSliderSpeed;
  bool sliderEnabled = true;  // the slider together with its two labels
  bool bandingChecked = false;
  bool bandingEnabled = true;
};

bool IsMediaIndex(int32_t media);
// The controls as the dialog opens with stored media, quality and banding flag.
QualityControls QualityControlsAtStart(int32_t media, int32_t quality, bool bandingReduction);
// A different media was chosen: the slider goes back to Speed; any media but
// Plain Paper checks banding reduction again.
QualityControls QualityControlsForMedia(int32_t media);
// The slider was moved (only possible with media other than Plain Paper).
QualityControls QualityControlsForSlider(int32_t position, bool bandingChecked);

// ---- Error print-out -------------------------------------------------------

struct ForcePrintingBox {
  bool checked = false;
  bool enabled = true;
};
// Force printing is unchecked and disabled while error print-out is checked,
// and enabled with its own check state otherwise.
ForcePrintingBox ForcePrintingFor(bool printErrors, bool forceChecked);
// What is saved: never force printing together with error print-out.
bool SavedForcePrinting(bool printErrors, bool forceChecked);
