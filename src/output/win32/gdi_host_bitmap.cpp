#include "output/win32/gdi_host_bitmap.h"

// Interim: the GDI reading arrives with the label raster work.
ResultCode GdiHostBitmap::Read(DibRows&) noexcept { return result::kBadSourceBitmap; }
