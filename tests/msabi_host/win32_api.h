// The few Windows functions, types and constants the Microsoft-ABI host
// calls, declared from their documented signatures. The host is built by clang
// for the MSVC target without a C runtime and without an SDK: the mingw-w64
// headers do not compile in that mode, and the import libraries are all it
// needs of them. Handles of every kind are plain pointers, as in the ABI.
#pragma once
#include <stddef.h>
#include <stdint.h>

using BOOL = int;
using DWORD = unsigned long;  // 32 bits on 64-bit Windows
using HANDLE = void*;
using HMODULE = void*;
using HDC = void*;
using HBITMAP = void*;
using HGDIOBJ = void*;

struct RECT {
  int32_t left, top, right, bottom;
};

struct BITMAPINFOHEADER {
  DWORD biSize;
  int32_t biWidth;
  int32_t biHeight;
  uint16_t biPlanes;
  uint16_t biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  DWORD bmiColors[1];
};

struct PRINTER_DEFAULTSW {
  wchar_t* pDatatype;
  void* pDevMode;
  DWORD DesiredAccess;
};

struct DOC_INFO_1W {
  wchar_t* pDocName;
  wchar_t* pOutputFile;
  wchar_t* pDatatype;
};

using ThreadStart = DWORD (*)(void* parameter);
using CrashFilter = long (*)(void* exceptionPointers);

inline HANDLE const kInvalidHandle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
constexpr DWORD kStdOutput = static_cast<DWORD>(-11);
constexpr DWORD kGenericRead = 0x80000000u;
constexpr DWORD kFileShareRead = 1;
constexpr DWORD kOpenExisting = 3;
constexpr DWORD kPageReadWrite = 4;
constexpr DWORD kFileMapRead = 4;
constexpr DWORD kWaitObject0 = 0;
constexpr DWORD kInfinite = 0xFFFFFFFFu;
constexpr DWORD kErrorModeNoDialogs = 0x0001 | 0x0002;  // no critical-error or fault boxes
constexpr DWORD kPrinterAllAccess = 0x000F000Cu;
constexpr DWORD kBiRgb = 0;
constexpr DWORD kDibRgbColors = 0;
constexpr int kWhiteBrush = 0;
constexpr int kTransparent = 1;
constexpr int kBold = 700;
constexpr DWORD kDefaultCharset = 1;
constexpr unsigned kDrawTextTopLeftPlain = 0x0000 | 0x0000 | 0x0800;  // DT_LEFT | DT_TOP | DT_NOPREFIX

#define QVR_IMPORT extern "C" __declspec(dllimport)

// kernel32
QVR_IMPORT HANDLE GetStdHandle(DWORD which);
QVR_IMPORT BOOL WriteFile(HANDLE file, const void* bytes, DWORD count, DWORD* written, void* overlapped);
QVR_IMPORT BOOL ReadFile(HANDLE file, void* bytes, DWORD count, DWORD* read, void* overlapped);
QVR_IMPORT HANDLE CreateFileW(const wchar_t* name, DWORD access, DWORD share, void* security, DWORD disposition,
                              DWORD attributes, HANDLE pattern);
QVR_IMPORT BOOL GetFileSizeEx(HANDLE file, int64_t* size);
QVR_IMPORT BOOL DeleteFileW(const wchar_t* name);
QVR_IMPORT BOOL CloseHandle(HANDLE object);
[[noreturn]] QVR_IMPORT void ExitProcess(unsigned code);
QVR_IMPORT BOOL TerminateProcess(HANDLE process, unsigned code);
QVR_IMPORT HANDLE GetCurrentProcess();
QVR_IMPORT DWORD GetCurrentProcessId();
QVR_IMPORT DWORD GetLastError();
QVR_IMPORT unsigned SetErrorMode(unsigned mode);
QVR_IMPORT CrashFilter SetUnhandledExceptionFilter(CrashFilter filter);
QVR_IMPORT HMODULE LoadLibraryW(const wchar_t* name);
QVR_IMPORT void* GetProcAddress(HMODULE module, const char* name);
QVR_IMPORT BOOL FreeLibrary(HMODULE module);
QVR_IMPORT HANDLE GetProcessHeap();
QVR_IMPORT void* HeapAlloc(HANDLE heap, DWORD flags, size_t bytes);
QVR_IMPORT BOOL HeapFree(HANDLE heap, DWORD flags, void* memory);
QVR_IMPORT wchar_t* GetCommandLineW();
QVR_IMPORT void* LocalFree(void* memory);
QVR_IMPORT HANDLE CreateThread(void* security, size_t stackSize, ThreadStart start, void* parameter, DWORD flags,
                               DWORD* threadId);
QVR_IMPORT HANDLE CreateEventW(void* security, BOOL manualReset, BOOL initialState, const wchar_t* name);
QVR_IMPORT BOOL SetEvent(HANDLE event);
QVR_IMPORT DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
QVR_IMPORT HANDLE CreateFileMappingW(HANDLE file, void* security, DWORD protect, DWORD sizeHigh, DWORD sizeLow,
                                     const wchar_t* name);
QVR_IMPORT void* MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, size_t bytes);
QVR_IMPORT BOOL UnmapViewOfFile(const void* view);
QVR_IMPORT void Sleep(DWORD milliseconds);

// shell32
QVR_IMPORT wchar_t** CommandLineToArgvW(const wchar_t* commandLine, int* count);

// winspool
QVR_IMPORT BOOL OpenPrinterW(const wchar_t* name, HANDLE* printer, PRINTER_DEFAULTSW* defaults);
QVR_IMPORT DWORD StartDocPrinterW(HANDLE printer, DWORD level, void* info);
QVR_IMPORT BOOL EndDocPrinter(HANDLE printer);
QVR_IMPORT BOOL ClosePrinter(HANDLE printer);

// gdi32
QVR_IMPORT HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, unsigned usage, void** bits, HANDLE section,
                                    DWORD offset);
QVR_IMPORT HDC CreateCompatibleDC(HDC dc);
QVR_IMPORT BOOL DeleteDC(HDC dc);
QVR_IMPORT HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
QVR_IMPORT BOOL DeleteObject(HGDIOBJ object);
QVR_IMPORT HGDIOBJ GetStockObject(int which);
QVR_IMPORT HGDIOBJ CreateFontW(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                               DWORD underline, DWORD strikeOut, DWORD charset, DWORD outPrecision, DWORD clipPrecision,
                               DWORD quality, DWORD pitchAndFamily, const wchar_t* face);
QVR_IMPORT int SetBkMode(HDC dc, int mode);
QVR_IMPORT DWORD SetTextColor(HDC dc, DWORD colour);

// user32
QVR_IMPORT int FillRect(HDC dc, const RECT* area, HGDIOBJ brush);
QVR_IMPORT int DrawTextW(HDC dc, const wchar_t* text, int length, RECT* area, unsigned format);
QVR_IMPORT HDC GetDC(void* window);
QVR_IMPORT int ReleaseDC(void* window, HDC dc);
