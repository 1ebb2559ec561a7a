// CAutoCut: the paper handling group of the configuration dialog, the auto
// cut radio buttons, the cut timing list and the cut interval box, kept
// consistent while the user edits.
#pragma once
#include <windows.h>

#include <cstdint>

class CAutoCut {
 public:
  CAutoCut(bool autoCut, int32_t timing, uint32_t interval) noexcept
      : autoCut_(autoCut), timing_(timing), interval_(interval) {}
  virtual ~CAutoCut() = default;
  CAutoCut(const CAutoCut&) = delete;
  CAutoCut& operator=(const CAutoCut&) = delete;

  [[nodiscard]] bool Init(HWND dialog, bool autoCut, int32_t timing, uint32_t interval) noexcept;
  [[nodiscard]] bool SelectAutoCut(bool on) noexcept;
  [[nodiscard]] bool OnTimingChanged() noexcept;
  INT_PTR OnEditNotify(WPARAM wParam) noexcept;
  [[nodiscard]] bool GetCutParameters(bool& autoCut, int32_t& timing, uint32_t& interval) noexcept;

 private:
  void ShowInterval();
  void HideInterval();
  void ValidateInterval();
  int32_t ListSelection() const;
  void ClearListSelection() const;
  void WriteInterval() const;

  HWND autoCutButton_ = nullptr;
  HWND noAutoCutButton_ = nullptr;
  HWND timingList_ = nullptr;
  HWND intervalBox_ = nullptr;
  HWND intervalLabel_ = nullptr;
  bool autoCut_;
  int32_t timing_;
  uint32_t interval_;
};
