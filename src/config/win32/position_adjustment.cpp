#include "config/win32/position_adjustment.h"

#include <string>

#include "config/win32/dialog_controls.h"
#include "platform/win32/text_casts.h"

CPositionAdjustment::CPositionAdjustment(const PositionLimits& limits) noexcept : limits_(limits) {}

bool CPositionAdjustment::Attach(HWND editBox, HWND rangeLabel, int32_t tenths, int32_t unitShown) noexcept {
  if (editBox == nullptr || rangeLabel == nullptr) return false;
  editBox_ = editBox;
  rangeLabel_ = rangeLabel;
  value_ = tenths;
  SendMessageW(editBox_, EM_LIMITTEXT, static_cast<WPARAM>(limits_.textLimit), 0);
  ShowValue(unitShown);
  return true;
}

bool CPositionAdjustment::ShowValue(int32_t unitShown) noexcept {
  bool shown = false;
  try {
    const std::u16string range = RangeText(unitShown, limits_);
    const std::u16string value = ValueText(value_, unitShown, limits_);
    shown = SetWindowTextW(rangeLabel_, AsWide(range.c_str())) != FALSE &&
            SetWindowTextW(editBox_, AsWide(value.c_str())) != FALSE;
  } catch (...) {
    shown = false;
  }
  if (shown) return true;
  ShowErrorBox(GetActiveWindow(), L"Change Unit Error", L"MessageBox Error");
  OutputDebugStringW(L"Change Unit Error");
  return false;
}

void CPositionAdjustment::ReadValue(int32_t unitShown) noexcept {
  TextBuffer text{};
  const int length = GetWindowTextW(editBox_, text.data(), static_cast<int>(text.size()));
  const std::u16string_view typed(AsU16(text.data()), length > 0 ? length : 0);
  try {
    value_ = TenthsFromText(typed, unitShown, limits_);
  } catch (...) {
    // Out of memory while reading a few characters: keep the last good value.
  }
}

INT_PTR CPositionAdjustment::OnEditNotify(WPARAM wParam, int32_t unitShown) noexcept {
  if (HIWORD(wParam) != EN_KILLFOCUS) return 0;
  ReadValue(unitShown);
  ShowValue(unitShown);
  return 1;
}
