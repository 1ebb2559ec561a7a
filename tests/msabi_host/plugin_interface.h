// The plug-in's interface as the label application declares it: an ordinary
// C++ class whose virtual destructor comes first and whose 21 operations
// follow in the order of the host's slot table. Compiled for the Microsoft
// ABI, the destructor takes one slot (the scalar deleting destructor) and the
// operations slots 1 to 21. Written from the interface's documentation, not
// from the plug-in's headers.
#pragma once
#include "win32_api.h"

struct DotPoint {
  int32_t x;
  int32_t y;
};

class IPlugin {
 public:
  virtual ~IPlugin() = default;
  virtual int32_t lpxConfigPlugin(const wchar_t* printerName) = 0;
  virtual void lpxInitialize(HANDLE printer, const void* jobRecord, const void* extraRecord) = 0;
  virtual bool lpxSendBitmap(HDC dc, HBITMAP bitmap, const char* name) = 0;
  virtual bool lpxCreateNewPage() = 0;
  virtual bool lpxReferToBaseBitmap(const DotPoint* position) = 0;
  virtual bool lpxReferToVariableBitmap(const char* name, const DotPoint* position) = 0;
  virtual bool lpxCloseNewPageStatic(int32_t copies) = 0;
  virtual bool lpxCloseNewPageDynamic(int32_t labelsUsed) = 0;
  virtual bool lpxCloseNewPageFinal() = 0;
  virtual bool lpxWritePrintJobHeader(const void* header) = 0;
  virtual bool lpxAddEmptyPage() = 0;
  virtual bool lpxReferToEndLabel(const DotPoint* position) = 0;
  virtual bool lpxReferToStartLabel(const DotPoint* position) = 0;
  virtual bool lpxWriteText(const void* unused) = 0;
  virtual bool lpxReferToBarcode(const wchar_t* text, const void* unused) = 0;
  virtual bool lpxWriteRFID(const void* unused) = 0;
  virtual bool lpxWriteClock(const wchar_t* text, const DotPoint* position, int32_t fontHeight,
                             const wchar_t* faceName) = 0;
  virtual void lpxSendLayoutData(int32_t rotation, int32_t value2, int32_t value3, int32_t horizontalPitch,
                                 int32_t verticalPitch, int32_t value6, int32_t value7, int32_t value8, int32_t value9,
                                 int32_t value10, int32_t labelColumns, int32_t labelRows, uint8_t value13) = 0;
  virtual bool lpxEject(const void* unused) = 0;
  virtual bool lpxClear() = 0;
  virtual bool lpxWritePrinter() = 0;
};

using CreatePluginObjectFn = IPlugin* (*)();
using DeletePluginObjectFn = void (*)(IPlugin* object);

// The records lpxInitialize reads: the resolution at offset 90 of the job record.
constexpr size_t kJobRecordBytes = 228;
constexpr size_t kExtraRecordBytes = 1308;
constexpr size_t kResolutionOffset = 90;
