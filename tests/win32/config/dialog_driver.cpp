#include "win32/config/dialog_driver.h"

#include <commctrl.h>

#include <set>

namespace {

constexpr UINT kTickMs = 25;
constexpr int kGiveUpTicks = 400;
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr int kMediaListId = 1001;

struct DriverState {
  const std::function<void(HWND)>* script = nullptr;
  DialogRun* run = nullptr;
  std::set<HWND> answered;
  int ticks = 0;
  bool inScript = false;
};
DriverState* g_state = nullptr;

bool IsDialogClass(HWND window) {
  wchar_t name[32] = {};
  GetClassNameW(window, name, 32);
  return std::wstring(name) == L"#32770";
}

BOOL CALLBACK VisitWindow(HWND window, LPARAM) {
  DriverState& state = *g_state;
  if (!IsDialogClass(window) || !IsWindowVisible(window)) return TRUE;
  wchar_t caption[64] = {};
  GetWindowTextW(window, caption, 64);
  if (std::wstring(caption) == L"Error" && GetDlgItem(window, kMediaListId) == nullptr) {
    if (state.answered.insert(window).second) {
      wchar_t text[256] = {};
      GetDlgItemTextW(window, kMessageBoxTextId, text, 256);
      state.run->messages.emplace_back(text);
      PostMessageW(window, WM_COMMAND, IDOK, 0);
    }
    return TRUE;
  }
  if (GetDlgItem(window, kMediaListId) != nullptr) {
    if (!state.run->scriptRan && !state.inScript) {
      state.run->scriptRan = true;
      state.inScript = true;
      (*state.script)(window);
      state.inScript = false;
    } else if (state.ticks > kGiveUpTicks) {
      EndDialog(window, -7);
    }
  }
  return TRUE;
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  if (g_state == nullptr) return;
  ++g_state->ticks;
  EnumThreadWindows(GetCurrentThreadId(), VisitWindow, 0);
}

}  // namespace

DialogRun DriveModal(const std::function<INT_PTR()>& open, const std::function<void(HWND)>& script) {
  DialogRun run;
  DriverState state;
  state.script = &script;
  state.run = &run;
  g_state = &state;
  const UINT_PTR timer = SetTimer(nullptr, 0, kTickMs, Tick);
  run.result = open();
  KillTimer(nullptr, timer);
  g_state = nullptr;
  // Drop a tick that may still be queued for the next run.
  MSG message;
  while (PeekMessageW(&message, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) {
  }
  return run;
}

void Click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void SelectInList(HWND dialog, int id, int index) {
  HWND list = GetDlgItem(dialog, id);
  SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELENDOK), reinterpret_cast<LPARAM>(list));
}

void TypeAndLeave(HWND dialog, int id, const wchar_t* text) {
  HWND edit = GetDlgItem(dialog, id);
  SetFocus(edit);
  SetWindowTextW(edit, text);
  SetFocus(GetDlgItem(dialog, IDCANCEL));  // the edit box sends EN_KILLFOCUS
}

void PressKey(HWND window, WPARAM key) {
  SendMessageW(window, WM_KEYDOWN, key, 0);
  SendMessageW(window, WM_KEYUP, key, 0);
}

std::wstring TextOf(HWND dialog, int id) {
  wchar_t text[256] = {};
  GetDlgItemTextW(dialog, id, text, 256);
  return text;
}

bool IsEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

bool IsCheckedBox(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

int Selection(HWND dialog, int id) { return static_cast<int>(SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0)); }

int SliderPos(HWND dialog) { return static_cast<int>(SendDlgItemMessageW(dialog, 1023, TBM_GETPOS, 0, 0)); }
