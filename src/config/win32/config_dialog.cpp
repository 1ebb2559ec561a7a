#include "config/win32/config_dialog.h"

#include <new>

#include "resources/resource_ids.h"
#include "config/dialog_rules.h"
#include "config/dialog_settings.h"
#include "config/win32/auto_cut.h"
#include "config/win32/dialog_controls.h"
#include "config/win32/position_adjustment.h"
#include "config/win32/print_settings.h"
#include "platform/win32/spooler_printer.h"

namespace {

constexpr INT_PTR kEndedByOk = 1;
constexpr INT_PTR kEndedByCancel = 2;

constexpr UINT kLabelStrings[] = {IDS_POSITION_GROUP, IDS_VERTICAL,     IDS_HORIZONTAL,
                                  IDS_UNIT,           IDS_PRINT_ERRORS, IDS_FORCE_PRINTING};
constexpr int kLabelControls[] = {IDC_POSITION_GROUP, IDC_VERTICAL_LABEL, IDC_HORIZONTAL_LABEL,
                                  IDC_UNIT_GROUP,     IDC_PRINT_ERRORS,   IDC_FORCE_PRINTING};

void EndWith(HWND dialog, INT_PTR result) noexcept {
  if (!EndDialog(dialog, result)) OutputDebugStringW(L"EndDialog failed\n");
}

void ShowInitialiseError(HWND dialog) noexcept { ShowErrorBox(dialog, L"Initialize Error", L"MessageBox Error\n"); }

CConfig* ConfigOf(HWND dialog) noexcept { return reinterpret_cast<CConfig*>(GetWindowLongPtrW(dialog, DWLP_USER)); }

}  // namespace

CConfig::CConfig() noexcept {
  vertical_ = new (std::nothrow) CPositionAdjustment(VerticalLimits());
  if (vertical_ != nullptr) {
    horizontal_ = new (std::nothrow) CPositionAdjustment(HorizontalLimits());
  }
  if (horizontal_ != nullptr) {
    autoCut_ = new (std::nothrow) CAutoCut(true, cut_timing::kEveryPage, kMinCutInterval);
  }
  if (autoCut_ != nullptr) printSettings_ = new (std::nothrow) CPrintSettings();
  if (printSettings_ == nullptr) {
    DestroySections();
    constructionFailed_ = true;
  }
}

CConfig::~CConfig() { DestroySections(); }

void CConfig::DestroySections() noexcept {
  delete vertical_;
  vertical_ = nullptr;
  delete horizontal_;
  horizontal_ = nullptr;
  delete autoCut_;
  autoCut_ = nullptr;
  delete printSettings_;
  printSettings_ = nullptr;
}

HANDLE& ConfigDialogPrinter() noexcept {
  static HANDLE printer = nullptr;
  return printer;
}

void CConfig::InitDialog(HWND dialog, HANDLE printer) noexcept {
  bool ok = false;
  try {
    ok = Initialise(dialog, printer);
  } catch (...) {
    ok = false;
  }
  if (ok) return;
  initialisationFailed_ = true;
  ShowInitialiseError(dialog);
  if (!PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0)) OutputDebugStringW(L"PostMessage Error");
}

bool CConfig::Initialise(HWND dialog, HANDLE printerHandle) {
  if (constructionFailed_) return false;
  printer_ = printerHandle;
  const HINSTANCE instance = DialogInstance(dialog);

  mediaList_ = GetDlgItem(dialog, IDC_MEDIA_LIST);
  millimetreButton_ = GetDlgItem(dialog, IDC_UNIT_MM);
  inchButton_ = GetDlgItem(dialog, IDC_UNIT_INCH);
  printErrorsBox_ = GetDlgItem(dialog, IDC_PRINT_ERRORS);
  forcePrintingBox_ = GetDlgItem(dialog, IDC_FORCE_PRINTING);

  TextBuffer caption;
  if (!LoadText(instance, IDS_CONFIG_CAPTION, caption) || !SetWindowTextW(dialog, caption.data())) return false;
  for (size_t i = 0; i < std::size(kLabelStrings); ++i) {
    if (!SetLabel(dialog, instance, kLabelStrings[i], kLabelControls[i])) return false;
  }

  SpoolerPrinter printer(printer_);
  const DialogStartValues stored = ReadDialogStartValues(printer);
  if (!printSettings_->Init(dialog, stored.mediaType, stored.printQuality, stored.bidirectional,
                            stored.bandingReduction)) {
    return false;
  }
  if (!autoCut_->Init(dialog, stored.autoCut, stored.cutTiming, stored.cutInterval)) return false;

  unit_ = stored.unit;
  SetChecked(unit_ == unit::kMillimetres ? millimetreButton_ : inchButton_, true);
  if (!vertical_->Attach(GetDlgItem(dialog, IDC_VERTICAL_EDIT), GetDlgItem(dialog, IDC_VERTICAL_RANGE), stored.vOffset,
                         unit_)) {
    return false;
  }
  if (!horizontal_->Attach(GetDlgItem(dialog, IDC_HORIZONTAL_EDIT), GetDlgItem(dialog, IDC_HORIZONTAL_RANGE),
                           stored.hOffset, unit_)) {
    return false;
  }

  const ForcePrintingBox force = ForcePrintingFor(stored.printErrors, stored.forcePrinting);
  SetChecked(printErrorsBox_, stored.printErrors);
  SetChecked(forcePrintingBox_, force.checked);
  if (!force.enabled && !SwitchEnabled(forcePrintingBox_, false)) return false;
  return true;
}

