// The shared diagnostic log file in the common application-data folder.
#pragma once
#include "platform/log_sink.h"

class FileLog final : public LogSink {
 public:
  void WriteLogEntry(std::u16string_view message, std::u16string_view source) noexcept override;
};
