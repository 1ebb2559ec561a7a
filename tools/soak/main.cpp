// qvr_soak: a long unattended run through the plug-in's 22-slot table, as a
// label application prints thousands of labels: every label a page with the
// base design, a freshly drawn serial-number bitmap (24-bit and 1-bit in
// turn) and a clock, the stream spooled to a file. It measures what the
// process holds after a warm-up and after every tenth of the run, and reports
// growth beyond a small tolerance.
//
//   qvr_soak [--labels N] [--warmup N] [--labels-per-job N] [--samples N] [--output FILE]
//            [--printer NAME] [--inject-leak handle|gdi|memory]
//
// Exit code: 0 nothing grew, 1 something grew, 2 bad arguments or a call failed.
// --inject-leak leaks one handle, GDI object or 64 KiB block per label, to
// show that the census sees a leak of that size.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "host_bitmap.h"
#include "plugin_abi.h"
#include "process_census.h"
#include "spooler_setup.h"

namespace {

constexpr const wchar_t* kDefaultPrinter = L"QVR Soak Printer";
constexpr int16_t kResolution = 360;
// A small label, the narrowest the printer takes, long enough to be cut.
constexpr int32_t kLabelWidth = 425;
constexpr int32_t kLabelLength = 300;
constexpr SIZE kFieldSize{200, 40};
constexpr POINT kFieldAt{20, 150};
constexpr POINT kClockAt{20, 230};
constexpr int32_t kClockHeight = 28;
constexpr const wchar_t* kClockFace = L"Arial";
constexpr size_t kInjectedLeakBytes = 64 * 1024;

// Private memory may move by a few pages without anything leaking: the heap
// keeps freed blocks in pools of its own, and where the next block lands
// depends on the order of earlier allocations, which changes as serial
// numbers and clock texts grow longer. 256 KiB is 64 pages: over 10,000 labels
// it lets through no more than 26 bytes a label (over the suite's 300, about
// 870), far less than one leaked field bitmap (24 KB) or PNG. Handles and GDI
// objects are counted exactly: none may stay.
constexpr CensusTolerance kTolerance{256 * 1024, 0, 0};

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
  std::fprintf(stderr, "qvr_soak: crashed with exception 0x%08lx\n", info->ExceptionRecord->ExceptionCode);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_EXECUTE_HANDLER;
}

enum class Leak { None, Handle, Gdi, Memory };

struct Options {
  long labels = 10000;
  long warmup = 200;
  long labelsPerJob = 100;
  long samples = 10;  // censuses after the start, evenly spread
  std::wstring output;
  std::wstring printer = kDefaultPrinter;
  Leak leak = Leak::None;
};

// Draws `text` in black on a white bitmap: a 24-bit DIB section, or a 1-bit
// device-dependent bitmap as older label applications hand over.
HBITMAP DrawField(const std::wstring& text, bool monochrome) {
  HBITMAP bitmap = monochrome ? CreateBitmap(kFieldSize.cx, kFieldSize.cy, 1, 1, nullptr)
                              : CreateDrawingBitmap(kFieldSize.cx, kFieldSize.cy);
  if (bitmap == nullptr) return nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
  RECT all{0, 0, kFieldSize.cx, kFieldSize.cy};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  HFONT font =
      CreateFontW(kFieldSize.cy * 3 / 4, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial");
  HGDIOBJ oldFont = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 0));
  DrawTextW(dc, text.c_str(), -1, &all, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, oldFont);
  DeleteObject(font);
  SelectObject(dc, oldBitmap);
  DeleteDC(dc);
  return bitmap;
}

