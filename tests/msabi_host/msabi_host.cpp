// A host built the way the label application is: by a Microsoft-ABI compiler
// from an ordinary class declaration of the interface, here clang for
// x86_64-pc-windows-msvc without a C runtime. It prints one job twice, each
// through a new object from CreatePluginObject: the first object ends by
// `delete` (the compiler's own call of slot 0, the scalar deleting
// destructor), the second by DeletePluginObject. Each stream must equal the
// reference, the same job printed by qvr_host through its hand-written slot
// table (witness.job), but for the printer clock's date and time; and the
// plug-in's traces must show each object made and destroyed once.
//
//   msabi_host PRINTER REFERENCE OUTPUT_OF_DELETE OUTPUT_OF_FACTORY_DELETE
//
// Exit status: 0 both streams match, 1 a call or a comparison failed, 2 usage.
#include "console.h"
#include "plugin_interface.h"
#include "stream_compare.h"
#include "trace_listener.h"

namespace {

long ReportCrash(void*) {
  Print("msabi_host: crashed\n");
  TerminateProcess(GetCurrentProcess(), 3);
  return 1;
}

// Black text on white in a 24-bit top-down DIB section, drawn as qvr_host draws
// the pictures of its `text` lines, so that both hosts hand over the same pixels.
HBITMAP PaintText(int width, int height, const wchar_t* text) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = kBiRgb;
  void* pixels = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, kDibRgbColors, &pixels, nullptr, 0);
  if (bitmap == nullptr) return nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  if (dc == nullptr) {
    DeleteObject(bitmap);
    return nullptr;
  }
  HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
  RECT all{0, 0, width, height};
  FillRect(dc, &all, GetStockObject(kWhiteBrush));
  HGDIOBJ font = CreateFontW(height * 3 / 4, 0, 0, 0, kBold, 0, 0, 0, kDefaultCharset, 0, 0, 0, 0, L"Arial");
  HGDIOBJ oldFont = SelectObject(dc, font);
  SetBkMode(dc, kTransparent);
  SetTextColor(dc, 0);
  DrawTextW(dc, text, -1, &all, kDrawTextTopLeftPlain);
  SelectObject(dc, oldFont);
  DeleteObject(font);
  SelectObject(dc, oldBitmap);
  DeleteDC(dc);
  return bitmap;
}

// Drives one object through the job of witness.job, checking every answer.
class JobRun {
 public:
  explicit JobRun(IPlugin& plugin) : plugin_(plugin) {}
  bool Run(HANDLE printer);

 private:
  // Reports the first wrong answer of the job only: the calls after it are refused in turn.
  void Expect(bool answered, bool wanted, const char* call) {
    if (answered == wanted || !ok_) return;
    ok_ = false;
    Print("msabi_host: ");
    Print(call);
    Print(answered ? " returned true\n" : " returned false\n");
  }
  void Send(int width, int height, const wchar_t* text, const char* name);
  void Label(int32_t x, int32_t y, const wchar_t* serial, const wchar_t* clock);

  IPlugin& plugin_;
  bool ok_ = true;
};

void JobRun::Send(int width, int height, const wchar_t* text, const char* name) {
  HBITMAP bitmap = PaintText(width, height, text);
  if (bitmap == nullptr) {
    Expect(false, true, "CreateDIBSection");
    return;
  }
  HDC screen = GetDC(nullptr);
  Expect(plugin_.lpxSendBitmap(screen, bitmap, name), true, "lpxSendBitmap");
  ReleaseDC(nullptr, screen);
  DeleteObject(bitmap);
}

void JobRun::Label(int32_t x, int32_t y, const wchar_t* serial, const wchar_t* clock) {
  const DotPoint base{x, y};
  Expect(plugin_.lpxReferToBaseBitmap(&base), true, "lpxReferToBaseBitmap");
  Send(300, 56, serial, "SERIAL");
  const DotPoint field{x + 40, y + 300};
  Expect(plugin_.lpxReferToVariableBitmap("SERIAL", &field), true, "lpxReferToVariableBitmap");
  const DotPoint time{x + 40, y + 400};
  Expect(plugin_.lpxWriteClock(clock, &time, 36, L"Arial"), true, "lpxWriteClock");
}

