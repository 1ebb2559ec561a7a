// A naive model of the labels a job prints. It follows the host calls that
// succeeded and paints every label the slow obvious way, pixel by pixel,
// from what the host placed: the job's base tiled over the layout's grid,
// then each image, clock and white cell of the page in the order placed.
// The randomized engine tests and the plug-in fuzzer compare the labels the
// stream checker draws from the printed stream with it.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/print_control.h"
#include "platform/host_bitmap.h"
#include "platform/text_renderer.h"
#include "stream_checker.h"

namespace page_model {

// The print position adjustment as the printer's settings store it:
// "VOffset" and "HOffset", tenths of a millimetre, absent when unreadable.
struct StoredAdjustment {
  std::optional<uint32_t> vertical;
  std::optional<uint32_t> horizontal;
};

// Tenths of a millimetre in dots: 254 tenths to the inch, halves away from
// zero, kept within 32 bits.
int64_t TenthsToDots(int64_t tenths, int32_t resolution);

struct Colour {
  uint8_t r = 255, g = 255, b = 255;
};

// RGB pixels, rows top first, no padding: the form the stream checker draws in.
struct Picture {
  int32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;
  Picture() = default;
  Picture(int32_t w, int32_t h) : width(w), height(h), rgb(static_cast<size_t>(w) * static_cast<size_t>(h) * 3, 255) {}
  void Set(int64_t x, int64_t y, Colour c);  // a pixel off the picture is dropped
  Colour At(int64_t x, int64_t y) const;
};

// The labels a stretch of printing shows, in order.
struct ExpectedLabel {
  std::shared_ptr<const Picture> picture;  // null: printed, but not modelled
  int64_t count = 1;                       // the same label printed this many times in a row
};

class PageModel {
 public:
  static constexpr int64_t kLargestPage = 1587 * 2000;

  // `paintBudget`: pixels painted for one job at most; a job that needs more
  // is left unmodelled (its labels are counted, not compared).
  explicit PageModel(TextRenderer& text, int64_t paintBudget = 40'000'000) : text_(text), budget_(paintBudget) {}

  // The engine's resolution, fixed by the first initialisation.
  void SetResolution(int32_t resolution) { resolution_ = resolution; }
  // A new job, with the printer's adjustment as stored.
  void StartJob(StoredAdjustment adjustment);
  // The stored adjustment changed: the placements from now on take it.
  void Adjust(StoredAdjustment adjustment);
  // An accepted header: the label is the header's size brought into the printer's range.
  void Header(int32_t width, int32_t length);
  void Layout(const LayoutData& layout) { layout_ = layout; }
  // An accepted bitmap, waiting for the reference that places it.
  void Bitmap(const DibRows& rows, std::string_view name);
  void NewPage();
  void Base(DotPoint at);
  void Variable(DotPoint at);
  void Clock(std::u16string_view text, DotPoint at, int32_t fontHeight, std::u16string_view face);
  void CloseStatic(int32_t copies);
  void CloseDynamic(int32_t labelsUsed);
  void Final();
  void EmptyPage();
  void Label(DotPoint at);  // a start or end label
  // The host's clear: the waiting bitmap goes, and the kept base goes at
  // once or, when this job laid it out, when the job ends; a base bitmap
  // sent after it is laid out by the next base reference as a new design.
  void Clear();
  // The kept base is gone (dropped by the error print-out).
  void ForgetBase();
  // A failed call may or may not have changed the kept base: whatever needs
  // it is not modelled until a clear or a new base bitmap makes it known.
  void LoseTrack() { keptKnown_ = false; }

  bool HasKeptBase() const { return keptKnown_ && keptTile_ != nullptr; }
  const std::vector<ExpectedLabel>& JobLabels() const { return labels_; }
  // Empty while the job is modelled; else why not.
  const std::string& NotModelled() const { return notModelled_; }
  // The first call the engine accepted although it had nothing to do it with.
  const std::string& Disagreement() const { return disagreement_; }

 private:
  struct Element {
    int64_t x = 0, y = 0, width = 0, height = 0;
    std::shared_ptr<const Picture> pixels;  // null: white
  };
  struct Cell {
    int64_t width = 0, height = 0;
  };
  // The layout's grid: `outer` lines of `inner` cells, stepping as the
  // rotation turns the pitches, and the cell index of line j, place i.
  struct Grid {
    int64_t outer = 0, inner = 0, outerStep = 0, innerStep = 0;
    bool columnsOuter = false;
    int64_t Index(int64_t j, int64_t i, int64_t columns) const {
      return columnsOuter ? i * columns + j : j * columns + i;
    }
  };
  static std::optional<Grid> GridOf(const LayoutData& layout, int32_t resolution);
  bool Modelled() const { return notModelled_.empty(); }
  void GiveUp(std::string why);
  void Disagree(std::string what);
  bool Spend(int64_t pixels);
  // Host position moved by the offsets; nullopt (and the job unmodelled)
  // when the sum leaves 32 bits, where the engine saturates.
  std::optional<DotPoint> Moved(DotPoint at);
  void Paint(Picture& page, const Element& element);
  void Blank(int64_t firstCell);
  std::shared_ptr<const Picture> TakePending();
  // A white picture of the label's size.
  std::shared_ptr<const Picture> WhitePage();

  TextRenderer& text_;
  int64_t budget_;
  int32_t resolution_ = 360;
  int64_t offsetX_ = 0, offsetY_ = 0;  // the adjustment in dots
  int32_t labelWidth_ = 0, labelLength_ = 0;
  int32_t headerWidth_ = 0, headerLength_ = 0;
  LayoutData layout_;
  bool hasPending_ = false;                 // a bitmap waits for its reference
  std::shared_ptr<const Picture> pending_;  // its pixels; null when too large to model
  std::string pendingName_;
  // Kept from job to job until a clear.
  std::shared_ptr<const Picture> keptTile_;
  bool keptKnown_ = true;
  Cell cell_;  // the tile's size when the base's grid has more than one cell
  // Where the last base laid out put its copies: its first copy's corner and
  // its grid. White cells start from that corner, whatever the adjustment
  // does after; a layout that moves the copies lays the base out again.
  int64_t baseX_ = 0, baseY_ = 0;
  std::optional<Grid> baseGrid_;
  int64_t baseColumns_ = 0;
  // This job.
  int64_t referCount_ = 0;
  int64_t pageRefers_ = 0;         // base references on the page being placed
  bool clearedSinceBase_ = false;  // a clear came after this job laid out its base
  int32_t extraCopies_ = 0;
  std::shared_ptr<const Picture> jobBase_;  // null: the job's pages are white underneath
  std::vector<Element> elements_;
  std::vector<ExpectedLabel> labels_;
  int64_t spent_ = 0;
  std::string notModelled_;
  std::string disagreement_;
  std::shared_ptr<const Picture> white_;  // the last white page made
};

// Checks `stream` as the printer would, fed a piece at a time: only the
// commands of one piece are held at once, where a parse of the whole of a
// job of a million copies would hold gigabytes of them.
streamcheck::CheckResult CheckInPieces(std::string_view stream, const streamcheck::LabelSink* sink = nullptr);

// Checks `stream` and compares the labels it prints, from `firstOffset` on,
// with `expected`. Empty when they agree; else the first difference.
std::string CompareLabels(std::string_view stream, const std::vector<ExpectedLabel>& expected, size_t firstOffset = 0);

}  // namespace page_model
