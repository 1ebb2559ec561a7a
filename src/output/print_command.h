// CPrintCommand: the printer's caret command language and the job's byte
// buffer. The only place that knows the text of the printer's commands; bytes
// reach the printer only through SendToPrinter.
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/geometry.h"
#include "platform/printer_port.h"
#include "platform/result_codes.h"

using ByteImage = std::vector<uint8_t>;

// Bytes of one extra copy of a page: an empty page format carrying the page over.
inline constexpr int64_t kCopyFormatBytes = 14;

class CPrintCommand {
 public:
  explicit CPrintCommand(Clock& clock) : clock_(clock) {}
  virtual ~CPrintCommand() = default;
  CPrintCommand(const CPrintCommand&) = delete;
  CPrintCommand& operator=(const CPrintCommand&) = delete;

  void AppendRaw(const uint8_t* begin, const uint8_t* end);
  void AppendRaw(std::string_view text);
  void AppendMarkerLabel();

  // Framing. A page format starts from the page the printer kept and is kept
  // for the next one; `extraCopies` empty page formats print it again. A
  // label format (an empty page, a start or end label) starts from white.
  void BeginPage();
  void EndPage(int32_t extraCopies);
  void BeginLabel();
  void EndLabel();

  // The marker label, then the set-up label for a label of `size` dots.
  // 301 when the clock text cannot be formatted; the marker label and the
  // set-up label's start then stay in the buffer.
  [[nodiscard]] ResultCode AppendJobSetup(DotSize size, std::string_view mediaCode, char cutMode, uint32_t pagesPerCut,
                                          int32_t printMode, char direction);

  // Stores `png` in the printer under `name`; the bytes follow the header unchanged.
  void AppendImageDownload(std::string_view name, const ByteImage& png);

  // Prints the image stored under `name` with its top-left corner at `position`.
  void AppendImageRecall(std::string_view name, DotPoint position);

  // Writes the whole buffer to the printer and empties it, whatever happens: 0 or 304.
  [[nodiscard]] ResultCode SendToPrinter(PrinterPort& printer);

  const std::vector<uint8_t>& Buffer() const { return buffer_; }
  // Drops everything appended after `length` bytes (used to undo an unfinished format).
  void TruncateTo(size_t length);

 private:
  Clock& clock_;
  std::vector<uint8_t> buffer_;
};

// Text of the printer clock command for a local time; false when it does not fit.
bool FormatPrinterClock(const LocalTime& time, char (&out)[32]);