INT_PTR CConfig::OnCommand(HWND dialog, WPARAM wParam) noexcept {
  const int id = LOWORD(wParam);
  if (constructionFailed_ || initialisationFailed_) {
    if (id == IDCANCEL) EndWith(dialog, kEndedByCancel);
    return 0;
  }
  switch (id) {
    case IDOK:
      SaveSettings(dialog);
      EndWith(dialog, kEndedByOk);
      return 1;
    case IDCANCEL: EndWith(dialog, kEndedByCancel); return 1;
    case IDC_MEDIA_LIST:
      if (!printSettings_->OnMediaTypeChanged()) {
        OutputDebugStringW(L"MediaType Settings Error");
        CancelWithSettingsError(dialog);
      }
      return 1;
    case IDC_VERTICAL_EDIT: return vertical_->OnEditNotify(wParam, unit_);
    case IDC_HORIZONTAL_EDIT: return horizontal_->OnEditNotify(wParam, unit_);
    case IDC_UNIT_MM: ShowUnit(unit::kMillimetres); return 1;
    case IDC_UNIT_INCH: ShowUnit(unit::kInches); return 1;
    case IDC_PRINT_ERRORS: {
      const ForcePrintingBox force = ForcePrintingFor(IsChecked(printErrorsBox_), IsChecked(forcePrintingBox_));
      SetChecked(forcePrintingBox_, force.checked);
      EnableWindow(forcePrintingBox_, force.enabled);
      return 1;
    }
    case IDC_AUTO_CUT:
    case IDC_NO_AUTO_CUT:
    case IDC_CUT_TIMING: {
      const bool ok = id == IDC_CUT_TIMING ? autoCut_->OnTimingChanged() : autoCut_->SelectAutoCut(id == IDC_AUTO_CUT);
      if (!ok) {
        OutputDebugStringW(L"Auto Cut Settings Error");
        CancelWithSettingsError(dialog);
      }
      return 1;
    }
    case IDC_CUT_INTERVAL: return autoCut_->OnEditNotify(wParam);
    default: return 0;
  }
}

void CConfig::ShowUnit(int32_t unitShown) noexcept {
  vertical_->ShowValue(unitShown);
  horizontal_->ShowValue(unitShown);
  unit_ = unitShown;
}

void CConfig::OnHScroll() noexcept {
  if (constructionFailed_ || initialisationFailed_) return;
  printSettings_->OnQualityChanged();
}

void CConfig::SaveSettings(HWND dialog) noexcept {
  bool saved = false;
  try {
    DialogSaveValues values;
    values.mediaSelection = printSettings_->MediaSelection();
    if (!IsMediaIndex(values.mediaSelection)) OutputDebugStringW(L"MediaTYpe Settings Error\n");
    values.quality = printSettings_->SliderPosition();
    values.bidirectional = printSettings_->Bidirectional();
    values.bandingReduction = printSettings_->BandingReduction();
    vertical_->ReadValue(unit_);
    horizontal_->ReadValue(unit_);
    values.vOffset = vertical_->Value();
    values.hOffset = horizontal_->Value();
    values.unit = unit_;
    values.printErrors = IsChecked(printErrorsBox_);
    values.forcePrintingChecked = IsChecked(forcePrintingBox_);
    CutChoice cut;
    uint32_t interval = 0;
    if (autoCut_->GetCutParameters(cut.autoCut, cut.timing, interval)) {
      cut.interval = static_cast<int32_t>(interval);
      values.cut = cut;
    }
    SpoolerPrinter printer(printer_);
    saved = SaveDialogValues(printer, values);
  } catch (...) {
    saved = false;
  }
  if (!saved) ShowErrorBox(dialog, L"Config save failed", L"MessageBox Error\n");
}

void CConfig::CancelWithSettingsError(HWND dialog) noexcept {
  ShowErrorBox(dialog, L"Settings Error", L"MessageBox Error\n");
  if (!PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0)) OutputDebugStringW(L"Cancel failed");
}

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* config = new (std::nothrow) CConfig();
      if (config == nullptr) {
        // Without a controller nothing would answer Cancel: end the dialog here.
        ShowInitialiseError(dialog);
        EndWith(dialog, kEndedByCancel);
        return TRUE;
      }
      SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(config));
      config->InitDialog(dialog, ConfigDialogPrinter());
      return TRUE;
    }
    case WM_COMMAND: {
      CConfig* config = ConfigOf(dialog);
      return config == nullptr ? FALSE : config->OnCommand(dialog, wParam);
    }
    case WM_HSCROLL: {
      CConfig* config = ConfigOf(dialog);
      if (config == nullptr) return FALSE;
      config->OnHScroll();
      return TRUE;
    }
    case WM_DESTROY: {
      CConfig* config = ConfigOf(dialog);
      if (config == nullptr) return FALSE;
      delete config;
      SetWindowLongPtrW(dialog, DWLP_USER, 0);
      return TRUE;
    }
    default: return FALSE;
  }
}
