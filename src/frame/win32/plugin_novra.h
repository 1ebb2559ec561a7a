// PluginNOVRA: the plug-in object. Checks the call state and the host's
// arguments, forwards the work to the job engine and turns every failure into
// a logged code, the Failed state and a false result. Nothing ever throws
// towards the host.
#pragma once
#include <windows.h>

#include <array>
#include <memory>
#include <optional>

#include "engine/print_control.h"
#include "frame/plugin_state.h"
#include "frame/win32/file_log.h"
#include "frame/win32/iplugin.h"
#include "output/win32/gdi_text_renderer.h"
#include "platform/win32/spooler_printer.h"
#include "platform/win32/system_clock.h"

inline constexpr size_t kHostJobRecordSize = 228;
inline constexpr size_t kHostExtraRecordSize = 1308;
inline constexpr size_t kResolutionOffset = 90;

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

  PluginState State() const noexcept { return state_; }
  const CPrintControl* Engine() const noexcept { return engine_.get(); }

 private:
  template <typename Work>
  bool Run(const wchar_t* name, std::initializer_list<PluginState> accepted, std::optional<PluginState> onSuccess,
           Work&& work) noexcept;
  void Fail(ResultCode code, const wchar_t* name) noexcept;
  bool Accepts(std::initializer_list<PluginState> accepted) const noexcept;

  std::array<uint8_t, kHostJobRecordSize> jobRecord_{};
  std::array<uint8_t, kHostExtraRecordSize> extraRecord_{};
  // The engine's services outlive the engine: declared first, destroyed last.
  SystemClock clock_;
  GdiTextRenderer text_;
  FileLog log_;
  std::unique_ptr<SpoolerPrinter> printer_;
  std::unique_ptr<CPrintControl> engine_;
  PluginState state_ = PluginState::Created;
};
