// The configuration dialog's procedure (dialog resource 101).
#pragma once
#include <windows.h>

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
