#include "process_census.h"

#include <psapi.h>

#include <vector>

namespace {

// Handle values are multiples of 4 and handed out lowest free first; a process
// with more live handles than this would be a leak in itself.
constexpr uintptr_t kHandleValueStep = 4;
constexpr uintptr_t kHighestHandleValue = 0x10000;
// More than any GDI handle table holds (Windows: 65536 per session, 10,000 per process).
constexpr size_t kMostGdiSlots = 1 << 17;

uint64_t CommittedPrivateBytes() {
  uint64_t total = 0;
  MEMORY_BASIC_INFORMATION region{};
  const char* at = nullptr;
  while (VirtualQuery(at, &region, sizeof region) == sizeof region) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= at) break;
    at = next;
  }
  return total;
}

uint32_t HandlesByProbing() {
  uint32_t live = 0;
  for (uintptr_t value = kHandleValueStep; value < kHighestHandleValue; value += kHandleValueStep) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++live;
  }
  return live;
}

uint32_t FreeGdiSlots() {
  std::vector<HRGN> made;
  made.reserve(kMostGdiSlots);
  while (made.size() < kMostGdiSlots) {
    HRGN region = CreateRectRgn(0, 0, 1, 1);
    if (region == nullptr) break;
    made.push_back(region);
  }
  for (HRGN region : made) DeleteObject(region);
  return static_cast<uint32_t>(made.size());
}

}  // namespace

ProcessCensus TakeCensus() {
  ProcessCensus census;
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
    census.privateBytes = memory.PrivateUsage;
    census.privateSource = "PrivateUsage";
    if (census.privateBytes == 0) {
      census.privateBytes = memory.PagefileUsage;
      census.privateSource = "PagefileUsage (PrivateUsage reads 0)";
    }
  }
  census.committedPrivateBytes = CommittedPrivateBytes();

  DWORD handles = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &handles) && handles > 0) {
    census.handles = handles;
    census.handleSource = "GetProcessHandleCount";
  } else {
    census.handles = HandlesByProbing();
    census.handleSource = "GetHandleInformation on every handle value (GetProcessHandleCount reads 0)";
  }

  census.gdiObjects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  if (census.gdiObjects == 0) {
    census.gdiCountedBySlots = true;
    census.gdiFreeSlots = FreeGdiSlots();
  }
  return census;
}

int64_t GdiGrowth(const ProcessCensus& from, const ProcessCensus& to) {
  if (from.gdiCountedBySlots && to.gdiCountedBySlots) {
    return int64_t{from.gdiFreeSlots} - int64_t{to.gdiFreeSlots};
  }
  return int64_t{to.gdiObjects} - int64_t{from.gdiObjects};
}

std::string CensusGrowth(const ProcessCensus& from, const ProcessCensus& to, const CensusTolerance& tolerance) {
  std::string grown;
  if (to.privateBytes > from.privateBytes + tolerance.privateBytes) grown += "private memory; ";
  if (to.handles > from.handles + tolerance.handles) grown += "handles; ";
  if (GdiGrowth(from, to) > int64_t{tolerance.gdiObjects}) grown += "GDI objects; ";
  return grown;
}
