// The plug-in object's call state, which decides which host call is accepted when.
#pragma once
#include <cstdint>

enum class PluginState : int32_t {
  Created = 0,
  Initialized = 1,
  Ready = 2,
  PageOpen = 3,
  Failed = -1,
};
