#include "config/win32/config_dialog.h"

// Interim: the dialog arrives with the configuration work.
INT_PTR CALLBACK ConfigDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
