#include "frame/win32/plugin_novra.h"

#include <winspool.h>

#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "config/win32/config_dialog.h"
#include "frame/report_error.h"
#include "frame/win32/module_state.h"
#include "output/win32/gdi_host_bitmap.h"
#include "platform/win32/unique_handle.h"

namespace {

constexpr std::u16string_view kHardwareClockMarker = u"###HWGEN###";
constexpr int kConfigDialogId = 101;
constexpr const char* kStartLabel = "START01";
constexpr const char* kEndLabel = "END01";

using enum PluginState;

void Trace(const wchar_t* name) noexcept {
  wchar_t line[64] = {};
  std::wstring_view text(name);
  constexpr std::wstring_view kSuffix = L"(): start\n";
  if (text.size() + kSuffix.size() >= std::size(line)) return;
  std::wmemcpy(line, text.data(), text.size());
  std::wmemcpy(line + text.size(), kSuffix.data(), kSuffix.size());
  OutputDebugStringW(line);
}

void ShowError(const wchar_t* text) noexcept {
  if (MessageBoxW(GetActiveWindow(), text, L"Error", MB_OK) != IDOK) OutputDebugStringW(L"MessageBox Error");
}

}  // namespace

PluginNOVRA::PluginNOVRA() noexcept { Trace(L"PluginNOVRA"); }

PluginNOVRA::~PluginNOVRA() {
  Trace(L"~PluginNOVRA");
  engine_.reset();
}

void* PluginNOVRA::ScalarDeletingDestructor(unsigned int flags) noexcept {
  this->~PluginNOVRA();
  if ((flags & 1u) != 0) ::operator delete(this);
  return this;
}

bool PluginNOVRA::Accepts(std::initializer_list<PluginState> accepted) const noexcept {
  for (PluginState s : accepted) {
    if (s == state_) return true;
  }
  return false;
}

void PluginNOVRA::Fail(ResultCode code, const wchar_t* name) noexcept {
  (void)ReportError(log_, static_cast<int32_t>(code), AsU16(name));
  state_ = Failed;
}

template <typename Work>
bool PluginNOVRA::Run(const wchar_t* name, std::initializer_list<PluginState> accepted,
                      std::optional<PluginState> onSuccess, Work&& work) noexcept {
  Trace(name);
  if (!Accepts(accepted)) return false;
  try {
    ThrowIfFailed(work());
    if (onSuccess) state_ = *onSuccess;
    return true;
  } catch (ResultCode code) {
    Fail(code, name);
  } catch (const std::bad_alloc&) {
    Fail(result::kOutOfMemory, name);
  } catch (...) {
    state_ = Failed;
  }
  return false;
}

int32_t PluginNOVRA::lpxConfigPlugin(const wchar_t* printerName) noexcept {
  Trace(L"lpxConfigPlugin");
  PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
  HANDLE opened = nullptr;
  if (printerName == nullptr || !OpenPrinterW(const_cast<wchar_t*>(printerName), &opened, &defaults)) {
    ShowError(L"Cannot open the printer");
    return 1;
  }
  UniquePrinter printer(opened);
  module_state::ConfigPrinterHandle() = printer.get();
  const INT_PTR ended = DialogBoxParamW(module_state::ModuleHandle(), MAKEINTRESOURCEW(kConfigDialogId),
                                        GetActiveWindow(), ConfigDialogProc, 0);
  if (ended <= 0) {
    OutputDebugStringW(L"DialogBoxError");
    ShowError(L"Cannot Open Dialog");
  }
  module_state::ConfigPrinterHandle() = nullptr;
  return 0;
}

void PluginNOVRA::lpxInitialize(HANDLE printer, const void* jobRecord, const void* extraRecord) noexcept {
  constexpr const wchar_t* kName = L"lpxInitialize";
  Trace(kName);
  if (printer == nullptr || jobRecord == nullptr || extraRecord == nullptr) {
    Fail(result::kNullArgument, kName);
    return;
  }
  try {
    // Every job reads its settings through, and writes to, the handle the
    // host gave for it: a host may close the last job's handle.
    auto port = std::make_unique<SpoolerPrinter>(printer);
    if (!engine_) {
      int16_t resolution = 0;
      std::memcpy(&resolution, static_cast<const uint8_t*>(jobRecord) + kResolutionOffset, sizeof resolution);
      engine_ = std::make_unique<CPrintControl>(resolution, JobServices{*port, clock_, text_, log_});
    } else {
      engine_->BeginJob(*port);
    }
    printer_ = std::move(port);
  } catch (const std::bad_alloc&) {
    Fail(result::kOutOfMemory, kName);
    return;
  } catch (...) {
    state_ = Failed;
    return;
  }
  std::memcpy(jobRecord_.data(), jobRecord, jobRecord_.size());
  std::memcpy(extraRecord_.data(), extraRecord, extraRecord_.size());
  state_ = Initialized;
}

bool PluginNOVRA::lpxSendBitmap(HDC dc, HBITMAP bitmap, const char* name) noexcept {
  return Run(L"lpxSendBitmap", {Ready, PageOpen}, std::nullopt, [&]() -> ResultCode {
    if (dc == nullptr || bitmap == nullptr || name == nullptr) return result::kNullArgument;
    GdiHostBitmap source(dc, bitmap);
    ThrowIfFailed(engine_->image.SetSourceBitmap(source));
    engine_->imageName = name;
    return result::kOk;
  });
}

bool PluginNOVRA::lpxCreateNewPage() noexcept {
  return Run(L"lpxCreateNewPage", {Ready}, PageOpen, [&]() -> ResultCode {
    engine_->CreateNewPage();
    return result::kOk;
  });
}

