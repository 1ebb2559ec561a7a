#include <windows.h>

#include <string>

#include "platform/debug_output.h"

void WriteDebugOutput(std::u16string_view text) noexcept {
  try {
    const std::wstring terminated(text.begin(), text.end());
    OutputDebugStringW(terminated.c_str());
  } catch (...) {
    // A trace that cannot be built is dropped.
  }
}
