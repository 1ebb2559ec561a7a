#include "config/win32/auto_cut.h"

#include "resources/resource_ids.h"
#include "config/dialog_rules.h"
#include "config/win32/dialog_controls.h"

namespace {

constexpr UINT kLabelStrings[] = {IDS_CUT_GROUP, IDS_AUTO_CUT, IDS_NO_AUTO_CUT, IDS_CUT_INTERVAL};
constexpr int kLabelControls[] = {IDC_CUT_GROUP, IDC_AUTO_CUT, IDC_NO_AUTO_CUT, IDC_CUT_INTERVAL_LABEL};
constexpr int kNoSelection = -1;

}  // namespace

bool CAutoCut::Init(HWND dialog, bool autoCut, int32_t timing, uint32_t interval) noexcept {
  try {
    const HINSTANCE instance = DialogInstance(dialog);
    autoCutButton_ = GetDlgItem(dialog, IDC_AUTO_CUT);
    noAutoCutButton_ = GetDlgItem(dialog, IDC_NO_AUTO_CUT);
    timingList_ = GetDlgItem(dialog, IDC_CUT_TIMING);
    intervalBox_ = GetDlgItem(dialog, IDC_CUT_INTERVAL);
    intervalLabel_ = GetDlgItem(dialog, IDC_CUT_INTERVAL_LABEL);

    for (size_t i = 0; i < std::size(kLabelStrings); ++i) {
      if (!SetLabel(dialog, instance, kLabelStrings[i], kLabelControls[i])) return false;
    }
    for (int32_t entry = 0; entry < cut_timing::kCount; ++entry) {
      TextBuffer text;
      if (!LoadText(instance, IDS_TIMING_FIRST + entry, text)) return false;
      if (SendMessageW(timingList_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.data())) == CB_ERR) return false;
    }

    timing_ = timing;
    SendMessageW(intervalBox_, EM_LIMITTEXT, kCutIntervalTextLimit, 0);
    interval_ = interval;

    if (autoCut) {
      SetChecked(autoCutButton_, true);
      autoCut_ = true;
      if (SendMessageW(timingList_, CB_SETCURSEL, static_cast<WPARAM>(timing), 0) == CB_ERR) return false;
      if (timing == cut_timing::kInterval) ShowInterval();
      return true;
    }
    SetChecked(noAutoCutButton_, true);
    autoCut_ = false;
    bool ok = true;
    try {
      ClearListSelection();
    } catch (const SectionFailure&) {
      ok = false;
    }
    // The interval box stays empty and disabled, whatever the timing.
    return SwitchEnabled(timingList_, false) && ok;
  } catch (...) {
    return false;
  }
}

bool CAutoCut::SelectAutoCut(bool on) noexcept {
  try {
    if (autoCut_ && !on) {
      const int32_t selection = ListSelection();
      timing_ = selection;
      ClearListSelection();
      SwitchEnabledOrThrow(timingList_, false);
      if (timing_ == cut_timing::kInterval) HideInterval();
    } else if (!autoCut_ && on) {
      SwitchEnabledOrThrow(timingList_, true);
      if (SendMessageW(timingList_, CB_SETCURSEL, static_cast<WPARAM>(timing_), 0) == CB_ERR) throw SectionFailure{};
      if (timing_ == cut_timing::kInterval) ShowInterval();
    }
    autoCut_ = on;
    return true;
  } catch (...) {
    OutputDebugStringW(L"CutTiming Settings Error");
    return false;
  }
}

bool CAutoCut::OnTimingChanged() noexcept {
  try {
    const int32_t selection = ListSelection();
    if (timing_ == cut_timing::kInterval && selection != cut_timing::kInterval) {
      HideInterval();
    } else if (timing_ != cut_timing::kInterval && selection == cut_timing::kInterval) {
      ShowInterval();
    }
    timing_ = selection;
    return true;
  } catch (...) {
    OutputDebugStringW(L"Cut Interval Settings Error");
    return false;
  }
}

INT_PTR CAutoCut::OnEditNotify(WPARAM wParam) noexcept {
  if (HIWORD(wParam) != EN_KILLFOCUS) return 0;
  try {
    ValidateInterval();
  } catch (...) {
    OutputDebugStringW(L"EditBox Error");
  }
  return 1;
}

bool CAutoCut::GetCutParameters(bool& autoCut, int32_t& timing, uint32_t& interval) noexcept {
  if (CutIntervalShown(autoCut_, timing_)) {
    try {
      ValidateInterval();
    } catch (...) {
      OutputDebugStringW(L"Get Cut Parameter failed");
      return false;
    }
  }
  autoCut = autoCut_;
  timing = timing_;
  interval = interval_;
  return true;
}

void CAutoCut::ShowInterval() {
  WriteInterval();
  SwitchEnabledOrThrow(intervalBox_, true);
  SwitchEnabledOrThrow(intervalLabel_, true);
}

void CAutoCut::HideInterval() {
  interval_ = GetDlgItemInt(GetParent(intervalBox_), IDC_CUT_INTERVAL, nullptr, FALSE);
  if (!SetWindowTextW(intervalBox_, L"")) throw SectionFailure{};
  SwitchEnabledOrThrow(intervalBox_, false);
  SwitchEnabledOrThrow(intervalLabel_, false);
}

void CAutoCut::ValidateInterval() {
  interval_ = ClampCutInterval(GetDlgItemInt(GetParent(intervalBox_), IDC_CUT_INTERVAL, nullptr, FALSE));
  WriteInterval();
}

int32_t CAutoCut::ListSelection() const {
  const auto selection = static_cast<int32_t>(SendMessageW(timingList_, CB_GETCURSEL, 0, 0));
  // No selection would be remembered as a timing the list cannot show again.
  if (!IsCutTiming(selection)) throw SectionFailure{};
  return selection;
}

void CAutoCut::ClearListSelection() const {
  if (SendMessageW(timingList_, CB_SETCURSEL, static_cast<WPARAM>(kNoSelection), 0) != CB_ERR) throw SectionFailure{};
}

void CAutoCut::WriteInterval() const {
  if (!SetDlgItemInt(GetParent(intervalBox_), IDC_CUT_INTERVAL, interval_, FALSE)) throw SectionFailure{};
}