// The label's static design: a frame and a bar.
HBITMAP DrawBase() {
  HBITMAP bitmap = CreateDrawingBitmap(kLabelWidth, kLabelLength);
  if (bitmap == nullptr) return nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECT all{0, 0, kLabelWidth, kLabelLength};
  HBRUSH frame = CreateSolidBrush(RGB(20, 40, 140));
  FillRect(dc, &all, frame);
  RECT inside{6, 6, kLabelWidth - 6, kLabelLength - 6};
  FillRect(dc, &inside, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  RECT bar{6, 40, kLabelWidth - 6, 80};
  FillRect(dc, &bar, frame);
  DeleteObject(frame);
  SelectObject(dc, old);
  DeleteDC(dc);
  return bitmap;
}

class Soak {
 public:
  Soak(const LoadedPlugin& plugin, const Options& options) : plugin_(plugin), options_(options) {}
  ~Soak() {
    if (base_ != nullptr) DeleteObject(base_);
    if (object_ != nullptr) plugin_.Delete(object_);
  }
  Soak(const Soak&) = delete;
  Soak& operator=(const Soak&) = delete;

  bool Prepare() {
    if (!InstallRawPrinter(options_.printer) || !ClearPrinterSettings(options_.printer)) {
      return Failed(L"cannot install the printer " + options_.printer);
    }
    object_ = plugin_.Create();
    base_ = DrawBase();
    return (object_ != nullptr && base_ != nullptr) || Failed(L"cannot create the plug-in object or the base");
  }

  // Prints `count` labels in jobs of at most labelsPerJob labels each.
  bool Print(long count) {
    while (count > 0) {
      const long labels = std::min(count, options_.labelsPerJob);
      if (!Job(labels)) return false;
      count -= labels;
    }
    return true;
  }

  long Printed() const { return printed_; }
  const std::wstring& FailedCall() const { return failure_; }

 private:
  bool Failed(const std::wstring& what) {
    failure_ = what;
    return false;
  }
  bool Expect(bool answer, const wchar_t* call) {
    return answer || Failed(std::wstring(call) + L" returned false at label " + std::to_wstring(printed_ + 1));
  }

  bool Job(long labels) {
    DeleteFileW(options_.output.c_str());
    SpoolJob job(options_.printer, options_.output);
    if (!job.Started()) return Failed(L"the spooler did not start a document");
    const HostPluginVtbl& t = *object_->vtbl;
    HostJobRecord record(kResolution);
    HostExtraRecord extra;
    t.initialize(object_, job.Printer(), record.bytes, extra.bytes);
    const int32_t header[2] = {kLabelWidth, kLabelLength};
    if (!Expect(t.writePrintJobHeader(object_, header), L"lpxWritePrintJobHeader")) return false;
    t.sendLayoutData(object_, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0);
    for (long n = 0; n < labels; ++n) {
      if (!Label()) return false;
    }
    return job.End() || Failed(L"the spooler did not end the document");
  }

  bool Label() {
    const HostPluginVtbl& t = *object_->vtbl;
    const long serial = printed_ + 1;
    if (!Expect(t.createNewPage(object_), L"lpxCreateNewPage")) return false;
    HDC screen = GetDC(nullptr);
    // The base design goes over once in the engine's life; later pages reuse it.
    bool ok = baseSent_ || Expect(t.sendBitmap(object_, screen, base_, "BASE01"), L"lpxSendBitmap BASE01");
    baseSent_ = true;
    const HostDotPoint origin{0, 0};
    ok = ok && Expect(t.referToBaseBitmap(object_, &origin), L"lpxReferToBaseBitmap");
    HBITMAP field = DrawField(L"No. " + std::to_wstring(serial), serial % 2 == 0);
    ok = ok && (field != nullptr || Failed(L"cannot draw the serial number"));
    ok = ok && Expect(t.sendBitmap(object_, screen, field, "SERIAL"), L"lpxSendBitmap SERIAL");
    if (field != nullptr) DeleteObject(field);
    ReleaseDC(nullptr, screen);
    const HostDotPoint fieldAt{kFieldAt.x, kFieldAt.y};
    ok = ok && Expect(t.referToVariableBitmap(object_, "SERIAL", &fieldAt), L"lpxReferToVariableBitmap");
    wchar_t clock[16] = {};
    std::swprintf(clock, std::size(clock), L"%02ld:%02ld:%02ld", serial / 3600 % 24, serial / 60 % 60, serial % 60);
    const HostDotPoint clockAt{kClockAt.x, kClockAt.y};
    ok = ok && Expect(t.writeClock(object_, clock, &clockAt, kClockHeight, kClockFace), L"lpxWriteClock");
    ok = ok && Expect(t.closeNewPageStatic(object_, 1), L"lpxCloseNewPageStatic");
    ok = ok && Expect(t.closeNewPageFinal(object_), L"lpxCloseNewPageFinal");
    ok = ok && Expect(t.writePrinter(object_), L"lpxWritePrinter");
    if (!ok) return false;
    InjectLeak();
    ++printed_;
    return true;
  }

  void InjectLeak() {
    switch (options_.leak) {
      case Leak::Handle: (void)CreateEventW(nullptr, TRUE, FALSE, nullptr); break;
      case Leak::Gdi: (void)CreateRectRgn(0, 0, 1, 1); break;
      case Leak::Memory: {
        auto* block = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, kInjectedLeakBytes));
        if (block != nullptr) std::memset(block, 1, kInjectedLeakBytes);
        break;
      }
      case Leak::None: break;
    }
  }

  const LoadedPlugin& plugin_;
  const Options& options_;
  HostPluginObject* object_ = nullptr;
  HBITMAP base_ = nullptr;
  bool baseSent_ = false;
  long printed_ = 0;
  std::wstring failure_;
};

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

void PrintRow(const char* label, long labels, const ProcessCensus& c, const ProcessCensus& start) {
  std::printf("%-10s %7ld %16llu %19llu %9lu %12lld %12lu\n", label, labels,
              static_cast<unsigned long long>(c.privateBytes), static_cast<unsigned long long>(c.committedPrivateBytes),
              static_cast<unsigned long>(c.handles), static_cast<long long>(GdiGrowth(start, c)),
              static_cast<unsigned long>(c.gdiCountedBySlots ? c.gdiFreeSlots : c.gdiObjects));
}

