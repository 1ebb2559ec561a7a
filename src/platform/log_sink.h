// Where the core's failures go: one line of the shared diagnostic log per call.
// Writing never fails towards the caller.
#pragma once
#include <string_view>

class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void WriteLogEntry(std::u16string_view message, std::u16string_view source) noexcept = 0;
};
