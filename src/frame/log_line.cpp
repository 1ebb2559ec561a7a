#include "frame/log_line.h"

bool BuildLogPaths(std::u16string_view commonAppData, LogPaths& paths) noexcept {
  // Each path extends the one before, so the file's path is the longest: when it
  // fits, both folders fit too.
  if (BoundedFormat(paths.vendorFolder, kLogPathChars, u"%s%s", {commonAppData, kLogVendorFolder}) != kFormatOk) {
    return false;
  }
  const std::u16string_view vendor(paths.vendorFolder);
  if (BoundedFormat(paths.productFolder, kLogPathChars, u"%s%s", {vendor, kLogProductFolder}) != kFormatOk) {
    return false;
  }
  const std::u16string_view product(paths.productFolder);
  return BoundedFormat(paths.file, kLogPathChars, u"%s\\%s%s", {product, kLogModuleName, kLogFileExtension}) ==
         kFormatOk;
}

bool BuildLogSettings(std::u16string_view filePath, LogSettings& settings) noexcept {
  settings.sizeLimit = kLogSizeLimit;
  if (BoundedFormat(settings.filePath, kLogPathChars, u"%s", {filePath}) != kFormatOk) return false;
  return BoundedFormat(settings.applicationTag, kLogTagChars, u"%s", {kLogApplicationTag}) == kFormatOk;
}

FormatStatus FormatLogBackupPath(char16_t (&backup)[kLogPathChars], std::u16string_view filePath) noexcept {
  return BoundedFormat(backup, kLogPathChars, kLogBackupFormat, {filePath});
}

FormatStatus FormatLogMessageText(char16_t* out, size_t capacity, std::u16string_view message) noexcept {
  return BoundedFormat(out, capacity, u"%s", {message});
}

FormatStatus FormatLogLine(char16_t* out, size_t capacity, const LocalTime& time, std::u16string_view tag,
                           std::u16string_view moduleName, std::u16string_view source,
                           std::u16string_view message) noexcept {
  return BoundedFormat(out, capacity, kLogLineFormat,
                       {time.year, time.month, time.day, time.hour, time.minute, time.second, time.milliseconds, tag,
                        moduleName, source, message});
}

bool LogNeedsRotation(uint64_t fileSize, uint32_t sizeLimit) noexcept {
  // size + reserve > limit, rearranged so that nothing can wrap around.
  if (sizeLimit < kLogLineReserve) return true;
  return fileSize > sizeLimit - kLogLineReserve;
}
