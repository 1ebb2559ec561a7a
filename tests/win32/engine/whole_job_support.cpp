#include "win32/engine/whole_job_support.h"

#include <winspool.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string_view>

#include "host/host_bitmap.h"

namespace wholejob {

namespace {

constexpr uint8_t kDarkLimit = 100;
constexpr int kDifferencesShown = 5;

// Reads a top-down 24-bit DIB section's own memory as RGB.
RgbImage PixelsOfSection(const uint8_t* bits, int32_t width, int32_t height) {
  RgbImage image = RgbImage::White(width, height);
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* from = bits + stride * static_cast<size_t>(y);
    uint8_t* to = image.rgb.data() + image.RowBytes() * static_cast<size_t>(y);
    for (int32_t x = 0; x < width; ++x) {
      to[x * 3] = from[x * 3 + 2];
      to[x * 3 + 1] = from[x * 3 + 1];
      to[x * 3 + 2] = from[x * 3];
    }
  }
  return image;
}

void FillBox(HDC dc, RECT box, COLORREF colour) {
  UniqueAny<handle_traits::GdiObject<HBRUSH>> brush(CreateSolidBrush(colour));
  FillRect(dc, &box, brush.get());
}

}  // namespace

HostPicture PaintColourPicture(int32_t width, int32_t height, COLORREF paper, COLORREF ink) {
  HostPicture picture;
  void* bits = nullptr;
  picture.bitmap = UniqueBitmap(CreateDrawingBitmap(width, height, &bits));
  if (!picture.bitmap || bits == nullptr) return picture;
  {
    UniqueDc dc(CreateCompatibleDC(nullptr));
    SelectGuard selected(dc.get(), picture.bitmap.get());
    FillBox(dc.get(), {0, 0, width, height}, paper);
    const int32_t border = std::max(2, width / 60);
    FillBox(dc.get(), {0, 0, width, border}, ink);
    FillBox(dc.get(), {0, 0, border, height / 2}, ink);
    FillBox(dc.get(), {width - border, 0, width, height / 2}, ink);
    UniqueAny<handle_traits::GdiObject<HBRUSH>> discBrush(CreateSolidBrush(RGB(220, 30, 30)));
    SelectGuard brush(dc.get(), discBrush.get());
    SelectGuard pen(dc.get(), GetStockObject(NULL_PEN));
    const int32_t disc = std::min(width, height) / 3;
    Ellipse(dc.get(), border * 2, border * 2, border * 2 + disc, border * 2 + disc);
    FillBox(dc.get(), {width / 2, height / 6, width - border * 2, height / 3}, ink);
  }
  GdiFlush();
  picture.pixels = PixelsOfSection(static_cast<const uint8_t*>(bits), width, height);
  return picture;
}

HostPicture PaintMonoPicture(int32_t width, int32_t height, int32_t square) {
  HostPicture picture;
  // Rows of a device-dependent bitmap are word aligned.
  const size_t rowBytes = ((static_cast<size_t>(width) + 15) / 16) * 2;
  std::vector<uint8_t> bits(rowBytes * static_cast<size_t>(height), 0);
  picture.pixels = RgbImage::White(width, height);
  const RECT blackBox{width / 4, height / 4, width / 2, height * 3 / 4};
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const bool white = ((x / square) + (y / square)) % 2 == 0;
      if (white) bits[rowBytes * y + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      const bool inBox = x >= blackBox.left && x < blackBox.right && y >= blackBox.top && y < blackBox.bottom;
      if (!white || inBox) {
        uint8_t* p = picture.pixels.rgb.data() + picture.pixels.RowBytes() * y + static_cast<size_t>(x) * 3;
        p[0] = p[1] = p[2] = 0;
      }
    }
  }
  picture.bitmap = UniqueBitmap(CreateBitmap(width, height, 1, 1, bits.data()));
  if (!picture.bitmap) return picture;
  UniqueDc dc(CreateCompatibleDC(nullptr));
  SelectGuard selected(dc.get(), picture.bitmap.get());
  FillRect(dc.get(), &blackBox, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  return picture;
}

int32_t TenthsToDots(int32_t tenths) {
  return static_cast<int32_t>(std::lround(tenths * static_cast<double>(kResolution) / 254.0));
}

