// Our host program: loads the plug-in DLL as the label application does,
// installs a raw printer in the spooler if needed, and drives a job described
// in a job file through the plug-in's 22-slot table. The printed stream is
// whatever the spooler writes to the job's output file.
//
//   qvr_host JOBFILE [--output FILE] [--printer NAME] [--setting NAME=VALUE]... [--config]
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host_bitmap.h"
#include "job_script.h"
#include "plugin_abi.h"
#include "spooler_setup.h"

namespace {

constexpr const wchar_t* kDefaultPrinter = L"QVR ZK-R41x0";
constexpr int16_t kDefaultResolution = 360;

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
  std::fprintf(stderr, "qvr_host: crashed with exception 0x%08lx\n", info->ExceptionRecord->ExceptionCode);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_EXECUTE_HANDLER;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int count =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(count), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), count, nullptr, nullptr);
  return narrow;
}

// A 24-bit DIB section the host draws into with GDI.
class DrawnBitmap {
 public:
  DrawnBitmap(int width, int height) : bitmap_(CreateDrawingBitmap(width, height)) {}
  explicit DrawnBitmap(HBITMAP loaded) : bitmap_(loaded) {}
  ~DrawnBitmap() {
    if (bitmap_ != nullptr) DeleteObject(bitmap_);
  }
  DrawnBitmap(const DrawnBitmap&) = delete;
  DrawnBitmap& operator=(const DrawnBitmap&) = delete;
  HBITMAP Get() const { return bitmap_; }

 private:
  HBITMAP bitmap_ = nullptr;
};

void DrawText(HDC dc, const RECT& area, const std::wstring& text, int height, COLORREF colour, UINT format) {
  HFONT font = CreateFontW(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial");
  HGDIOBJ oldFont = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, colour);
  RECT box = area;
  DrawTextW(dc, text.c_str(), -1, &box, format);
  SelectObject(dc, oldFont);
  DeleteObject(font);
}

