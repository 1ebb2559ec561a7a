#include "platform/win32/system_clock.h"

#include <windows.h>

LocalTime SystemClock::Now() noexcept {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}