std::vector<Cell> LayoutCells(int32_t rotation, int32_t rows, int32_t columns, int32_t h, int32_t v, int32_t startX,
                              int32_t startY) {
  // Rotated layouts walk the columns along y and the rows along x.
  const bool turned = rotation == 90 || rotation == 270;
  const int32_t outerCount = turned ? columns : rows;
  const int32_t innerCount = turned ? rows : columns;
  int32_t outerStep = 0, innerStep = 0;
  switch (rotation) {
    case 0:
      outerStep = v;
      innerStep = h;
      break;
    case 90:
      outerStep = -h;
      innerStep = v;
      break;
    case 180:
      outerStep = -v;
      innerStep = -h;
      break;
    case 270:
      outerStep = h;
      innerStep = -v;
      break;
    default: return {};
  }
  std::vector<Cell> cells;
  for (int32_t j = 0; j < outerCount; ++j) {
    for (int32_t i = 0; i < innerCount; ++i) {
      const int32_t index = turned ? i * columns + j : j * columns + i;
      cells.push_back({index, startX + i * innerStep, startY + j * outerStep});
    }
  }
  return cells;
}

POINT TurnClockAnchor(int32_t rotation, int32_t x, int32_t y, int32_t headerWidth, int32_t headerLength) {
  switch (rotation) {
    case 90: return {y, headerLength - x};
    case 180: return {headerWidth - x, headerLength - y};
    case 270: return {headerWidth - y, x};
    default: return {x, y};
  }
}

Box ClockBox(const std::wstring& text, int32_t height, const std::wstring& face, int32_t rotation, POINT anchor) {
  UniqueScreenDc screen(GetDC(nullptr));
  UniqueDc dc(CreateCompatibleDC(screen.get()));
  LOGFONTW description{};
  description.lfHeight = height;
  description.lfCharSet = DEFAULT_CHARSET;
  face.copy(description.lfFaceName, LF_FACESIZE - 1);
  UniqueFont font(CreateFontIndirectW(&description));
  SelectGuard selected(dc.get(), font.get());
  RECT extent{0, 0, 0, 0};
  DrawTextW(dc.get(), text.c_str(), -1, &extent, DT_CALCRECT);
  const int32_t w = extent.right;
  const int32_t h = extent.bottom;
  switch (rotation) {
    case 90: return {anchor.x, anchor.y - w, h, w};
    case 180: return {anchor.x - w, anchor.y - h, w, h};
    case 270: return {anchor.x - h, anchor.y, h, w};
    default: return {anchor.x, anchor.y, w, h};
  }
}

testing::AssertionResult SameLabel(const RgbImage& actual, const RgbImage& expected, const std::vector<Box>& ignored) {
  if (actual.width != expected.width || actual.height != expected.height) {
    return testing::AssertionFailure() << "label is " << actual.width << " x " << actual.height << ", expected "
                                       << expected.width << " x " << expected.height;
  }
  size_t differing = 0;
  std::ostringstream shown;
  for (int32_t y = 0; y < actual.height; ++y) {
    for (int32_t x = 0; x < actual.width; ++x) {
      const uint8_t* a = actual.Pixel(x, y);
      const uint8_t* e = expected.Pixel(x, y);
      if (a[0] == e[0] && a[1] == e[1] && a[2] == e[2]) continue;
      bool skipped = false;
      for (const Box& box : ignored) skipped = skipped || box.Holds(x, y);
      if (skipped) continue;
      if (differing++ < kDifferencesShown) {
        shown << " (" << x << "," << y << ") is " << int{a[0]} << "/" << int{a[1]} << "/" << int{a[2]} << " not "
              << int{e[0]} << "/" << int{e[1]} << "/" << int{e[2]} << ";";
      }
    }
  }
  if (differing == 0) return testing::AssertionSuccess();
  return testing::AssertionFailure() << differing << " pixels differ:" << shown.str();
}

int DarkPixelsIn(const RgbImage& image, Box box) {
  int dark = 0;
  for (int32_t y = std::max(box.y, 0); y < std::min(box.y + box.height, image.height); ++y) {
    for (int32_t x = std::max(box.x, 0); x < std::min(box.x + box.width, image.width); ++x) {
      const uint8_t* p = image.Pixel(x, y);
      dark += p[0] < kDarkLimit && p[1] < kDarkLimit && p[2] < kDarkLimit;
    }
  }
  return dark;
}

PrintedJob ReadPrintedJob(const std::wstring& path) {
  PrintedJob job;
  const std::vector<uint8_t> bytes = ReadWholeFile(path);
  job.stream.assign(bytes.begin(), bytes.end());
  job.parsed = streamcheck::ParseStream(job.stream);
  const streamcheck::LabelSink sink = [&job](const streamcheck::PrintedLabel& label) {
    job.labels.push_back(label.picture);
    return true;
  };
  job.check = streamcheck::CheckStream(job.stream, job.parsed, &sink);
  return job;
}

