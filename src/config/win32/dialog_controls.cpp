#include "config/win32/dialog_controls.h"

HINSTANCE DialogInstance(HWND dialog) noexcept {
  return reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
}

bool LoadText(HINSTANCE instance, UINT id, TextBuffer& text) noexcept {
  text[0] = L'\0';
  return LoadStringW(instance, id, text.data(), static_cast<int>(text.size())) > 0;
}

bool SetLabel(HWND dialog, HINSTANCE instance, UINT stringId, int controlId) noexcept {
  TextBuffer text;
  if (!LoadText(instance, stringId, text)) return false;
  return SetDlgItemTextW(dialog, controlId, text.data()) != FALSE;
}

bool SwitchEnabled(HWND window, bool enable) noexcept {
  // EnableWindow answers whether the window was disabled before the call.
  const bool wasDisabled = EnableWindow(window, enable ? TRUE : FALSE) != FALSE;
  return enable ? wasDisabled : !wasDisabled;
}

void SwitchEnabledOrThrow(HWND window, bool enable) {
  if (!SwitchEnabled(window, enable)) throw SectionFailure{};
}

void SetChecked(HWND button, bool checked) noexcept {
  SendMessageW(button, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool IsChecked(HWND button) noexcept { return SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void ShowErrorBox(HWND owner, const wchar_t* text, const wchar_t* notOk) noexcept {
  if (MessageBoxW(owner, text, L"Error", MB_OK) != IDOK) OutputDebugStringW(notOk);
}