bool ParseArguments(int argc, wchar_t** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const bool hasValue = i + 1 < argc;
    try {
      if (arg == L"--labels" && hasValue) {
        options.labels = std::stol(argv[++i]);
      } else if (arg == L"--warmup" && hasValue) {
        options.warmup = std::stol(argv[++i]);
      } else if (arg == L"--labels-per-job" && hasValue) {
        options.labelsPerJob = std::stol(argv[++i]);
      } else if (arg == L"--samples" && hasValue) {
        options.samples = std::stol(argv[++i]);
      } else if (arg == L"--output" && hasValue) {
        options.output = argv[++i];
      } else if (arg == L"--printer" && hasValue) {
        options.printer = argv[++i];
      } else if (arg == L"--inject-leak" && hasValue) {
        const std::wstring kind = argv[++i];
        if (kind == L"handle")
          options.leak = Leak::Handle;
        else if (kind == L"gdi")
          options.leak = Leak::Gdi;
        else if (kind == L"memory")
          options.leak = Leak::Memory;
        else
          return false;
      } else {
        return false;
      }
    } catch (const std::exception&) {
      return false;
    }
  }
  if (options.output.empty()) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    options.output = std::wstring(folder) + L"qvr-soak.prn";
  }
  return options.labels > 0 && options.warmup >= 0 && options.labelsPerJob > 0 && options.samples > 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  SetUnhandledExceptionFilter(ReportCrash);
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  Options options;
  if (!ParseArguments(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: qvr_soak [--labels N] [--warmup N] [--labels-per-job N] [--samples N] [--output FILE]"
                 " [--printer NAME] [--inject-leak handle|gdi|memory]\n");
    return 2;
  }
  LoadedPlugin plugin;
  if (!plugin.Loaded()) {
    std::fprintf(stderr, "qvr_soak: cannot load QVR_PLUGIN_ZK-R41x0.dll (error %lu)\n", GetLastError());
    return 2;
  }
  Soak soak(plugin, options);
  // Printed first: the output's own buffers then exist before anything is measured.
  std::printf("qvr_soak: %ld labels of %d x %d dots in jobs of %ld, after a warm-up of %ld; stream in %s\n",
              options.labels, kLabelWidth, kLabelLength, options.labelsPerJob, options.warmup,
              Narrow(options.output).c_str());
  // A first census before anything runs, so that the census's own first-time
  // allocations are behind us too when the run's start is measured.
  const ProcessCensus before = TakeCensus();
  if (!soak.Prepare() || !soak.Print(options.warmup)) {
    std::fprintf(stderr, "qvr_soak: %s\n", Narrow(soak.FailedCall()).c_str());
    return 2;
  }
  // The census's own memory (counting GDI slots makes and frees tens of
  // thousands of regions) settles only on its second run: one more, unused.
  (void)TakeCensus();
  const ProcessCensus start = TakeCensus();
  std::printf("  private bytes: %s\n  handles: %s\n  GDI objects: %s\n", start.privateSource, start.handleSource,
              start.gdiCountedBySlots ? "fewer free slots in the GDI handle table (GetGuiResources reads 0)"
                                      : "GetGuiResources");
  std::printf("%-10s %7s %16s %19s %9s %12s %12s\n", "", "labels", "private bytes", "committed private", "handles",
              "GDI added", start.gdiCountedBySlots ? "GDI free" : "GDI in use");
  PrintRow("before", 0, before, start);
  PrintRow("start", 0, start, start);

  const ULONGLONG began = GetTickCount64();
  ProcessCensus last = start;
  long done = 0;
  for (long sample = 1; sample <= options.samples; ++sample) {
    const long target = static_cast<long>(int64_t{options.labels} * sample / options.samples);
    if (target == done) continue;
    if (!soak.Print(target - done)) {
      std::fprintf(stderr, "qvr_soak: %s\n", Narrow(soak.FailedCall()).c_str());
      return 2;
    }
    done = target;
    last = TakeCensus();
    PrintRow(sample == options.samples ? "end" : "", target, last, start);
  }
  const double seconds = static_cast<double>(GetTickCount64() - began) / 1000.0;

  std::printf("%-10s %7s %+16lld %+19lld %+9lld %+12lld\n", "change", "",
              static_cast<long long>(last.privateBytes) - static_cast<long long>(start.privateBytes),
              static_cast<long long>(last.committedPrivateBytes) - static_cast<long long>(start.committedPrivateBytes),
              static_cast<long long>(last.handles) - static_cast<long long>(start.handles),
              static_cast<long long>(GdiGrowth(start, last)));
  std::printf("%-10s %7s %+16lld %19s %+9lld %+12lld\n", "allowed", "", static_cast<long long>(kTolerance.privateBytes),
              "-", static_cast<long long>(kTolerance.handles), static_cast<long long>(kTolerance.gdiObjects));
  std::printf("qvr_soak: %ld labels in %.1f s, %.2f ms per label (census time included)\n", options.labels, seconds,
              seconds * 1000.0 / static_cast<double>(options.labels));
  const std::string grown = CensusGrowth(start, last, kTolerance);
  if (!grown.empty()) {
    std::printf("qvr_soak: GREW: %s\n", grown.c_str());
    return 1;
  }
  std::printf("qvr_soak: no growth\n");
  return 0;
}
