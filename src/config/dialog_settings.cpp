#include "config/dialog_settings.h"

#include "config/dialog_rules.h"
#include "config/settings_store.h"

DialogStartValues ReadDialogStartValues(PrinterPort& printer) {
  DialogStartValues v;
  v.mediaType = ReadSigned(printer, setting::kMediaType, setting_default::kMediaType);
  v.printQuality = ReadSigned(printer, setting::kPrintQuality, setting_default::kPrintQuality);
  v.bidirectional = ReadFlag(printer, setting::kBidirectional, setting_default::kBidirectional);
  v.bandingReduction = ReadFlag(printer, setting::kBandingReduction, setting_default::kBandingReduction);
  v.autoCut = ReadFlag(printer, setting::kAutoCut, setting_default::kAutoCut);
  v.cutTiming = ReadSigned(printer, setting::kCutTiming, setting_default::kCutTiming);
  v.cutInterval = ReadSetting(printer, setting::kCutInterval, static_cast<uint32_t>(setting_default::kCutInterval));
  const PositionSettings position = LoadPositionSettings(printer);
  v.vOffset = position.vOffset;
  v.hOffset = position.hOffset;
  v.unit = position.unit;
  const ErrorSettings errors = LoadErrorSettings(printer);
  v.printErrors = errors.printErrors;
  v.forcePrinting = errors.forcePrinting;
  return v;
}

int32_t MediaIndexToSave(int32_t selection) {
  // Nothing selected (-1) would store a media the dialog then refuses to open
  // on; it is treated like a selection past the list's end.
  return IsMediaIndex(selection) ? selection : 0;
}

bool SaveDialogValues(PrinterPort& printer, const DialogSaveValues& values) {
  if (!SaveMediaType(printer, MediaIndexToSave(values.mediaSelection))) return false;
  if (!SaveQualitySettings(printer, values.quality, values.bidirectional, values.bandingReduction)) return false;
  if (!SavePositionSettings(printer, values.vOffset, values.hOffset, values.unit)) return false;
  if (!SaveErrorSettings(printer, values.printErrors,
                         SavedForcePrinting(values.printErrors, values.forcePrintingChecked))) {
    return false;
  }
  if (!values.cut) return false;
  return SaveCutSettings(printer, values.cut->autoCut, values.cut->timing, values.cut->interval);
}
