// Job set-up: the job header's check against the
// printer's limits, the "PrintError"/"ForcePrinting" decisions and the set-up.
#include <algorithm>
#include <cstring>

#include "config/settings_store.h"
#include "engine/print_control.h"
#include "platform/bounded_format.h"
#include "platform/debug_output.h"

namespace {

constexpr size_t kHeaderWidthOffset = 0;
constexpr size_t kHeaderLengthOffset = 4;

int32_t ReadInt32(const void* record, size_t offset) {
  int32_t value = 0;
  std::memcpy(&value, static_cast<const uint8_t*>(record) + offset, sizeof value);
  return value;
}

void SetMessage(char16_t (&message)[kMessageChars], std::u16string_view text) {
  if (BoundedFormat(message, kMessageChars, text, {}) != kFormatOk) {
    WriteDebugOutput(u"StringCbPrintf Error\n");
  }
}

}  // namespace

bool CPrintControl::CheckJobHeader(char16_t (&message)[kMessageChars], DotSize& errorPageSize, char& cutMode,
                                   uint32_t& pagesPerCut) const {
  using namespace printer_limits;
  errorPageSize.height = kErrorPageLength;

  if (resolution_ != kResolution) {
    SetMessage(message, kMessageInvalidResolution);
    // The label's width measured at the printer's resolution. A resolution of 0
    // has no such width: the error page then takes the narrowest label.
    const int64_t width = resolution_ == 0 ? kMinWidth : int64_t{labelWidth_} * kResolution / resolution_;
    errorPageSize.width = static_cast<int32_t>(std::clamp<int64_t>(width, kMinWidth, kMaxWidth));
    return false;
  }

  bool sizeBad = false;
  if (labelWidth_ > kMaxWidth) {
    errorPageSize.width = kMaxWidth;
    sizeBad = true;
  } else if (labelWidth_ < kMinWidth) {
    errorPageSize.width = kMinWidth;
    sizeBad = true;
  } else {
    errorPageSize.width = labelWidth_;
  }
  if (sizeBad || labelLength_ < kMinLength || labelLength_ > kMaxLength) {
    SetMessage(message, kMessageInvalidPaperSize);
    return false;
  }

  if (cutMode == kCutOn && labelLength_ < kMinCutLength) {
    SetMessage(message, kMessageTooShortToCut);
    errorPageSize.width = labelWidth_;
    cutMode = kCutOff;
    pagesPerCut = 0;
    return false;
  }
  return true;
}

ResultCode CPrintControl::WritePrintJobHeader(const void* header) {
  using namespace printer_limits;
  const int32_t width = ReadInt32(header, kHeaderWidthOffset);
  const int32_t length = ReadInt32(header, kHeaderLengthOffset);
  labelWidth_ = width;
  labelLength_ = length;

  char16_t message[kMessageChars] = {};
  const CutSettings cut = LoadCutSettings(*printer_);
  char cutMode = cut.cutMode;
  uint32_t pagesPerCut = cut.pagesPerCut;
  DotSize errorPageSize;

  if (!CheckJobHeader(message, errorPageSize, cutMode, pagesPerCut)) {
    services_.log.WriteLogEntry(message, kHeaderSource);
    const ErrorSettings errors = LoadErrorSettings(*printer_);
    if (errors.printErrors) PrintErrorPage(message, errorPageSize, cutMode, pagesPerCut);
    if (!errors.forcePrinting) return result::kJobRefused;
    labelWidth_ = std::clamp(labelWidth_, kMinWidth, kMaxWidth);
    labelLength_ = std::clamp(labelLength_, kMinLength, kMaxLength);
  }

  headerWidth_ = width;
  headerLength_ = length;
  return AppendSetup(LabelSize(), cutMode, pagesPerCut);
}

ResultCode CPrintControl::AppendSetup(DotSize size, char cutMode, uint32_t pagesPerCut) {
  // "MediaType", then "PrintQuality", "Bi-d" and "BandR".
  const std::string_view media = MediaCode();
  const QualitySettings quality = LoadQualitySettings(*printer_);
  return command_.AppendJobSetup(size, media, cutMode, pagesPerCut, quality.printMode, quality.direction);
}
