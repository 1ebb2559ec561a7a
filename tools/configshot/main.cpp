// configshot DLL PRINTER OUTPUT.bmp
// Installs a raw printer (if missing), opens the configuration dialog through
// the plug-in's configuration operation (slot 1 of its table), and after a
// moment saves the dialog's pixels as a 24-bit BMP and cancels the dialog.
#include <windows.h>
#include <commctrl.h>
#include <winspool.h>

#include <cstdio>
#include <string>
#include <vector>

#include "spooler_setup.h"

namespace {

constexpr UINT kSettleMs = 1500;
constexpr int kConfigSlot = 1;

std::wstring g_output;
int g_exitCode = 2;

bool SaveWindowPixels(HWND window, const std::wstring& path) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);
  RECT frame{};
  GetWindowRect(window, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  const bool copied = BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY) != FALSE;
  SelectObject(memory, previous);

  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;  // bottom-up, as a BMP file stores it
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  std::vector<BYTE> pixels(static_cast<size_t>(stride) * height);
  const bool read = copied && GetDIBits(memory, bitmap, 0, height, pixels.data(),
                                        reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS) == height;
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (!read) return false;

  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  header.biSizeImage = static_cast<DWORD>(pixels.size());
  FILE* out = _wfopen(path.c_str(), L"wb");
  if (out == nullptr) return false;
  const bool written = fwrite(&file, sizeof file, 1, out) == 1 && fwrite(&header, sizeof header, 1, out) == 1 &&
                       fwrite(pixels.data(), 1, pixels.size(), out) == pixels.size();
  return fclose(out) == 0 && written;
}

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (std::wstring(name) == L"#32770" && IsWindowVisible(window) && GetDlgItem(window, 1001) != nullptr) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

void CALLBACK Capture(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
  if (dialog == nullptr) return;  // not up yet: try at the next tick
  KillTimer(nullptr, timer);
  g_exitCode = SaveWindowPixels(dialog, g_output) ? 0 : 3;
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fwprintf(stderr, L"usage: configshot DLL PRINTER OUTPUT.bmp\n");
    return 1;
  }
  g_output = argv[3];
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  if (!InstallRawPrinter(argv[2])) {
    std::fwprintf(stderr, L"configshot: cannot install printer %ls\n", argv[2]);
    return 1;
  }
  HMODULE plugin = LoadLibraryW(argv[1]);
  if (plugin == nullptr) {
    std::fwprintf(stderr, L"configshot: cannot load %ls\n", argv[1]);
    return 1;
  }
  using CreateFn = void* (*)();
  using DeleteFn = void (*)(void*);
  using ConfigFn = int32_t (*)(void* self, const wchar_t* printerName);
  const auto create = reinterpret_cast<CreateFn>(GetProcAddress(plugin, "CreatePluginObject"));
  const auto destroy = reinterpret_cast<DeleteFn>(GetProcAddress(plugin, "DeletePluginObject"));
  if (create == nullptr || destroy == nullptr) return 1;
  void* object = create();
  void** table = *static_cast<void***>(object);
  const auto config = reinterpret_cast<ConfigFn>(table[kConfigSlot]);
  SetTimer(nullptr, 0, kSettleMs, Capture);
  const int32_t answer = config(object, argv[2]);
  destroy(object);
  FreeLibrary(plugin);
  if (answer != 0) return 4;
  return g_exitCode;
}
