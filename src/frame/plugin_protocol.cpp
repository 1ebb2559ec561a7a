#include "frame/plugin_protocol.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "frame/report_error.h"
#include "platform/debug_output.h"

namespace {

constexpr std::u16string_view kHardwareClockMarker = u"###HWGEN###";
constexpr std::u16string_view kTraceSuffix = u"(): start\n";
constexpr size_t kTraceChars = 64;

using enum PluginState;

}  // namespace

void TraceCall(std::u16string_view name) noexcept {
  // Built on the stack: a trace never allocates, and a name too long for the
  // line is not traced at all.
  char16_t line[kTraceChars] = {};
  if (name.size() + kTraceSuffix.size() >= kTraceChars) return;
  std::copy(name.begin(), name.end(), line);
  std::copy(kTraceSuffix.begin(), kTraceSuffix.end(), line + name.size());
  WriteDebugOutput(std::u16string_view(line, name.size() + kTraceSuffix.size()));
}

bool PluginProtocol::Accepts(std::initializer_list<PluginState> accepted) const noexcept {
  return std::find(accepted.begin(), accepted.end(), state_) != accepted.end();
}

void PluginProtocol::Fail(ResultCode code, std::u16string_view name) noexcept {
  (void)ReportError(log_, static_cast<int32_t>(code), name);
  EnterFailed();
}

void PluginProtocol::EnterFailed() noexcept {
  // Every call is refused until a new initialisation, whose new job drops
  // what this one built and did not write (CPrintControl::BeginJob).
  state_ = Failed;
}

template <typename Work>
bool PluginProtocol::Run(std::u16string_view name, std::initializer_list<PluginState> accepted,
                         std::optional<PluginState> onSuccess, Work&& work) noexcept {
  TraceCall(name);
  if (!Accepts(accepted)) return false;
  ResultCode code = result::kOk;
  try {
    code = work();
  } catch (const std::bad_alloc&) {
    code = result::kOutOfMemory;  // the one failure that travels as an exception
  } catch (...) {
    EnterFailed();  // nothing known to report
    return false;
  }
  if (code != result::kOk) {
    Fail(code, name);
    return false;
  }
  if (onSuccess) state_ = *onSuccess;
  return true;
}

void PluginProtocol::StartEngineJob(void* printer, const void* jobRecord) {
  // Every job reads its settings through, and writes to, the handle the host
  // gave for it: a host may close the last job's handle once it is done.
  std::unique_ptr<PrinterPort> port = ports_.OpenPort(printer);
  if (!engine_) {
    int16_t resolution = 0;
    std::memcpy(&resolution, static_cast<const uint8_t*>(jobRecord) + kResolutionOffset, sizeof resolution);
    engine_ = std::make_unique<CPrintControl>(resolution, *port, JobServices{clock_, text_, log_});
  } else {
    engine_->BeginJob(*port);
  }
  printer_ = std::move(port);
}

void PluginProtocol::lpxInitialize(void* printer, const void* jobRecord, const void* extraRecord) noexcept {
  constexpr std::u16string_view kName = u"lpxInitialize";
  TraceCall(kName);
  if (printer == nullptr || jobRecord == nullptr || extraRecord == nullptr) {
    Fail(result::kBadArgument, kName);
    return;
  }
  try {
    StartEngineJob(printer, jobRecord);
  } catch (const std::bad_alloc&) {
    Fail(result::kOutOfMemory, kName);
    return;
  } catch (...) {
    EnterFailed();
    return;
  }
  std::memcpy(jobRecord_.data(), jobRecord, jobRecord_.size());
  std::memcpy(extraRecord_.data(), extraRecord, extraRecord_.size());
  state_ = Initialized;
}

bool PluginProtocol::lpxSendBitmap(HostBitmap* bitmap, const char* name) noexcept {
  return Run(u"lpxSendBitmap", {Ready, PageOpen}, std::nullopt, [&]() -> ResultCode {
    if (bitmap == nullptr || name == nullptr) return result::kBadArgument;
    return engine_->ReceiveBitmap(*bitmap, name);
  });
}

bool PluginProtocol::lpxCreateNewPage() noexcept {
  return Run(u"lpxCreateNewPage", {Ready}, PageOpen, [&]() -> ResultCode {
    engine_->CreateNewPage();
    return result::kOk;
  });
}

bool PluginProtocol::lpxReferToBaseBitmap(const DotPoint* position) noexcept {
  return Run(u"lpxReferToBaseBitmap", {PageOpen}, std::nullopt, [&]() -> ResultCode {
    if (position == nullptr) return result::kBadArgument;
    return engine_->ReferToBaseBitmap(*position);
  });
}