// Paints one picture into a new bitmap: `design` draws a label's static
// design (frame, logo, fixed text), otherwise black text on white. The
// Microsoft-ABI host test (tests/msabi_host) draws text pictures the same way
// and compares streams: change both together.
std::unique_ptr<DrawnBitmap> Paint(int width, int height, const std::wstring& text, bool design) {
  auto bitmap = std::make_unique<DrawnBitmap>(width, height);
  if (bitmap->Get() == nullptr) return nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap->Get());
  RECT all{0, 0, width, height};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  if (design) {
    const int border = std::max(2, width / 100);
    HBRUSH frame = CreateSolidBrush(RGB(20, 40, 140));
    RECT edge{0, 0, width, border};
    FillRect(dc, &edge, frame);
    edge = {0, height - border, width, height};
    FillRect(dc, &edge, frame);
    edge = {0, 0, border, height};
    FillRect(dc, &edge, frame);
    edge = {width - border, 0, width, height};
    FillRect(dc, &edge, frame);
    DeleteObject(frame);
    // The logo: a red disc with a yellow bar across it.
    const int logo = std::min(width, height) / 4;
    HBRUSH red = CreateSolidBrush(RGB(220, 30, 30));
    HGDIOBJ oldBrush = SelectObject(dc, red);
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    Ellipse(dc, border * 3, border * 3, border * 3 + logo, border * 3 + logo);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(red);
    HBRUSH yellow = CreateSolidBrush(RGB(250, 210, 0));
    RECT bar{border * 3, border * 3 + logo * 2 / 5, border * 3 + logo, border * 3 + logo * 3 / 5};
    FillRect(dc, &bar, yellow);
    DeleteObject(yellow);
    RECT title{border * 4 + logo, border * 3, width - border * 3, border * 3 + logo};
    DrawText(dc, title, text, logo / 2, RGB(20, 40, 140), DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  } else {
    DrawText(dc, all, text, height * 3 / 4, RGB(0, 0, 0), DT_LEFT | DT_TOP | DT_NOPREFIX);
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  return bitmap;
}

class JobRunner {
 public:
  JobRunner(const LoadedPlugin& plugin, std::wstring printer, std::wstring output)
      : plugin_(plugin), printerName_(std::move(printer)), outputPath_(std::move(output)) {}
  ~JobRunner() {
    if (object_ != nullptr) plugin_.Delete(object_);
  }

  bool Run(const std::vector<ScriptLine>& lines) {
    for (const ScriptLine& line : lines) {
      line_ = &line;
      if (!Step(line.words)) return false;
    }
    if (job_) {
      if (!job_->End()) return Fail(L"the spooler did not end the document");
      std::printf("qvr_host: stream written to %s\n", Narrow(outputPath_).c_str());
    }
    return true;
  }

 private:
  bool Fail(const std::wstring& message) {
    std::fprintf(stderr, "qvr_host: line %d: %s\n", line_ != nullptr ? line_->number : 0, Narrow(message).c_str());
    return false;
  }
  static int Int(const std::wstring& word) { return std::stoi(word); }

  bool Check(bool answered, const wchar_t* call) {
    const bool wanted = !expectFalse_;
    expectFalse_ = false;
    if (answered == wanted) return true;
    return Fail(std::wstring(call) + (answered ? L" returned true, expected false" : L" returned false"));
  }

  bool EnsureObject() {
    if (object_ == nullptr) object_ = plugin_.Create();
    return object_ != nullptr || Fail(L"CreatePluginObject returned null");
  }

  bool EnsureJob() {
    if (!EnsureObject()) return false;
    if (job_) return true;
    if (!InstallRawPrinter(printerName_)) return Fail(L"cannot install printer " + printerName_);
    if (outputPath_.empty()) return Fail(L"no output file: give 'output PATH' or --output");
    DeleteFileW(outputPath_.c_str());
    job_ = std::make_unique<SpoolJob>(printerName_, outputPath_);
    if (!job_->Started()) return Fail(L"cannot start a spooler document on " + printerName_);
    return true;
  }

  bool Initialize() {
    if (!EnsureJob()) return false;
    HostJobRecord record(resolution_);
    HostExtraRecord extra;
    object_->vtbl->initialize(object_, job_->Printer(), record.bytes, extra.bytes);
    initialized_ = true;
    return true;
  }

  bool Step(const std::vector<std::wstring>& w) {
    const std::wstring& op = w[0];
    auto need = [&](size_t count) {
      if (w.size() == count + 1) return true;
      Fail(op + L" needs " + std::to_wstring(count) + L" values");
      return false;
    };
    try {
      if (op == L"printer") return need(1) && (printerName_ = w[1], true);
      if (op == L"output") return need(1) && (outputPath_.empty() ? (outputPath_ = w[1], true) : true);
      if (op == L"resolution") return need(1) && (resolution_ = static_cast<int16_t>(Int(w[1])), true);
      if (op == L"clear-settings") {
        return (InstallRawPrinter(printerName_) && ClearPrinterSettings(printerName_)) ||
               Fail(L"cannot clear settings");
      }
      if (op == L"setting") {
        if (!need(2)) return false;
        return (InstallRawPrinter(printerName_) && StorePrinterSetting(printerName_, w[1], std::stoll(w[2]))) ||
               Fail(L"cannot store " + w[1]);
      }
      if (op == L"expect-false") return expectFalse_ = true;
      if (op == L"config") {
        if (!EnsureObject() || !InstallRawPrinter(printerName_)) return false;
        const int32_t answer = object_->vtbl->configPlugin(object_, printerName_.c_str());
        std::printf("qvr_host: lpxConfigPlugin returned %d\n", answer);
        return true;
      }
      if (op == L"initialize") return Initialize();
      if (!initialized_ && !Initialize()) return false;
      auto* self = object_;
      const HostPluginVtbl& t = *object_->vtbl;
      if (op == L"header") {
        if (!need(2)) return false;
        const int32_t header[2] = {Int(w[1]), Int(w[2])};
        return Check(t.writePrintJobHeader(self, header), L"lpxWritePrintJobHeader");
      }
      if (op == L"layout") {
        if (!need(5)) return false;
        t.sendLayoutData(self, Int(w[1]), 0, 0, Int(w[4]), Int(w[5]), 0, 0, 0, 0, 0, Int(w[2]), Int(w[3]), 0);
        return true;
      }
      if (op == L"design" || op == L"text") {
        if (!need(4)) return false;
        auto bitmap = Paint(Int(w[2]), Int(w[3]), w[4], op == L"design");
        if (!bitmap) return Fail(L"cannot draw " + w[1]);
        bitmaps_[w[1]] = std::move(bitmap);
        return true;
      }
      if (op == L"bmp") {
        if (!need(2)) return false;
        auto loaded = static_cast<HBITMAP>(
            LoadImageW(nullptr, w[2].c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
        if (loaded == nullptr) return Fail(L"cannot load " + w[2]);
        bitmaps_[w[1]] = std::make_unique<DrawnBitmap>(loaded);
        return true;
      }
      if (op == L"send") {
        if (!need(1)) return false;
        auto it = bitmaps_.find(w[1]);
        if (it == bitmaps_.end()) return Fail(L"no bitmap named " + w[1]);
        HDC dc = GetDC(nullptr);
        const std::string name = Narrow(w[1]);
        const bool ok = t.sendBitmap(self, dc, it->second->Get(), name.c_str());
        ReleaseDC(nullptr, dc);
        return Check(ok, L"lpxSendBitmap");
      }
      if (op == L"start-label" || op == L"end-label" || op == L"base") {
        if (!need(2)) return false;
        const HostDotPoint at{Int(w[1]), Int(w[2])};
        if (op == L"base") return Check(t.referToBaseBitmap(self, &at), L"lpxReferToBaseBitmap");
        if (op == L"start-label") return Check(t.referToStartLabel(self, &at), L"lpxReferToStartLabel");
        return Check(t.referToEndLabel(self, &at), L"lpxReferToEndLabel");
      }
      if (op == L"variable") {
        if (!need(3)) return false;
        const HostDotPoint at{Int(w[2]), Int(w[3])};
        const std::string name = Narrow(w[1]);
        return Check(t.referToVariableBitmap(self, name.c_str(), &at), L"lpxReferToVariableBitmap");
      }
      if (op == L"clock") {
        if (!need(5)) return false;
        const HostDotPoint at{Int(w[2]), Int(w[3])};
        return Check(t.writeClock(self, w[1].c_str(), &at, Int(w[4]), w[5].c_str()), L"lpxWriteClock");
      }
      if (op == L"page") return Check(t.createNewPage(self), L"lpxCreateNewPage");
      if (op == L"close-static")
        return need(1) && Check(t.closeNewPageStatic(self, Int(w[1])), L"lpxCloseNewPageStatic");
      if (op == L"close-dynamic") {
        return need(1) && Check(t.closeNewPageDynamic(self, Int(w[1])), L"lpxCloseNewPageDynamic");
      }
      if (op == L"final") return Check(t.closeNewPageFinal(self), L"lpxCloseNewPageFinal");
      if (op == L"empty-page") return Check(t.addEmptyPage(self), L"lpxAddEmptyPage");
      if (op == L"write") return Check(t.writePrinter(self), L"lpxWritePrinter");
      if (op == L"clear") return Check(t.clear(self), L"lpxClear");
      return Fail(L"unknown command " + op);
    } catch (const std::exception&) {
      return Fail(L"bad number in " + op);
    }
  }

  const LoadedPlugin& plugin_;
  std::wstring printerName_;
  std::wstring outputPath_;
  int16_t resolution_ = kDefaultResolution;
  HostPluginObject* object_ = nullptr;
  std::unique_ptr<SpoolJob> job_;
  std::map<std::wstring, std::unique_ptr<DrawnBitmap>> bitmaps_;
  const ScriptLine* line_ = nullptr;
  bool initialized_ = false;
  bool expectFalse_ = false;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  SetUnhandledExceptionFilter(ReportCrash);
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);  // the dialog's trackbar needs its class registered by the host

  std::wstring jobFile, output, printer = kDefaultPrinter;
  std::vector<ScriptLine> preset;
  bool config = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--output" && i + 1 < argc) {
      output = argv[++i];
    } else if (arg == L"--printer" && i + 1 < argc) {
      printer = argv[++i];
    } else if (arg == L"--setting" && i + 1 < argc) {
      const std::wstring pair = argv[++i];
      const size_t eq = pair.find(L'=');
      if (eq == std::wstring::npos) {
        std::fprintf(stderr, "qvr_host: --setting wants NAME=VALUE\n");
        return 2;
      }
      preset.push_back({0, {L"setting", pair.substr(0, eq), pair.substr(eq + 1)}});
    } else if (arg == L"--config") {
      config = true;
    } else if (jobFile.empty() && arg.rfind(L"--", 0) != 0) {
      jobFile = arg;
    } else {
      std::fprintf(stderr,
                   "usage: qvr_host JOBFILE [--output FILE] [--printer NAME] [--setting NAME=VALUE]... [--config]\n");
      return 2;
    }
  }

  std::vector<ScriptLine> lines;
  lines.push_back({0, {L"printer", printer}});
  if (!jobFile.empty()) {
    std::ifstream in(jobFile.c_str(), std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "qvr_host: cannot read %s\n", Narrow(jobFile).c_str());
      return 2;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::wstring error;
    std::vector<ScriptLine> parsed;
    if (!ParseJobScript(text.str(), parsed, error)) {
      std::fprintf(stderr, "qvr_host: %s\n", Narrow(error).c_str());
      return 2;
    }
    // Command-line settings apply after the file's own, just before its first job step.
    size_t insertAt = 0;
    while (insertAt < parsed.size()) {
      const std::wstring& op = parsed[insertAt].words[0];
      if (op != L"printer" && op != L"output" && op != L"resolution" && op != L"clear-settings" && op != L"setting")
        break;
      ++insertAt;
    }
    parsed.insert(parsed.begin() + static_cast<std::ptrdiff_t>(insertAt), preset.begin(), preset.end());
    lines.insert(lines.end(), parsed.begin(), parsed.end());
  } else {
    lines.insert(lines.end(), preset.begin(), preset.end());
  }
  if (config) lines.push_back({0, {L"config"}});

  LoadedPlugin plugin;
  if (!plugin.Loaded()) {
    std::fprintf(stderr, "qvr_host: cannot load QVR_PLUGIN_ZK-R41x0.dll (error %lu)\n", GetLastError());
    return 1;
  }
  JobRunner runner(plugin, printer, output);
  return runner.Run(lines) ? 0 : 1;
}
