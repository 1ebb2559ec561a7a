// The diagnostic log's portable rules: the fixed names, where the file lives,
// how one line reads, how long its parts may be, and when the file rotates.
// The Windows side (frame/win32/file_log) does the folder, file and mutex work.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/bounded_format.h"
#include "platform/clock.h"

inline constexpr std::u16string_view kLogModuleName = u"QVR_PLUGIN_ZK-R41x0";
inline constexpr std::u16string_view kLogApplicationTag = u"NOVRA_QVR";
inline constexpr std::u16string_view kLogVendorFolder = u"\\NOVRA";
inline constexpr std::u16string_view kLogProductFolder = u"\\NOVRA_QVR";
inline constexpr std::u16string_view kLogFileExtension = u".log";
inline constexpr std::u16string_view kLogBackupFormat = u"%s.bak";
inline constexpr std::u16string_view kLogMutexName = u"NOVRA_ZK-R2200";
inline constexpr std::u16string_view kLogLineFormat = u"%04d/%02d/%02d %02d:%02d:%02d.%03d,%s,%s,%s,%s";

inline constexpr uint32_t kLogSizeLimit = 0x500000;  // 5 MiB
// Room kept free for the next line: a file rotates once size + reserve exceeds the limit.
inline constexpr uint32_t kLogLineReserve = 4096;

// Capacities in UTF-16 units, terminator included.
inline constexpr size_t kLogPathChars = 260;
inline constexpr size_t kLogTagChars = 260;
inline constexpr size_t kLogMessageChars = 1664;
inline constexpr size_t kLogLineChars = 2048;
// The line after conversion to the ANSI code page, in bytes (the least the writer obtains).
inline constexpr size_t kLogConvertedLineBytes = 4096;

// What one line is written with; built afresh for every line.
struct LogSettings {
  uint32_t sizeLimit = kLogSizeLimit;
  char16_t filePath[kLogPathChars] = {};
  char16_t applicationTag[kLogTagChars] = {};
};

// The two folders (outermost first) and the file, as full paths.
struct LogPaths {
  char16_t vendorFolder[kLogPathChars] = {};
  char16_t productFolder[kLogPathChars] = {};
  char16_t file[kLogPathChars] = {};
};

// Works out the folders and the file below the common application-data folder.
// False when the file's path would not fit its 259 characters.
[[nodiscard]] bool BuildLogPaths(std::u16string_view commonAppData, LogPaths& paths) noexcept;

// Fills the settings for the file at `filePath`; false when the path does not fit.
[[nodiscard]] bool BuildLogSettings(std::u16string_view filePath, LogSettings& settings) noexcept;

// The backup's name, "<file>.bak"; kFormatTruncated (with a cut name that must
// not be used) when it does not fit the 260-unit buffer.
[[nodiscard]] FormatStatus FormatLogBackupPath(char16_t (&backup)[kLogPathChars],
                                               std::u16string_view filePath) noexcept;

// The message of one line, cut at 1663 characters. The message is copied as
// text, never read as a format, so a '%' in it arrives unchanged.
FormatStatus FormatLogMessageText(char16_t* out, size_t capacity, std::u16string_view message) noexcept;

// One line without its CR LF, cut at `capacity` - 1 characters (2047 for the
// line buffer); a cut line is still meant to be written.
FormatStatus FormatLogLine(char16_t* out, size_t capacity, const LocalTime& time, std::u16string_view tag,
                           std::u16string_view moduleName, std::u16string_view source,
                           std::u16string_view message) noexcept;

// True when a file of `fileSize` bytes must be rotated before the next line:
// size + reserve > limit, without overflow for any size.
[[nodiscard]] bool LogNeedsRotation(uint64_t fileSize, uint32_t sizeLimit) noexcept;
