// The library-wide values: the module handle kept at process attach, and the
// printer handle the configuration dialog works on while it is open.
#pragma once
#include <windows.h>

namespace module_state {
HINSTANCE& ModuleHandle() noexcept;
HANDLE& ConfigPrinterHandle() noexcept;
}  // namespace module_state
