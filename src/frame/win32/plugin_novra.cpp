#include "frame/win32/plugin_novra.h"

#include <winspool.h>

#include <new>

#include "config/win32/config_dialog.h"
#include "frame/win32/module_state.h"
#include "output/win32/gdi_host_bitmap.h"
#include "platform/win32/spooler_printer.h"
#include "platform/win32/text_casts.h"
#include "platform/win32/unique_handle.h"
#include "resources/resource_ids.h"

namespace {

void ShowError(const wchar_t* text) noexcept {
  if (MessageBoxW(GetActiveWindow(), text, L"Error", MB_OK) != IDOK) OutputDebugStringW(L"MessageBox Error");
}

}  // namespace

std::unique_ptr<PrinterPort> SpoolerPortFactory::OpenPort(void* printerHandle) {
  return std::make_unique<SpoolerPrinter>(static_cast<HANDLE>(printerHandle));
}

PluginNOVRA::PluginNOVRA() noexcept { TraceCall(u"PluginNOVRA"); }

PluginNOVRA::~PluginNOVRA() { TraceCall(u"~PluginNOVRA"); }

void* PluginNOVRA::ScalarDeletingDestructor(unsigned int flags) noexcept {
  this->~PluginNOVRA();
  if ((flags & 1u) != 0) ::operator delete(this);
  return this;
}

int32_t PluginNOVRA::lpxConfigPlugin(const wchar_t* printerName) noexcept {
  TraceCall(u"lpxConfigPlugin");
  PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
  HANDLE opened = nullptr;
  if (printerName == nullptr || !OpenPrinterW(const_cast<wchar_t*>(printerName), &opened, &defaults)) {
    ShowError(L"Cannot open the printer");
    return 1;
  }
  UniquePrinter printer(opened);
  module_state::ConfigPrinterHandle() = printer.get();
  const INT_PTR ended = DialogBoxParamW(module_state::ModuleHandle(), MAKEINTRESOURCEW(IDD_CONFIG), GetActiveWindow(),
                                        ConfigDialogProc, 0);
  if (ended <= 0) {
    OutputDebugStringW(L"DialogBoxError");
    ShowError(L"Cannot Open Dialog");
  }
  module_state::ConfigPrinterHandle() = nullptr;
  return 0;
}

void PluginNOVRA::lpxInitialize(HANDLE printer, const void* jobRecord, const void* extraRecord) noexcept {
  protocol_.lpxInitialize(printer, jobRecord, extraRecord);
}

bool PluginNOVRA::lpxSendBitmap(HDC dc, HBITMAP bitmap, const char* name) noexcept {
  // Without a device context or a bitmap there is no host bitmap to read.
  GdiHostBitmap source(dc, bitmap);
  return protocol_.lpxSendBitmap(dc != nullptr && bitmap != nullptr ? &source : nullptr, name);
}

bool PluginNOVRA::lpxCreateNewPage() noexcept { return protocol_.lpxCreateNewPage(); }

bool PluginNOVRA::lpxReferToBaseBitmap(const DotPoint* position) noexcept {
  return protocol_.lpxReferToBaseBitmap(position);
}

bool PluginNOVRA::lpxReferToVariableBitmap(const char* name, const DotPoint* position) noexcept {
  return protocol_.lpxReferToVariableBitmap(name, position);
}

bool PluginNOVRA::lpxCloseNewPageStatic(int32_t copies) noexcept { return protocol_.lpxCloseNewPageStatic(copies); }

bool PluginNOVRA::lpxCloseNewPageDynamic(int32_t labelsUsed) noexcept {
  return protocol_.lpxCloseNewPageDynamic(labelsUsed);
}

bool PluginNOVRA::lpxCloseNewPageFinal() noexcept { return protocol_.lpxCloseNewPageFinal(); }

bool PluginNOVRA::lpxWritePrintJobHeader(const void* header) noexcept {
  return protocol_.lpxWritePrintJobHeader(header);
}

bool PluginNOVRA::lpxAddEmptyPage() noexcept { return protocol_.lpxAddEmptyPage(); }

bool PluginNOVRA::lpxReferToEndLabel(const DotPoint* position) noexcept {
  return protocol_.lpxReferToEndLabel(position);
}

bool PluginNOVRA::lpxReferToStartLabel(const DotPoint* position) noexcept {
  return protocol_.lpxReferToStartLabel(position);
}

bool PluginNOVRA::lpxWriteText(const void*) noexcept { return protocol_.lpxWriteText(); }

bool PluginNOVRA::lpxReferToBarcode(const wchar_t*, const void*) noexcept { return protocol_.lpxReferToBarcode(); }

bool PluginNOVRA::lpxWriteRFID(const void*) noexcept { return protocol_.lpxWriteRFID(); }

bool PluginNOVRA::lpxWriteClock(const wchar_t* text, const DotPoint* position, int32_t fontHeight,
                                const wchar_t* faceName) noexcept {
  return protocol_.lpxWriteClock(AsU16(text), position, fontHeight, AsU16(faceName));
}

void PluginNOVRA::lpxSendLayoutData(int32_t rotation, int32_t value2, int32_t value3, int32_t horizontalPitch,
                                    int32_t verticalPitch, int32_t value6, int32_t value7, int32_t value8,
                                    int32_t value9, int32_t value10, int32_t labelColumns, int32_t labelRows,
                                    uint8_t value13) noexcept {
  protocol_.lpxSendLayoutData(LayoutData{rotation, value2, value3, horizontalPitch, verticalPitch, value6, value7,
                                         value8, value9, value10, labelColumns, labelRows, value13});
}

bool PluginNOVRA::lpxEject(const void*) noexcept { return protocol_.lpxEject(); }

bool PluginNOVRA::lpxClear() noexcept { return protocol_.lpxClear(); }

bool PluginNOVRA::lpxWritePrinter() noexcept { return protocol_.lpxWritePrinter(); }

extern "C" IPlugin* CreatePluginObject() noexcept { return new (std::nothrow) PluginNOVRA(); }

extern "C" void DeletePluginObject(IPlugin* object) noexcept {
  if (object != nullptr) object->ScalarDeletingDestructor(1);
}
