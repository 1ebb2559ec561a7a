// Bitmaps as a label application makes them for the plug-in.
#pragma once
#include <windows.h>

// A 24-bit top-down DIB section of the given size, for drawing with GDI; null
// on failure. `bits`, when given, receives its pixel memory. The caller deletes it.
HBITMAP CreateDrawingBitmap(int width, int height, void** bits = nullptr);
