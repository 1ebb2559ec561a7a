// CPrintCommand: the printer's caret command language and the job's byte
// buffer. The only place that knows the text of the printer's commands; bytes
// reach the printer only through SendToPrinter.
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/printer_port.h"
#include "platform/result_codes.h"

using ByteImage = std::vector<uint8_t>;

// The tokens that frame the stream's label formats, for the units that frame
// pages themselves.
namespace printer_commands {
inline constexpr std::string_view kFormatStart = "^XA";
inline constexpr std::string_view kFormatEnd = "^XZ";
inline constexpr std::string_view kPageCarryIn = "^C(L";   // the format starts from the kept page
inline constexpr std::string_view kPageCarryOut = "^C(S";  // the format's page is kept for the next one
}  // namespace printer_commands

class CPrintCommand {
 public:
  explicit CPrintCommand(Clock& clock) : clock_(clock) {}
  virtual ~CPrintCommand() = default;
  CPrintCommand(const CPrintCommand&) = delete;
  CPrintCommand& operator=(const CPrintCommand&) = delete;

  void AppendRaw(const uint8_t* begin, const uint8_t* end);
  void AppendRaw(std::string_view text);
  void AppendMarkerLabel();

  // size: width then length in dots. 301 when the size or media code is
  // missing (nothing appended) or the clock text cannot be formatted.
  ResultCode AppendJobSetup(const int32_t* size, const char* mediaCode, char cutMode, uint32_t pagesPerCut,
                            int32_t printMode, char direction);

  ResultCode AppendImageDownload(const char* name, const ByteImage& png);

  // position: x then y in dots; 303 when missing.
  ResultCode AppendImageRecall(const char* name, const int32_t* position);

  // Writes the whole buffer to the printer and empties it, whatever happens: 0 or 304.
  ResultCode SendToPrinter(PrinterPort& printer);

  const std::vector<uint8_t>& Buffer() const { return buffer_; }
  // Drops everything appended after `length` bytes (used to undo an unfinished format).
  void TruncateTo(size_t length);

 private:
  Clock& clock_;
  std::vector<uint8_t> buffer_;
};

// Text of the printer clock command for a local time; false when it does not fit.
bool FormatPrinterClock(const LocalTime& time, char (&out)[32]);
