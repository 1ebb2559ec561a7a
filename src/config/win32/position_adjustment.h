// CPositionAdjustment: one line of the print position adjustment group, an
// edit box holding an offset and a label showing its range. The value lives in
// tenths of a millimetre and is shown in millimetres or inches.
#pragma once
#include <windows.h>

#include <cstdint>

#include "config/dialog_rules.h"

class CPositionAdjustment {
 public:
  explicit CPositionAdjustment(const PositionLimits& limits) noexcept;
  virtual ~CPositionAdjustment() = default;
  CPositionAdjustment(const CPositionAdjustment&) = delete;
  CPositionAdjustment& operator=(const CPositionAdjustment&) = delete;

  // False when either control is missing.
  [[nodiscard]] bool Attach(HWND editBox, HWND rangeLabel, int32_t tenths, int32_t unitShown) noexcept;
  // Shows the range and the value in the unit; false after reporting a failure.
  bool ShowValue(int32_t unitShown) noexcept;
  // Takes the edit box text over into the value, rounded and clamped.
  void ReadValue(int32_t unitShown) noexcept;
  // 1 when the notification was the edit box losing the focus (and the text
  // was taken over and shown again), 0 otherwise.
  INT_PTR OnEditNotify(WPARAM wParam, int32_t unitShown) noexcept;

  int32_t Value() const noexcept { return value_; }
  const PositionLimits& Limits() const noexcept { return limits_; }

 private:
  HWND editBox_ = nullptr;
  HWND rangeLabel_ = nullptr;
  PositionLimits limits_;
  int32_t value_ = 0;
};
