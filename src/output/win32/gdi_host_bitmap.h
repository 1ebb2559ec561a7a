// A host bitmap read through GDI (GetObjectW, GetDIBits). Only 1- and 24-bit
// bitmaps are read; every other depth is refused before GetDIBits is called.
#pragma once
#include <windows.h>

#include "platform/host_bitmap.h"

class GdiHostBitmap final : public HostBitmap {
 public:
  GdiHostBitmap(HDC dc, HBITMAP bitmap) noexcept : dc_(dc), bitmap_(bitmap) {}
  ResultCode Read(DibRows& rows) override;

 private:
  HDC dc_;
  HBITMAP bitmap_;
};
