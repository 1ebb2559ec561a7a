// The library-wide values: the module handle kept at process attach, and the
// printer handle the configuration dialog works on while it is open (kept by
// the dialog itself; named here for the code that opens it).
#pragma once
#include <windows.h>

#include "config/win32/config_dialog.h"

namespace module_state {
HINSTANCE& ModuleHandle() noexcept;
inline HANDLE& ConfigPrinterHandle() noexcept { return ConfigDialogPrinter(); }
}  // namespace module_state
