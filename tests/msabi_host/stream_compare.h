// Compares a printed stream with a reference stream of the same job.
#pragma once
#include "win32_api.h"

// True when the two files hold the same bytes, but for the digits of the
// printer clock's first setting ("^ST" month, day, year, hour, minute,
// second), which carry the moment each job was set up. Otherwise prints where
// they part, naming the stream `what`.
bool SameStreamButClock(const wchar_t* actualPath, const wchar_t* referencePath, const char* what);
