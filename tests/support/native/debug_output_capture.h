// Native stand-in for the debugger output: records what the core writes.
#pragma once
#include <string>

#include "platform/debug_output.h"

// Everything written since the last call, and forget it.
std::u16string TakeDebugOutput();
