// CPrintControl: the job engine. Checks each job against the printer, writes
// the job set-up, assembles pages from the host's bitmaps and frames them in
// the command stream. One per plug-in object, from the first initialisation on.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings_store.h"
#include "output/band_emitter.h"
#include "output/print_command.h"
#include "output/page_model.h"
#include "output/print_image.h"
#include "platform/clock.h"
#include "platform/geometry.h"
#include "platform/log_sink.h"
#include "platform/printer_port.h"
#include "platform/text_renderer.h"

// What the engine needs of the machine it runs on besides the job's printer,
// which each job names for itself (BeginJob).
struct JobServices {
  Clock& clock;
  TextRenderer& text;
  LogSink& log;
};

// The thirteen values of the host's layout call; the engine reads five.
struct LayoutData {
  int32_t rotation = 0;
  int32_t unused2 = 0;
  int32_t unused3 = 0;
  int32_t horizontalPitch = 0;  // tenths of a millimetre
  int32_t verticalPitch = 0;    // tenths of a millimetre
  int32_t unused6 = 0;
  int32_t unused7 = 0;
  int32_t unused8 = 0;
  int32_t unused9 = 0;
  int32_t unused10 = 0;
  int32_t labelColumns = 0;
  int32_t labelRows = 0;
  uint8_t unused13 = 0;
};

inline constexpr std::array<const char*, kMediaCount> MediaTypeCodes = {"P1", "M1", "M2", "S1", "S2", "G1"};

namespace printer_limits {
inline constexpr int32_t kResolution = 360;
inline constexpr int32_t kMinWidth = 425;
inline constexpr int32_t kMaxWidth = 1587;
inline constexpr int32_t kMinLength = 113;
inline constexpr int32_t kMaxLength = 14400;
inline constexpr int32_t kMinCutLength = 212;
inline constexpr int32_t kErrorPageLength = 212;
}  // namespace printer_limits

inline constexpr size_t kMessageChars = 256;
inline constexpr std::u16string_view kHeaderSource = u"lpxWritePrintJobHeader";
inline constexpr std::u16string_view kMessageInvalidResolution = u"ERROR: Invalid Resolution";
inline constexpr std::u16string_view kMessageInvalidPaperSize = u"ERROR: Invalid Paper Size";
inline constexpr std::u16string_view kMessageTooShortToCut = u"ERROR:\nPaper is too short to cut";

// Names of the bitmaps the engine expects.
inline constexpr std::string_view kBaseBitmapName = "BASE01";
inline constexpr std::string_view kStartLabelName = "START01";
inline constexpr std::string_view kEndLabelName = "END01";

// Copies of one static close. Every extra copy is an empty page format
// (kCopyFormatBytes bytes) that the final close appends to the command
// buffer; the ceiling keeps all of a page's copies within 16 MiB, so no count
// the host may pass can make the buffer grow without bound. A larger count is
// refused like a count below 1.
inline constexpr int64_t kCopyBytesCeiling = int64_t{16} << 20;
inline constexpr int32_t kMaxCopies = static_cast<int32_t>(1 + kCopyBytesCeiling / kCopyFormatBytes);

// Every operation answers with a result code (0 for success), and a failure
// stops it where it is. Only memory exhaustion travels as an exception
// (std::bad_alloc), up to the call protocol, which has checked the host's
// pointers and counts before it calls.
//
// The engine is a pipeline. Job set-up (job_header.cpp, error_page.cpp)
// checks the header, reads the settings and writes the set-up. Page assembly
// (page_assembly.cpp) places what the host hands over into the page model,
// which owns the base, the counts and what the printer holds. Emission
// (page_emission.cpp) hands what must go out to the band emitter, which
// composes, cuts, encodes and appends it, then notes in the page model what
// the printer now holds.
class CPrintControl {
 public:
  CPrintControl(int32_t resolution, PrinterPort& printer, JobServices services);
  virtual ~CPrintControl() = default;
  CPrintControl(const CPrintControl&) = delete;
  CPrintControl& operator=(const CPrintControl&) = delete;

  // A new job on this engine: the command buffer, an unconsumed bitmap and
  // everything the pages of an earlier job left are dropped, and the job
  // reads its settings from and writes to `printer`. The base tile is kept
  // for a job that sends no base bitmap.
  void BeginJob(PrinterPort& printer);
  // The host's clear: drops the bitmap waiting for its reference and the
  // base kept for later jobs, so that the next job needs a base bitmap
  // again. The job running keeps the base it laid out until it ends: its
  // pages go on from what the printer holds, and a base bitmap sent after
  // the clear becomes the base of the pages that follow.
  void ClearImages();

  // Job set-up: `header` is the host's record (width at byte 0, length at byte 4).
  [[nodiscard]] ResultCode WritePrintJobHeader(const void* header);

