// A bitmap handed over by the host, read through the platform (GetDIBits in
// the shell) as device-independent rows, top row first.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/result_codes.h"

struct DibRows {
  int32_t width = 0;
  int32_t height = 0;
  uint16_t bitCount = 0;       // as the platform reports it: 1 and 24 are accepted
  std::vector<uint8_t> bytes;  // the delivered image, rows top first
};

class HostBitmap {
 public:
  virtual ~HostBitmap() = default;
  // 0 with the rows filled, or 401 when the bitmap cannot be read; memory
  // exhaustion travels as std::bad_alloc.
  virtual ResultCode Read(DibRows& rows) = 0;
};
