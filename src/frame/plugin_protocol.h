// PluginProtocol: the host call protocol of the plug-in object, free of any
// platform type. It decides everything about a host call: the trace, whether
// the call state accepts it, the checks of the host's arguments with their
// codes, the work on the job engine, the log line and the Failed state of a
// failure, and the next call state. The Windows object only translates its
// arguments and forwards each call here. Nothing ever throws out of it.
#pragma once
#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string_view>

#include "engine/print_control.h"
#include "frame/plugin_state.h"
#include "platform/clock.h"
#include "platform/host_bitmap.h"
#include "platform/log_sink.h"
#include "platform/printer_port.h"
#include "platform/text_renderer.h"

inline constexpr size_t kHostJobRecordSize = 228;
inline constexpr size_t kHostExtraRecordSize = 1308;
inline constexpr size_t kResolutionOffset = 90;

// Opens the printer port of a job from the host's printer handle, which the
// protocol only carries and never reads. Called once, when the job engine is made.
class PrinterPortFactory {
 public:
  virtual ~PrinterPortFactory() = default;
  virtual std::unique_ptr<PrinterPort> OpenPort(void* printerHandle) = 0;
};

// Sends "<name>(): start\n" to the debugger output.
void TraceCall(std::u16string_view name) noexcept;

class PluginProtocol {
 public:
  PluginProtocol(PrinterPortFactory& ports, Clock& clock, TextRenderer& text, LogSink& log) noexcept
      : ports_(ports), clock_(clock), text_(text), log_(log) {}
  PluginProtocol(const PluginProtocol&) = delete;
  PluginProtocol& operator=(const PluginProtocol&) = delete;

  void lpxInitialize(void* printer, const void* jobRecord, const void* extraRecord) noexcept;
  // `bitmap` is null when the host gave no bitmap or no device context.
  bool lpxSendBitmap(HostBitmap* bitmap, const char* name) noexcept;
  bool lpxCreateNewPage() noexcept;
  bool lpxReferToBaseBitmap(const DotPoint* position) noexcept;
  bool lpxReferToVariableBitmap(const char* name, const DotPoint* position) noexcept;
  bool lpxCloseNewPageStatic(int32_t copies) noexcept;
  bool lpxCloseNewPageDynamic(int32_t labelsUsed) noexcept;
  bool lpxCloseNewPageFinal() noexcept;
  bool lpxWritePrintJobHeader(const void* header) noexcept;
  bool lpxAddEmptyPage() noexcept;
  bool lpxReferToEndLabel(const DotPoint* position) noexcept;
  bool lpxReferToStartLabel(const DotPoint* position) noexcept;
  bool lpxWriteText() noexcept;
  bool lpxReferToBarcode() noexcept;
  bool lpxWriteRFID() noexcept;
  bool lpxWriteClock(const char16_t* text, const DotPoint* position, int32_t fontHeight,
                     const char16_t* faceName) noexcept;
  void lpxSendLayoutData(const LayoutData& layout) noexcept;
  bool lpxEject() noexcept;
  bool lpxClear() noexcept;
  bool lpxWritePrinter() noexcept;

  PluginState State() const noexcept { return state_; }
  const CPrintControl* Engine() const noexcept { return engine_.get(); }
  const std::array<uint8_t, kHostJobRecordSize>& JobRecord() const noexcept { return jobRecord_; }
  const std::array<uint8_t, kHostExtraRecordSize>& ExtraRecord() const noexcept { return extraRecord_; }

 private:
  // Trace, state check, then `work` (argument checks and the engine's work,
  // one returned code); a nonzero code or an exception ends in Fail.
  template <typename Work>
  bool Run(std::u16string_view name, std::initializer_list<PluginState> accepted, std::optional<PluginState> onSuccess,
           Work&& work) noexcept;
  bool Accepts(std::initializer_list<PluginState> accepted) const noexcept;
  void Fail(ResultCode code, std::u16string_view name) noexcept;
  void EnterFailed() noexcept;
  // The job engine of the first successful initialisation, with that call's
  // resolution. Every initialisation starts a new job on it through the
  // printer handle of that call.
  void StartEngineJob(void* printer, const void* jobRecord);

  PrinterPortFactory& ports_;
  Clock& clock_;
  TextRenderer& text_;
  LogSink& log_;
  std::array<uint8_t, kHostJobRecordSize> jobRecord_{};
  std::array<uint8_t, kHostExtraRecordSize> extraRecord_{};
  // The port outlives the engine that writes to it: declared first, destroyed last.
  std::unique_ptr<PrinterPort> printer_;
  std::unique_ptr<CPrintControl> engine_;
  PluginState state_ = PluginState::Created;
};
