// IPlugin: the interface the host calls, laid out as the Microsoft compiler
// lays out a class with a virtual destructor and 21 operations: 22 slots.
// Slot 0 is the scalar deleting destructor, `void* (unsigned flags)`; bit 0 of
// flags also frees the memory. g++ would give a virtual destructor two slots
// and shift every operation, so slot 0 is an ordinary virtual function here
// with exactly the Microsoft behaviour, and the destructor is not virtual.
#pragma once
#include <windows.h>

#include <cstdint>

#include "engine/print_control.h"

class IPlugin {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) noexcept = 0;                                  // 0
  virtual int32_t lpxConfigPlugin(const wchar_t* printerName) noexcept = 0;                                 // 1
  virtual void lpxInitialize(HANDLE printer, const void* jobRecord, const void* extraRecord) noexcept = 0;  // 2
  virtual bool lpxSendBitmap(HDC dc, HBITMAP bitmap, const char* name) noexcept = 0;                        // 3
  virtual bool lpxCreateNewPage() noexcept = 0;                                                             // 4
  virtual bool lpxReferToBaseBitmap(const DotPoint* position) noexcept = 0;                                 // 5
  virtual bool lpxReferToVariableBitmap(const char* name, const DotPoint* position) noexcept = 0;           // 6
  virtual bool lpxCloseNewPageStatic(int32_t copies) noexcept = 0;                                          // 7
  virtual bool lpxCloseNewPageDynamic(int32_t labelsUsed) noexcept = 0;                                     // 8
  virtual bool lpxCloseNewPageFinal() noexcept = 0;                                                         // 9
  virtual bool lpxWritePrintJobHeader(const void* header) noexcept = 0;                                     // 10
  virtual bool lpxAddEmptyPage() noexcept = 0;                                                              // 11
  virtual bool lpxReferToEndLabel(const DotPoint* position) noexcept = 0;                                   // 12
  virtual bool lpxReferToStartLabel(const DotPoint* position) noexcept = 0;                                 // 13
  virtual bool lpxWriteText(const void* unused) noexcept = 0;                                               // 14
  virtual bool lpxReferToBarcode(const wchar_t* text, const void* unused) noexcept = 0;                     // 15
  virtual bool lpxWriteRFID(const void* unused) noexcept = 0;                                               // 16
  virtual bool lpxWriteClock(const wchar_t* text, const DotPoint* position, int32_t fontHeight,
                             const wchar_t* faceName) noexcept = 0;  // 17
  virtual void lpxSendLayoutData(int32_t rotation, int32_t value2, int32_t value3, int32_t horizontalPitch,
                                 int32_t verticalPitch, int32_t value6, int32_t value7, int32_t value8, int32_t value9,
                                 int32_t value10, int32_t labelColumns, int32_t labelRows,
                                 uint8_t value13) noexcept = 0;  // 18
  virtual bool lpxEject(const void* unused) noexcept = 0;        // 19
  virtual bool lpxClear() noexcept = 0;                          // 20
  virtual bool lpxWritePrinter() noexcept = 0;                   // 21

 protected:
  IPlugin() = default;
  ~IPlugin() = default;  // objects end through slot 0 only
};

extern "C" IPlugin* CreatePluginObject() noexcept;
extern "C" void DeletePluginObject(IPlugin* object) noexcept;
