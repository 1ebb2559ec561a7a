// Reports a failed operation's code to the diagnostic log as "ERROR: <code>"
// under the operation's name.
#pragma once
#include <cstdint>
#include <string_view>

#include "platform/bounded_format.h"
#include "platform/log_sink.h"

inline constexpr size_t kErrorMessageChars = 256;

FormatStatus ReportError(LogSink& log, int32_t code, std::u16string_view source) noexcept;
