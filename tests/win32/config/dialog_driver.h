// Drives the modal configuration dialog in the Windows tests: a thread timer
// runs a script once the dialog is up and answers every "Error" message box
// with OK, recording its text.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct DialogRun {
  INT_PTR result = 0;
  std::vector<std::wstring> messages;  // texts of the message boxes, in order
  bool scriptRan = false;
};

// Calls `open` (which runs a modal dialog or the plug-in's configuration
// operation) while the driver watches this thread's windows; `script` gets the
// dialog once it is shown. The run gives up after a few seconds by ending the
// dialog with -7.
DialogRun DriveModal(const std::function<INT_PTR()>& open, const std::function<void(HWND)>& script);

// User actions, each producing the notifications the real control sends.
void Click(HWND dialog, int id);
void SelectInList(HWND dialog, int id, int index);
// Types a text into an edit box and moves the focus away from it.
void TypeAndLeave(HWND dialog, int id, const wchar_t* text);
void PressKey(HWND window, WPARAM key);

std::wstring TextOf(HWND dialog, int id);
bool IsEnabled(HWND dialog, int id);
bool IsCheckedBox(HWND dialog, int id);
int Selection(HWND dialog, int id);
int SliderPos(HWND dialog);
