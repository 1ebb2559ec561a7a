// The machine's local time.
#pragma once
#include "platform/clock.h"

class SystemClock final : public Clock {
 public:
  LocalTime Now() noexcept override;
};