bool PluginNOVRA::lpxReferToBaseBitmap(const DotPoint* position) noexcept {
  return Run(L"lpxReferToBaseBitmap", {PageOpen}, std::nullopt, [&]() -> ResultCode {
    if (position == nullptr) return result::kNullArgument;
    return engine_->ReferToBaseBitmap(position);
  });
}

bool PluginNOVRA::lpxReferToVariableBitmap(const char* name, const DotPoint* position) noexcept {
  return Run(L"lpxReferToVariableBitmap", {PageOpen}, std::nullopt, [&]() -> ResultCode {
    if (name == nullptr || position == nullptr) return result::kNullArgument;
    return engine_->ReferToVariableBitmap(position, name);
  });
}

bool PluginNOVRA::lpxCloseNewPageStatic(int32_t copies) noexcept {
  return Run(L"lpxCloseNewPageStatic", {PageOpen}, std::nullopt, [&]() -> ResultCode {
    if (copies < 1) return result::kNullArgument;
    return engine_->CloseNewPageStatic(copies);
  });
}

bool PluginNOVRA::lpxCloseNewPageDynamic(int32_t labelsUsed) noexcept {
  return Run(L"lpxCloseNewPageDynamic", {PageOpen}, std::nullopt, [&]() -> ResultCode {
    if (labelsUsed < 1) return result::kNullArgument;
    return engine_->CloseNewPageDynamic(labelsUsed);
  });
}

bool PluginNOVRA::lpxCloseNewPageFinal() noexcept {
  return Run(L"lpxCloseNewPageFinal", {PageOpen}, Ready, [&] { return engine_->CloseNewPageFinal(); });
}

bool PluginNOVRA::lpxWritePrintJobHeader(const void* header) noexcept {
  return Run(L"lpxWritePrintJobHeader", {Initialized}, Ready, [&]() -> ResultCode {
    if (header == nullptr) return result::kNullArgument;
    return engine_->WritePrintJobHeader(header);
  });
}

bool PluginNOVRA::lpxAddEmptyPage() noexcept {
  return Run(L"lpxAddEmptyPage", {Ready}, std::nullopt, [&] { return engine_->AddEmptyPage(); });
}

bool PluginNOVRA::lpxReferToEndLabel(const DotPoint* position) noexcept {
  return Run(L"lpxReferToEndLabel", {Ready}, std::nullopt, [&]() -> ResultCode {
    if (position == nullptr) return result::kNullArgument;
    return engine_->ReferToLabel(position, kEndLabel);
  });
}

bool PluginNOVRA::lpxReferToStartLabel(const DotPoint* position) noexcept {
  return Run(L"lpxReferToStartLabel", {Ready}, std::nullopt, [&]() -> ResultCode {
    if (position == nullptr) return result::kNullArgument;
    return engine_->ReferToLabel(position, kStartLabel);
  });
}

bool PluginNOVRA::lpxWriteText(const void*) noexcept {
  Trace(L"lpxWriteText");
  return false;
}

bool PluginNOVRA::lpxReferToBarcode(const wchar_t*, const void*) noexcept {
  Trace(L"lpxReferToBarcode");
  return false;
}

bool PluginNOVRA::lpxWriteRFID(const void*) noexcept {
  Trace(L"lpxWriteRFID");
  return false;
}

bool PluginNOVRA::lpxWriteClock(const wchar_t* text, const DotPoint* position, int32_t fontHeight,
                                const wchar_t* faceName) noexcept {
  constexpr const wchar_t* kName = L"lpxWriteClock";
  // A clock the printer keeps itself is not drawn: refused without any trace of failure.
  if (state_ == PageOpen && text != nullptr && position != nullptr && faceName != nullptr &&
      std::u16string_view(AsU16(text)).find(kHardwareClockMarker) != std::u16string_view::npos) {
    Trace(kName);
    return false;
  }
  return Run(kName, {PageOpen}, std::nullopt, [&]() -> ResultCode {
    if (text == nullptr || position == nullptr || faceName == nullptr) return result::kNullArgument;
    return engine_->WriteClock(AsU16(text), position, fontHeight, AsU16(faceName));
  });
}

void PluginNOVRA::lpxSendLayoutData(int32_t rotation, int32_t value2, int32_t value3, int32_t horizontalPitch,
                                    int32_t verticalPitch, int32_t value6, int32_t value7, int32_t value8,
                                    int32_t value9, int32_t value10, int32_t labelColumns, int32_t labelRows,
                                    uint8_t value13) noexcept {
  Trace(L"lpxSendLayoutData");
  if (state_ != Ready) return;
  engine_->layout = LayoutData{rotation, value2,  value3,  horizontalPitch, verticalPitch, value6,   value7,
                               value8,   value9,  value10, labelColumns,    labelRows,     value13};
}

bool PluginNOVRA::lpxEject(const void*) noexcept {
  Trace(L"lpxEject");
  return true;
}

bool PluginNOVRA::lpxClear() noexcept {
  Trace(L"lpxClear");
  if (engine_) engine_->ClearImages();
  return true;
}

bool PluginNOVRA::lpxWritePrinter() noexcept {
  return Run(L"lpxWritePrinter", {Ready, PageOpen}, std::nullopt,
             [&] { return engine_->command.SendToPrinter(*printer_); });
}

extern "C" IPlugin* CreatePluginObject() noexcept { return new (std::nothrow) PluginNOVRA(); }

extern "C" void DeletePluginObject(IPlugin* object) noexcept {
  if (object != nullptr) object->ScalarDeletingDestructor(1);
}
