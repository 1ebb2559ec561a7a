// The library entry: keeps the module handle and traces attach and detach.
#include <windows.h>

#include "frame/win32/module_state.h"

namespace module_state {
HINSTANCE& ModuleHandle() noexcept {
  static HINSTANCE module = nullptr;
  return module;
}
}  // namespace module_state

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      module_state::ModuleHandle() = instance;
      OutputDebugStringW(L"QVR_PLUGIN_ZK-R41x0.dllInitializing!\n");
      break;
    case DLL_PROCESS_DETACH: OutputDebugStringW(L"QVR_PLUGIN_ZK-R41x0.dllTerminating!\n"); break;
    default: break;
  }
  return TRUE;
}
