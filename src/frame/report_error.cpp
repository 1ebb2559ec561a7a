#include "frame/report_error.h"

FormatStatus ReportError(LogSink& log, int32_t code, std::u16string_view source) noexcept {
  char16_t message[kErrorMessageChars] = {};
  const FormatStatus status = BoundedFormat(message, kErrorMessageChars, u"ERROR: %d", {code});
  if (status != kFormatOk) return status;
  log.WriteLogEntry(message, source);
  return kFormatOk;
}
