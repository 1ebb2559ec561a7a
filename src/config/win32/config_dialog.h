// The configuration dialog (resource 101): its procedure and CConfig, the
// controller of one dialog instance, which fills the controls from the
// printer's settings, hands notifications to the sections and saves on OK.
#pragma once
#include <windows.h>

#include <cstdint>

class CAutoCut;
class CPositionAdjustment;
class CPrintSettings;

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The printer the dialog opened next works on: whoever opens the dialog sets
// it before and clears it after (one dialog at a time). The procedure hands it
// to the dialog's controller.
HANDLE& ConfigDialogPrinter() noexcept;

class CConfig {
 public:
  CConfig() noexcept;
  virtual ~CConfig();
  CConfig(const CConfig&) = delete;
  CConfig& operator=(const CConfig&) = delete;

  // Fills the controls from the settings of `printer`, which the dialog then saves to.
  void InitDialog(HWND dialog, HANDLE printer) noexcept;
  INT_PTR OnCommand(HWND dialog, WPARAM wParam) noexcept;
  void OnHScroll() noexcept;
  void SaveSettings(HWND dialog) noexcept;
  void CancelWithSettingsError(HWND dialog) noexcept;

 private:
  [[nodiscard]] bool Initialise(HWND dialog, HANDLE printerHandle);
  void DestroySections() noexcept;
  void ShowUnit(int32_t unitShown) noexcept;

  HANDLE printer_ = nullptr;
  HWND mediaList_ = nullptr;
  HWND millimetreButton_ = nullptr;
  HWND inchButton_ = nullptr;
  HWND printErrorsBox_ = nullptr;
  HWND forcePrintingBox_ = nullptr;
  int32_t unit_ = 0;
  CPositionAdjustment* vertical_ = nullptr;
  CPositionAdjustment* horizontal_ = nullptr;
  CAutoCut* autoCut_ = nullptr;
  CPrintSettings* printSettings_ = nullptr;
  bool constructionFailed_ = false;
  // Set when the initialisation failed: the controls are half filled and the
  // dialog is on its way out, so their notifications are no longer acted on
  // (a focus notification from the media list would otherwise raise one
  // error box after another until the posted Cancel arrives).
  bool initialisationFailed_ = false;
};
