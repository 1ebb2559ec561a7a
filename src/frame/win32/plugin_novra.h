// PluginNOVRA: the plug-in object the host calls through its 22 slots. A thin
// adapter: it turns the Win32 arguments into the core's (a GDI bitmap, UTF-16
// texts, the layout values) and forwards every call to the call protocol,
// which decides everything. Only the configuration dialog is its own work.
#pragma once
#include <windows.h>

#include "engine/print_control.h"
#include "frame/plugin_protocol.h"
#include "frame/win32/file_log.h"
#include "frame/win32/iplugin.h"
#include "output/win32/gdi_text_renderer.h"
#include "platform/win32/system_clock.h"

// Opens the spooler port of a job on the host's printer handle.
class SpoolerPortFactory final : public PrinterPortFactory {
 public:
  std::unique_ptr<PrinterPort> OpenPort(void* printerHandle) override;
};

class PluginNOVRA final : public IPlugin {
 public:
  PluginNOVRA() noexcept;
  ~PluginNOVRA();

  void* ScalarDeletingDestructor(unsigned int flags) noexcept override;
  int32_t lpxConfigPlugin(const wchar_t* printerName) noexcept override;
  void lpxInitialize(HANDLE printer, const void* jobRecord, const void* extraRecord) noexcept override;
  bool lpxSendBitmap(HDC dc, HBITMAP bitmap, const char* name) noexcept override;
  bool lpxCreateNewPage() noexcept override;
  bool lpxReferToBaseBitmap(const DotPoint* position) noexcept override;
  bool lpxReferToVariableBitmap(const char* name, const DotPoint* position) noexcept override;
  bool lpxCloseNewPageStatic(int32_t copies) noexcept override;
  bool lpxCloseNewPageDynamic(int32_t labelsUsed) noexcept override;
  bool lpxCloseNewPageFinal() noexcept override;
  bool lpxWritePrintJobHeader(const void* header) noexcept override;
  bool lpxAddEmptyPage() noexcept override;
  bool lpxReferToEndLabel(const DotPoint* position) noexcept override;
  bool lpxReferToStartLabel(const DotPoint* position) noexcept override;
  bool lpxWriteText(const void* unused) noexcept override;
  bool lpxReferToBarcode(const wchar_t* text, const void* unused) noexcept override;
  bool lpxWriteRFID(const void* unused) noexcept override;
  bool lpxWriteClock(const wchar_t* text, const DotPoint* position, int32_t fontHeight,
                     const wchar_t* faceName) noexcept override;
  void lpxSendLayoutData(int32_t rotation, int32_t value2, int32_t value3, int32_t horizontalPitch,
                         int32_t verticalPitch, int32_t value6, int32_t value7, int32_t value8, int32_t value9,
                         int32_t value10, int32_t labelColumns, int32_t labelRows, uint8_t value13) noexcept override;
  bool lpxEject(const void* unused) noexcept override;
  bool lpxClear() noexcept override;
  bool lpxWritePrinter() noexcept override;

 private:
  // The protocol's services outlive it: declared first, destroyed last.
  SystemClock clock_;
  GdiTextRenderer text_;
  FileLog log_;
  SpoolerPortFactory ports_;
  PluginProtocol protocol_{ports_, clock_, text_, log_};
};
