// Units the host, the settings and the printer share.
#pragma once
#include <cstdint>

// Pitches and position adjustments are in tenths of a millimetre.
inline constexpr int32_t kTenthsMmPerInch = 254;
inline constexpr int32_t kTenthsMmPerMetre = 10000;
