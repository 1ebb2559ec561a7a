// The debugger output channel for diagnostics the user never sees. On Windows
// it is OutputDebugStringW; native tests link a recorder in its place.
#pragma once
#include <string_view>

void WriteDebugOutput(std::u16string_view text) noexcept;
