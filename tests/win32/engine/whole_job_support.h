// Whole jobs as the host runs them, judged by what the printer would print:
// pictures drawn with GDI (with their pixels kept for the expected labels), a
// plug-in object driven through the host's 22-slot table against a raw
// spooler printer, and the spooled stream checked and rendered.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/plugin_abi.h"
#include "host/spooler_setup.h"
#include "platform/win32/unique_handle.h"
#include "rgb_image.h"
#include "stream_checker.h"
#include "stream_parser.h"
#include "support/win32/test_files.h"

namespace wholejob {

using streamcheck::RgbImage;

inline constexpr int16_t kResolution = 360;

// The clock the jobs print: its face, its height, and how far its glyph edges
// may reach past the box it was measured in.
inline constexpr const wchar_t* kClockFace = L"Lucida Console";
inline constexpr int32_t kClockHeight = 28;
inline constexpr int32_t kClockMargin = 2;

// A rectangle on a label, in dots.
struct Box {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
  Box Grown(int32_t by) const { return {x - by, y - by, width + 2 * by, height + 2 * by}; }
  bool Holds(int32_t px, int32_t py) const { return px >= x && py >= y && px < x + width && py < y + height; }
};

// A bitmap the host hands over, and the pixels it holds (top row first).
struct HostPicture {
  UniqueBitmap bitmap;
  RgbImage pixels;
  int32_t Width() const { return pixels.width; }
  int32_t Height() const { return pixels.height; }
};

// A 24-bit DIB section: paper, a border, a disc and a bar in `ink`, drawn in
// the upper half only so that the lower half stays plain paper.
HostPicture PaintColourPicture(int32_t width, int32_t height, COLORREF paper, COLORREF ink);
// A 1-bit bitmap made from a checkerboard of `square` dots, with a black box
// drawn over its middle with GDI.
HostPicture PaintMonoPicture(int32_t width, int32_t height, int32_t square);

// Pitch in tenths of a millimetre as dots at 360 dpi, halves away from zero.
int32_t TenthsToDots(int32_t tenths);

// One label cell of a layout: its index in the host's numbering and where its
// top-left corner lands for the given start.
struct Cell {
  int32_t index = 0;
  int32_t x = 0;
  int32_t y = 0;
};
// The cells of a rows x columns layout at a rotation, as the printer places
// them from `start` with pitches h (between columns) and v (between rows).
std::vector<Cell> LayoutCells(int32_t rotation, int32_t rows, int32_t columns, int32_t h, int32_t v, int32_t startX,
                              int32_t startY);

// A clock's anchor turned by the layout's rotation, for a host label of
// headerWidth x headerLength.
POINT TurnClockAnchor(int32_t rotation, int32_t x, int32_t y, int32_t headerWidth, int32_t headerLength);
// Where the clock's picture lands for a (turned, adjusted) anchor: the text's
// extent measured with the same face and height, laid out for the rotation.
Box ClockBox(const std::wstring& text, int32_t height, const std::wstring& face, int32_t rotation, POINT anchor);

// Pixel-for-pixel comparison, skipping the `ignored` boxes.
testing::AssertionResult SameLabel(const RgbImage& actual, const RgbImage& expected,
                                   const std::vector<Box>& ignored = {});
// Pixels whose three channels are all below 100.
int DarkPixelsIn(const RgbImage& image, Box box);

// The spooled stream, checked by the stream checker, with every printed label.
struct PrintedJob {
  std::string stream;
  streamcheck::ParsedStream parsed;
  streamcheck::CheckResult check;
  std::vector<RgbImage> labels;
};
PrintedJob ReadPrintedJob(const std::wstring& path);

// The commands of each label format ("^XA" to "^XZ"), in stream order.
std::vector<std::vector<streamcheck::Command>> Formats(const streamcheck::ParsedStream& parsed);

// Stores all twelve settings with the values a printer without data reads,
// so that each test starts from the same settings (Wine cannot delete them).
bool StoreNeutralSettings(const std::wstring& printer);

// One plug-in object and one spooler document on `printer`, driven the way
// the host drives them. Every call answers what the table slot answered.
class HostSession {
 public:
  HostSession(const LoadedPlugin& plugin, const std::wstring& printer, const std::wstring& fileName);
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  bool Ready() const { return object_ != nullptr && job_ && job_->Started(); }
  const HostPluginVtbl& T() const { return *object_->vtbl; }
  HostPluginObject* Object() const { return object_; }

  void Initialize(int16_t resolution = kResolution);
  bool Header(int32_t width, int32_t length);
  void Layout(int32_t rotation, int32_t columns, int32_t rows, int32_t horizontalPitch, int32_t verticalPitch);
  bool Send(const char* name, const HostPicture& picture);
  bool Base(int32_t x, int32_t y);
  bool Variable(const char* name, int32_t x, int32_t y);
  bool Clock(const std::wstring& text, int32_t x, int32_t y, int32_t height, const std::wstring& face);
  bool StartLabel(int32_t x, int32_t y);
  bool EndLabel(int32_t x, int32_t y);
  bool Page();
  bool CloseStatic(int32_t copies);
  bool CloseDynamic(int32_t used);
  bool Final();
  bool EmptyPage();
  bool Write();
  // Ends the spooler document and reads what the printer received.
  PrintedJob Finish();
  // Finish(), then closes the document's printer handle and opens a new
  // one on a document of its own, as a host does for its next job.
  PrintedJob NextDocument(const std::wstring& fileName);

 private:
  const LoadedPlugin& plugin_;
  HostPluginObject* object_ = nullptr;
  std::wstring printer_;
  std::unique_ptr<TempFile> output_;
  std::unique_ptr<SpoolJob> job_;
};

}  // namespace wholejob