std::vector<std::vector<streamcheck::Command>> Formats(const streamcheck::ParsedStream& parsed) {
  std::vector<std::vector<streamcheck::Command>> formats;
  bool open = false;
  for (const streamcheck::Command& command : parsed.commands) {
    if (command.kind == streamcheck::CommandKind::FormatStart) {
      formats.emplace_back();
      open = true;
    }
    if (open) formats.back().push_back(command);
    if (command.kind == streamcheck::CommandKind::FormatEnd) open = false;
  }
  return formats;
}

bool StoreNeutralSettings(const std::wstring& printer) {
  struct Setting {
    const wchar_t* name;
    int64_t value;
  };
  constexpr Setting kNeutral[] = {{L"MediaType", 2},   {L"VOffset", 0},       {L"HOffset", 0}, {L"Unit", 0},
                                  {L"PrintError", 1},  {L"ForcePrinting", 0}, {L"AutoCut", 1}, {L"CutTiming", 0},
                                  {L"CutInterval", 1}, {L"PrintQuality", 0},  {L"Bi-d", 1},    {L"BandR", 1}};
  if (!InstallRawPrinter(printer)) return false;
  for (const Setting& setting : kNeutral) {
    if (!StorePrinterSetting(printer, setting.name, setting.value)) return false;
  }
  return true;
}

HostSession::HostSession(const LoadedPlugin& plugin, const std::wstring& printer, const std::wstring& fileName)
    : plugin_(plugin), object_(plugin.Create()), printer_(printer), output_(std::make_unique<TempFile>(fileName)) {
  job_ = std::make_unique<SpoolJob>(printer, output_->Path());
}

HostSession::~HostSession() {
  job_.reset();
  if (object_ != nullptr) plugin_.Delete(object_);
}

void HostSession::Initialize(int16_t resolution) {
  HostJobRecord record(resolution);
  HostExtraRecord extra;
  T().initialize(object_, job_->Printer(), record.bytes, extra.bytes);
}

bool HostSession::Header(int32_t width, int32_t length) {
  const int32_t header[2] = {width, length};
  return T().writePrintJobHeader(object_, header);
}

void HostSession::Layout(int32_t rotation, int32_t columns, int32_t rows, int32_t horizontalPitch,
                         int32_t verticalPitch) {
  T().sendLayoutData(object_, rotation, 0, 0, horizontalPitch, verticalPitch, 0, 0, 0, 0, 0, columns, rows, 0);
}

bool HostSession::Send(const char* name, const HostPicture& picture) {
  // The host hands its bitmaps over with a screen DC.
  UniqueScreenDc screen(GetDC(nullptr));
  return T().sendBitmap(object_, screen.get(), picture.bitmap.get(), name);
}

bool HostSession::Base(int32_t x, int32_t y) {
  const HostDotPoint at{x, y};
  return T().referToBaseBitmap(object_, &at);
}

bool HostSession::Variable(const char* name, int32_t x, int32_t y) {
  const HostDotPoint at{x, y};
  return T().referToVariableBitmap(object_, name, &at);
}

bool HostSession::Clock(const std::wstring& text, int32_t x, int32_t y, int32_t height, const std::wstring& face) {
  const HostDotPoint at{x, y};
  return T().writeClock(object_, text.c_str(), &at, height, face.c_str());
}

bool HostSession::StartLabel(int32_t x, int32_t y) {
  const HostDotPoint at{x, y};
  return T().referToStartLabel(object_, &at);
}

bool HostSession::EndLabel(int32_t x, int32_t y) {
  const HostDotPoint at{x, y};
  return T().referToEndLabel(object_, &at);
}

bool HostSession::Page() { return T().createNewPage(object_); }
bool HostSession::CloseStatic(int32_t copies) { return T().closeNewPageStatic(object_, copies); }
bool HostSession::CloseDynamic(int32_t used) { return T().closeNewPageDynamic(object_, used); }
bool HostSession::Final() { return T().closeNewPageFinal(object_); }
bool HostSession::EmptyPage() { return T().addEmptyPage(object_); }
bool HostSession::Write() { return T().writePrinter(object_); }

PrintedJob HostSession::Finish() {
  job_->End();
  return ReadPrintedJob(output_->Path());
}

PrintedJob HostSession::NextDocument(const std::wstring& fileName) {
  PrintedJob finished = Finish();
  job_.reset();
  output_ = std::make_unique<TempFile>(fileName);
  job_ = std::make_unique<SpoolJob>(printer_, output_->Path());
  return finished;
}

}  // namespace wholejob