bool JobRun::Run(HANDLE printer) {
  uint8_t job[kJobRecordBytes] = {};
  uint8_t extra[kExtraRecordBytes] = {};
  const int16_t resolution = 360;
  job[kResolutionOffset] = static_cast<uint8_t>(resolution & 0xFF);
  job[kResolutionOffset + 1] = static_cast<uint8_t>(resolution >> 8);
  plugin_.lpxInitialize(printer, job, extra);
  const int32_t header[2] = {1000, 1100};
  Expect(plugin_.lpxWritePrintJobHeader(header), true, "lpxWritePrintJobHeader");
  plugin_.lpxSendLayoutData(0, 0, 0, 353, 381, 0, 0, 0, 0, 0, 2, 2, 0);
  Send(600, 100, L"START OF JOB", "START01");
  const DotPoint label{200, 300};
  Expect(plugin_.lpxReferToStartLabel(&label), true, "lpxReferToStartLabel");

  Expect(plugin_.lpxCreateNewPage(), true, "lpxCreateNewPage");
  Send(480, 520, L"QVR base", "BASE01");
  Label(10, 10, L"No. 1", L"2026-12-08 16:01");
  Label(510, 10, L"No. 2", L"2026-12-08 16:02");
  // The operations without effect answer inside a page as anywhere, and leave the stream alone.
  Expect(plugin_.lpxWriteText(nullptr), false, "lpxWriteText");
  Expect(plugin_.lpxReferToBarcode(L"123", nullptr), false, "lpxReferToBarcode");
  Expect(plugin_.lpxWriteRFID(nullptr), false, "lpxWriteRFID");
  Expect(plugin_.lpxEject(nullptr), true, "lpxEject");
  Label(10, 550, L"No. 3", L"2026-12-08 16:03");
  Label(510, 550, L"No. 4", L"2026-12-08 16:04");
  Expect(plugin_.lpxCloseNewPageStatic(2), true, "lpxCloseNewPageStatic");
  Expect(plugin_.lpxCloseNewPageFinal(), true, "lpxCloseNewPageFinal");

  Expect(plugin_.lpxAddEmptyPage(), true, "lpxAddEmptyPage");
  Expect(plugin_.lpxCreateNewPage(), true, "lpxCreateNewPage");
  Label(10, 10, L"No. 5", L"2026-12-08 16:05");
  Label(510, 10, L"No. 6", L"2026-12-08 16:06");
  Expect(plugin_.lpxCloseNewPageDynamic(2), true, "lpxCloseNewPageDynamic");
  Expect(plugin_.lpxCloseNewPageFinal(), true, "lpxCloseNewPageFinal");

  Send(600, 100, L"END OF JOB", "END01");
  Expect(plugin_.lpxReferToEndLabel(&label), true, "lpxReferToEndLabel");
  Expect(plugin_.lpxWritePrinter(), true, "lpxWritePrinter");
  Expect(plugin_.lpxClear(), true, "lpxClear");
  return ok_;
}

// Runs the job on `plugin` inside a spooler document whose bytes land in `output`.
bool PrintTo(IPlugin& plugin, const wchar_t* printerName, const wchar_t* output) {
  PRINTER_DEFAULTSW defaults{nullptr, nullptr, kPrinterAllAccess};
  HANDLE printer = nullptr;
  if (!OpenPrinterW(printerName, &printer, &defaults)) {
    Print("msabi_host: cannot open the printer\n");
    return false;
  }
  DeleteFileW(output);
  DOC_INFO_1W doc{const_cast<wchar_t*>(L"QVR label job"), const_cast<wchar_t*>(output), const_cast<wchar_t*>(L"RAW")};
  bool printed = StartDocPrinterW(printer, 1, &doc) != 0;
  if (!printed) Print("msabi_host: cannot start a spooler document\n");
  if (printed) printed = JobRun(plugin).Run(printer);
  if (printed && !EndDocPrinter(printer)) {
    Print("msabi_host: the spooler did not end the document\n");
    printed = false;
  }
  ClosePrinter(printer);
  return printed;
}

int Run(const wchar_t* printer, const wchar_t* reference, const wchar_t* viaDelete, const wchar_t* viaFactory) {
  TraceListener traces;  // listening before the DLL is loaded and sends its first trace
  if (!traces.Listening()) {
    Print("msabi_host: cannot listen to the debugger output\n");
    return 1;
  }
  HMODULE dll = LoadLibraryW(L"QVR_PLUGIN_ZK-R41x0.dll");
  if (dll == nullptr) {
    Print("msabi_host: cannot load QVR_PLUGIN_ZK-R41x0.dll\n");
    return 1;
  }
  auto create = reinterpret_cast<CreatePluginObjectFn>(GetProcAddress(dll, "CreatePluginObject"));
  auto destroy = reinterpret_cast<DeletePluginObjectFn>(GetProcAddress(dll, "DeletePluginObject"));
  IPlugin* first = create != nullptr && destroy != nullptr ? create() : nullptr;
  IPlugin* second = first != nullptr ? create() : nullptr;
  if (second == nullptr) {
    Print("msabi_host: no CreatePluginObject and DeletePluginObject, or no object from them\n");
    FreeLibrary(dll);
    return 1;
  }
  bool ok = traces.Await(2, 0, "CreatePluginObject");
  ok = PrintTo(*first, printer, viaDelete) && ok;
  delete first;
  ok = traces.Await(2, 1, "delete") && ok;
  ok = PrintTo(*second, printer, viaFactory) && ok;
  destroy(second);
  destroy(nullptr);  // does nothing
  ok = traces.Await(2, 2, "DeletePluginObject") && ok;

  ok = SameStreamButClock(viaDelete, reference, "the stream of the object ended by delete") && ok;
  ok = SameStreamButClock(viaFactory, reference, "the stream of the object ended by DeletePluginObject") && ok;
  // Unloaded while the traces are still read: its last trace must not wait for a reader.
  FreeLibrary(dll);
  traces.Stop();
  if (ok) Print("msabi_host: both objects printed the reference stream and were destroyed once each\n");
  return ok ? 0 : 1;
}

}  // namespace

extern "C" void HostMain() {
  SetUnhandledExceptionFilter(ReportCrash);
  SetErrorMode(kErrorModeNoDialogs);
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args == nullptr || count != 5) {
    Print("usage: msabi_host PRINTER REFERENCE OUTPUT_OF_DELETE OUTPUT_OF_FACTORY_DELETE\n");
    ExitProcess(2);
  }
  const int status = Run(args[1], args[2], args[3], args[4]);
  LocalFree(args);
  ExitProcess(static_cast<unsigned>(status));
}
