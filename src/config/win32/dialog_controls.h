// Small helpers the configuration dialog and its sections share: string
// loading, label setting, the enable-state check, message boxes and the
// error that internal steps raise.
#pragma once
#include <windows.h>

#include <array>

// Raised by a section's internal step; the calling operation turns it into false.
struct SectionFailure {};

using TextBuffer = std::array<wchar_t, 256>;

HINSTANCE DialogInstance(HWND dialog) noexcept;
// Loads a string of the dialog's module; false when it is missing or empty.
[[nodiscard]] bool LoadText(HINSTANCE instance, UINT id, TextBuffer& text) noexcept;
// Loads a string and sets it as the text of a control; false when either fails.
[[nodiscard]] bool SetLabel(HWND dialog, HINSTANCE instance, UINT stringId, int controlId) noexcept;

// Enables or disables a window and reports whether it really changed state:
// disabling a disabled window or enabling an enabled one is a failure.
[[nodiscard]] bool SwitchEnabled(HWND window, bool enable) noexcept;
// The same, raising SectionFailure instead of returning false.
void SwitchEnabledOrThrow(HWND window, bool enable);

void SetChecked(HWND button, bool checked) noexcept;
[[nodiscard]] bool IsChecked(HWND button) noexcept;

// A plain OK box captioned "Error"; `notOk` goes to the debugger output when
// the box does not answer IDOK.
void ShowErrorBox(HWND owner, const wchar_t* text, const wchar_t* notOk) noexcept;
