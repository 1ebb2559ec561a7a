// The shared diagnostic log file in the common application-data folder: one
// line per entry, appended under the log mutex, rotated to a single backup.
// Every failure is silent: the line is then simply not written.
#pragma once
#include <windows.h>

#include <string_view>

#include "frame/log_line.h"
#include "platform/log_sink.h"

// How long a writer waits for the log mutex before it drops its line, so that
// a writer stuck while holding the lock cannot hang every process that logs.
inline constexpr DWORD kLogLockWaitMs = 5000;

class FileLog final : public LogSink {
 public:
  // Finds (creating its folders) the log file, then writes the line.
  void WriteLogEntry(std::u16string_view message, std::u16string_view source) noexcept override;
};

// Takes the log mutex (waiting at most kLogLockWaitMs), formats the message and
// appends its line.
void FormatLogMessage(const LogSettings* settings, std::u16string_view moduleName, std::u16string_view source,
                      std::u16string_view message) noexcept;

// Rotates the file if it is full and appends one line. The caller holds the log mutex.
void AppendLogLine(const LogSettings* settings, std::u16string_view moduleName, std::u16string_view source,
                   std::u16string_view message) noexcept;
