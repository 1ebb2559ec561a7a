// The named mutex that serialises every writer of the diagnostic log, in any
// process of any user: its access list grants everyone full access.
#pragma once
#include <windows.h>

#include "platform/win32/unique_handle.h"

// The access the log mutex grants to everyone.
inline constexpr DWORD kLogMutexAccess = 0x001F01FF;

// Creates the log mutex, or opens it when another thread or process made it
// first. Not taken. Null on any failure.
[[nodiscard]] UniqueMutex OpenLogMutex() noexcept;