  // The host's layout, stored as given; read by the placements that follow.
  void SetLayout(const LayoutData& values) { layout_ = values; }
  // Reads the host's bitmap into the raster's source and, once that worked,
  // remembers its name for the reference that will place it.
  [[nodiscard]] ResultCode ReceiveBitmap(HostBitmap& bitmap, std::string_view name);

  // Page assembly.
  void CreateNewPage();
  [[nodiscard]] ResultCode ReferToBaseBitmap(const DotPoint& position);
  [[nodiscard]] ResultCode ReferToVariableBitmap(const DotPoint& position, std::string_view name);
  [[nodiscard]] ResultCode WriteClock(std::u16string_view text, const DotPoint& position, int32_t fontHeight,
                                      std::u16string_view faceName);
  [[nodiscard]] ResultCode CloseNewPageStatic(int32_t copies);
  [[nodiscard]] ResultCode CloseNewPageDynamic(int32_t labelsUsed);
  [[nodiscard]] ResultCode CloseNewPageFinal();
  [[nodiscard]] ResultCode AddEmptyPage();
  [[nodiscard]] ResultCode ReferToLabel(const DotPoint& position, std::string_view name);

  // Writes what the job built to its printer and empties the buffer: 0 or 304.
  [[nodiscard]] ResultCode SendToPrinter() { return command_.SendToPrinter(*printer_); }
  // Whether a base design is at hand for a job that sends none.
  bool HasBase() const { return page_.HasBase(); }
  // What the printer holds of the page being assembled.
  const PageModel& Page() const { return page_; }

 private:
  // Job set-up.
  bool CheckJobHeader(char16_t (&message)[kMessageChars], DotSize& errorPageSize, char& cutMode,
                      uint32_t& pagesPerCut) const;
  std::string_view MediaCode();
  void PrintErrorPage(std::u16string_view message, DotSize errorPageSize, char cutMode, uint32_t pagesPerCut);
  // `keep`: the bytes of the buffer that stay when the print-out fails.
  [[nodiscard]] ResultCode WriteErrorPage(std::u16string_view message, DotSize errorPageSize, char cutMode,
                                          uint32_t pagesPerCut, size_t& keep);
  // The stored print position adjustment, read once for each placement.
  PositionAdjustment ReadAdjustment() const;

  // Page assembly: placements into the page model.
  // Records the base's grid in the page model from the waiting base bitmap
  // (`fromBitmap`) or the kept tile at `position` and sends the whole page.
  [[nodiscard]] ResultCode LayOutBase(const DotPoint& position, bool fromBitmap);
  // Whether the layout now lays the base's copies out otherwise than the
  // grid it was laid out on.
  bool LayoutMovesBase() const;
  // Places the source as the page's next variable element at `point`.
  [[nodiscard]] ResultCode PlaceField(DotPoint point);
  [[nodiscard]] ResultCode BlankUnusedLabels(int64_t firstCell);
  DotSize LabelSize() const { return {labelWidth_, labelLength_}; }

  // The job set-up for a label of `size`, with the medium and quality stored for the printer.
  [[nodiscard]] ResultCode AppendSetup(DotSize size, char cutMode, uint32_t pagesPerCut);

  // Emission: send through the band emitter, note in the page model.
  // Sends a raster of the page being assembled at `at` and notes it sent.
  [[nodiscard]] ResultCode SendOnPage(const RasterImage& raster, DotPoint at);
  // Composes the page in `window` band by band, sends it and notes it sent.
  [[nodiscard]] ResultCode SendComposedWindow(const DotRect& window);
  // A label format of its own, outside the pages: an empty page, a start or
  // end label, the error print-out. `content` sends what it holds; a failure
  // leaves the format unfinished for the caller to drop or keep.
  template <typename Content>
  [[nodiscard]] ResultCode SendLabelFormat(Content&& content) {
    command_.BeginLabel();
    if (const ResultCode code = content(); code != result::kOk) return code;
    command_.EndLabel();
    return result::kOk;
  }
  // The first page of a job that has sent no base starts from a whole white
  // page, not from whatever an earlier job left in the printer.
  [[nodiscard]] ResultCode CoverPageOnce();

  CPrintCommand command_;
  CBandEmitter emitter_;  // appends to command_
  CPrintImage image_;
  PageModel page_;
  LayoutData layout_;
  std::string imageName_;
  JobServices services_;
  PrinterPort* printer_;
  int32_t resolution_;
  int32_t labelWidth_ = 0;
  int32_t labelLength_ = 0;
  int32_t headerWidth_ = 0;
  int32_t headerLength_ = 0;
  int32_t extraCopies_ = 0;

  // Page assembly's own storage, reused from page to page.
  std::vector<DotRect> stale_;
  std::vector<DotRect> whiteCells_;
  std::vector<WhiteArea> whiteRuns_;
  RasterImage field_;       // a field's pixels cut to the page, handed to the page model
  RasterImage labelImage_;  // a start or end label's page
};