bool PluginProtocol::lpxReferToVariableBitmap(const char* name, const DotPoint* position) noexcept {
  return Run(u"lpxReferToVariableBitmap", {PageOpen}, std::nullopt, [&]() -> ResultCode {
    if (name == nullptr || position == nullptr) return result::kBadArgument;
    return engine_->ReferToVariableBitmap(*position, name);
  });
}

bool PluginProtocol::lpxCloseNewPageStatic(int32_t copies) noexcept {
  return Run(u"lpxCloseNewPageStatic", {PageOpen}, std::nullopt, [&]() -> ResultCode {
    // Too many copies is refused like too few: their empty formats would not fit the buffer.
    if (copies < 1 || copies > kMaxCopies) return result::kBadArgument;
    return engine_->CloseNewPageStatic(copies);
  });
}

bool PluginProtocol::lpxCloseNewPageDynamic(int32_t labelsUsed) noexcept {
  return Run(u"lpxCloseNewPageDynamic", {PageOpen}, std::nullopt, [&]() -> ResultCode {
    if (labelsUsed < 1) return result::kBadArgument;
    return engine_->CloseNewPageDynamic(labelsUsed);
  });
}

bool PluginProtocol::lpxCloseNewPageFinal() noexcept {
  return Run(u"lpxCloseNewPageFinal", {PageOpen}, Ready, [&] { return engine_->CloseNewPageFinal(); });
}

bool PluginProtocol::lpxWritePrintJobHeader(const void* header) noexcept {
  return Run(u"lpxWritePrintJobHeader", {Initialized}, Ready, [&]() -> ResultCode {
    if (header == nullptr) return result::kBadArgument;
    return engine_->WritePrintJobHeader(header);
  });
}

bool PluginProtocol::lpxAddEmptyPage() noexcept {
  return Run(u"lpxAddEmptyPage", {Ready}, std::nullopt, [&] { return engine_->AddEmptyPage(); });
}

bool PluginProtocol::lpxReferToEndLabel(const DotPoint* position) noexcept {
  return Run(u"lpxReferToEndLabel", {Ready}, std::nullopt, [&]() -> ResultCode {
    if (position == nullptr) return result::kBadArgument;
    return engine_->ReferToLabel(*position, kEndLabelName);
  });
}

bool PluginProtocol::lpxReferToStartLabel(const DotPoint* position) noexcept {
  return Run(u"lpxReferToStartLabel", {Ready}, std::nullopt, [&]() -> ResultCode {
    if (position == nullptr) return result::kBadArgument;
    return engine_->ReferToLabel(*position, kStartLabelName);
  });
}

bool PluginProtocol::lpxWriteText() noexcept {
  TraceCall(u"lpxWriteText");
  return false;
}

bool PluginProtocol::lpxReferToBarcode() noexcept {
  TraceCall(u"lpxReferToBarcode");
  return false;
}

bool PluginProtocol::lpxWriteRFID() noexcept {
  TraceCall(u"lpxWriteRFID");
  return false;
}

bool PluginProtocol::lpxWriteClock(const char16_t* text, const DotPoint* position, int32_t fontHeight,
                                   const char16_t* faceName) noexcept {
  // A clock the printer keeps itself is not drawn: refused without any trace
  // of failure, after the state and the arguments were found sound.
  const bool printerKeepsClock = state_ == PageOpen && text != nullptr && position != nullptr && faceName != nullptr &&
                                 std::u16string_view(text).find(kHardwareClockMarker) != std::u16string_view::npos;
  if (printerKeepsClock) {
    TraceCall(u"lpxWriteClock");
    return false;
  }
  return Run(u"lpxWriteClock", {PageOpen}, std::nullopt, [&]() -> ResultCode {
    if (text == nullptr || position == nullptr || faceName == nullptr) return result::kBadArgument;
    return engine_->WriteClock(text, *position, fontHeight, faceName);
  });
}

void PluginProtocol::lpxSendLayoutData(const LayoutData& layout) noexcept {
  TraceCall(u"lpxSendLayoutData");
  if (state_ != Ready) return;
  engine_->SetLayout(layout);
}

bool PluginProtocol::lpxEject() noexcept {
  TraceCall(u"lpxEject");
  return true;
}

bool PluginProtocol::lpxClear() noexcept {
  TraceCall(u"lpxClear");
  if (engine_) engine_->ClearImages();
  return true;
}

bool PluginProtocol::lpxWritePrinter() noexcept {
  return Run(u"lpxWritePrinter", {Ready, PageOpen}, std::nullopt, [&] { return engine_->SendToPrinter(); });
}
