// What a process holds at one moment: private memory, kernel handles and GDI
// objects, each measured the best way the running system allows. Wine 8
// answers 0 for PrivateUsage, GetProcessHandleCount and GetGuiResources, so
// each has a fallback that counts for itself; the census says which was used.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

struct ProcessCensus {
  // PrivateUsage, or PagefileUsage where PrivateUsage reads 0: Windows gives
  // both the process's commit charge, Wine fills only the second.
  uint64_t privateBytes = 0;
  const char* privateSource = "";
  // Committed private pages, summed over the address space with VirtualQuery.
  uint64_t committedPrivateBytes = 0;
  // GetProcessHandleCount, or the handle values that GetHandleInformation accepts.
  uint32_t handles = 0;
  const char* handleSource = "";
  // GDI objects in use: GetGuiResources, or the free slots of the GDI handle
  // table (regions made until GDI refuses), which fall as objects are leaked.
  uint32_t gdiObjects = 0;
  uint32_t gdiFreeSlots = 0;
  bool gdiCountedBySlots = false;
};

ProcessCensus TakeCensus();

// Values a census may grow by before the soak calls it growth, with the reason.
struct CensusTolerance {
  uint64_t privateBytes = 0;
  uint32_t handles = 0;
  uint32_t gdiObjects = 0;
};

// The GDI change as objects in use: positive when objects were added.
int64_t GdiGrowth(const ProcessCensus& from, const ProcessCensus& to);
// "" when `to` is within the tolerance of `from`, else what grew.
std::string CensusGrowth(const ProcessCensus& from, const ProcessCensus& to, const CensusTolerance& tolerance);
