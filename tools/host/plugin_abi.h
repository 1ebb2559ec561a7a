// The plug-in's interface exactly as the host sees it: a C table of 22
// function pointers in the Microsoft layout, written by hand from the
// interface's documentation and independent of the plug-in's own headers.
#pragma once
#include <windows.h>

#include <cstdint>

struct HostDotPoint {
  int32_t x;
  int32_t y;
};

struct HostPluginVtbl {
  void* (*destructor)(void* self, unsigned int flags);                                             // 0
  int32_t (*configPlugin)(void* self, const wchar_t* printerName);                                 // 1
  void (*initialize)(void* self, HANDLE printer, const void* jobRecord, const void* extraRecord);  // 2
  bool (*sendBitmap)(void* self, HDC dc, HBITMAP bitmap, const char* name);                        // 3
  bool (*createNewPage)(void* self);                                                               // 4
  bool (*referToBaseBitmap)(void* self, const HostDotPoint* position);                             // 5
  bool (*referToVariableBitmap)(void* self, const char* name, const HostDotPoint* position);       // 6
  bool (*closeNewPageStatic)(void* self, int32_t copies);                                          // 7
  bool (*closeNewPageDynamic)(void* self, int32_t labelsUsed);                                     // 8
  bool (*closeNewPageFinal)(void* self);                                                           // 9
  bool (*writePrintJobHeader)(void* self, const void* header);                                     // 10
  bool (*addEmptyPage)(void* self);                                                                // 11
  bool (*referToEndLabel)(void* self, const HostDotPoint* position);                               // 12
  bool (*referToStartLabel)(void* self, const HostDotPoint* position);                             // 13
  bool (*writeText)(void* self, const void* unused);                                               // 14
  bool (*referToBarcode)(void* self, const wchar_t* text, const void* unused);                     // 15
  bool (*writeRFID)(void* self, const void* unused);                                               // 16
  bool (*writeClock)(void* self, const wchar_t* text, const HostDotPoint* position, int32_t fontHeight,
                     const wchar_t* faceName);  // 17
  void (*sendLayoutData)(void* self, int32_t rotation, int32_t v2, int32_t v3, int32_t horizontalPitch,
                         int32_t verticalPitch, int32_t v6, int32_t v7, int32_t v8, int32_t v9, int32_t v10,
                         int32_t labelColumns, int32_t labelRows, uint8_t v13);  // 18
  bool (*eject)(void* self, const void* unused);                                 // 19
  bool (*clear)(void* self);                                                     // 20
  bool (*writePrinter)(void* self);                                              // 21
};
static_assert(sizeof(HostPluginVtbl) == 22 * sizeof(void*), "the host calls through exactly 22 slots");

struct HostPluginObject {
  const HostPluginVtbl* vtbl;
};

using CreatePluginObjectFn = HostPluginObject* (*)();
using DeletePluginObjectFn = void (*)(HostPluginObject*);

inline constexpr const wchar_t* kPluginDllName = L"QVR_PLUGIN_ZK-R41x0.dll";
inline constexpr size_t kHostJobRecordBytes = 228;
inline constexpr size_t kHostExtraRecordBytes = 1308;
inline constexpr size_t kJobRecordResolutionOffset = 90;

// The plug-in DLL loaded by name, as the host loads it.
class LoadedPlugin {
 public:
  LoadedPlugin() : module_(LoadLibraryW(kPluginDllName)) {
    if (module_ != nullptr) {
      create_ = reinterpret_cast<CreatePluginObjectFn>(
          reinterpret_cast<void*>(GetProcAddress(module_, "CreatePluginObject")));
      destroy_ = reinterpret_cast<DeletePluginObjectFn>(
          reinterpret_cast<void*>(GetProcAddress(module_, "DeletePluginObject")));
    }
  }
  ~LoadedPlugin() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;

  bool Loaded() const { return create_ != nullptr && destroy_ != nullptr; }
  HostPluginObject* Create() const { return create_ != nullptr ? create_() : nullptr; }
  void Delete(HostPluginObject* object) const {
    if (destroy_ != nullptr) destroy_(object);
  }

 private:
  HMODULE module_;
  CreatePluginObjectFn create_ = nullptr;
  DeletePluginObjectFn destroy_ = nullptr;
};

// A job record with the resolution in its place and everything else zero.
struct HostJobRecord {
  uint8_t bytes[kHostJobRecordBytes] = {};
  explicit HostJobRecord(int16_t resolution) {
    bytes[kJobRecordResolutionOffset] = static_cast<uint8_t>(resolution & 0xFF);
    bytes[kJobRecordResolutionOffset + 1] = static_cast<uint8_t>((resolution >> 8) & 0xFF);
  }
};

struct HostExtraRecord {
  uint8_t bytes[kHostExtraRecordBytes] = {};
};
