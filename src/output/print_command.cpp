#include "output/print_command.h"

#include <charconv>
#include <string>

#include "platform/bounded_format.h"

namespace {

constexpr std::string_view kFormatStart = "^XA";
constexpr std::string_view kFormatEnd = "^XZ";
constexpr std::string_view kPageCarryIn = "^C(L";   // the format starts from the kept page
constexpr std::string_view kPageCarryOut = "^C(S";  // the format's page is kept for the next one
static_assert(kCopyFormatBytes == static_cast<int64_t>(kFormatStart.size() + kPageCarryIn.size() +
                                                       kPageCarryOut.size() + kFormatEnd.size()),
              "one extra copy is one empty page format");
constexpr std::string_view kComment = "^FX";
constexpr std::string_view kMarkerText = "LTCommand";
constexpr std::string_view kFieldEnd = "^FS";
constexpr std::string_view kMediaType = "^S(CLM,T,";
constexpr std::string_view kLabelWidth = "^S(CLS,P,";
constexpr std::string_view kLabelLength = "^S(CLS,L,";
constexpr std::string_view kClockFormat = "^ST%d,%d,%04d,%d,%d,%d,M";
constexpr std::string_view kCutMode = "^S(CX0,L,";
constexpr std::string_view kPagesPerCut = "^S(CX0,C,";
constexpr std::string_view kPrintMode = "^S(CX0,Q,";
constexpr std::string_view kDirection = "^S(CMP,D,";
constexpr std::string_view kSetupEnd = "^C(D";
constexpr std::string_view kDownload = "~DYR:";
constexpr std::string_view kDownloadFormat = ",B,P,";
constexpr std::string_view kDownloadTail = ",0,";
constexpr std::string_view kFieldOrigin = "^FO";
constexpr std::string_view kRecall = "^IMR:";
constexpr std::string_view kImageExtension = ".PNG";

// Locale-independent decimal, as the printer reads numbers.
template <typename Int>
void AppendDecimal(std::string& text, Int value) {
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  text.append(digits, end);
}

}  // namespace

bool FormatPrinterClock(const LocalTime& t, char (&out)[32]) {
  return BoundedFormat(out, sizeof out, kClockFormat, {t.month, t.day, t.year, t.hour, t.minute, t.second}) ==
         kFormatOk;
}

void CPrintCommand::AppendRaw(const uint8_t* begin, const uint8_t* end) {
  if (begin != nullptr && end > begin) buffer_.insert(buffer_.end(), begin, end);
}

void CPrintCommand::AppendRaw(std::string_view text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  AppendRaw(bytes, bytes + text.size());
}

void CPrintCommand::AppendMarkerLabel() {
  AppendRaw(kFormatStart);
  std::string comment;
  comment.append(kComment).append(kMarkerText).append(kFieldEnd);
  AppendRaw(comment);
  AppendRaw(kFormatEnd);
}

void CPrintCommand::BeginPage() {
  AppendRaw(kFormatStart);
  AppendRaw(kPageCarryIn);
}

void CPrintCommand::EndPage(int32_t extraCopies) {
  AppendRaw(kPageCarryOut);
  AppendRaw(kFormatEnd);
  for (int32_t copy = 0; copy < extraCopies; ++copy) {
    AppendRaw(kFormatStart);
    AppendRaw(kPageCarryIn);
    AppendRaw(kPageCarryOut);
    AppendRaw(kFormatEnd);
  }
}

void CPrintCommand::BeginLabel() { AppendRaw(kFormatStart); }

void CPrintCommand::EndLabel() { AppendRaw(kFormatEnd); }

ResultCode CPrintCommand::AppendJobSetup(DotSize size, std::string_view mediaCode, char cutMode, uint32_t pagesPerCut,
                                         int32_t printMode, char direction) {
  AppendMarkerLabel();
  AppendRaw(kFormatStart);

  std::string setup;
  setup.append(kMediaType).append(mediaCode);
  setup.append(kLabelWidth);
  AppendDecimal(setup, size.width);
  setup.append(kLabelLength);
  AppendDecimal(setup, size.height);

  char clockText[32] = {};
  if (!FormatPrinterClock(clock_.Now(), clockText)) return result::kSetupFailed;
  setup.append(clockText);

  setup.append(kCutMode).push_back(cutMode);
  setup.append(kPagesPerCut);
  AppendDecimal(setup, pagesPerCut);
  setup.append(kPrintMode);
  AppendDecimal(setup, printMode);
  setup.append(kDirection).push_back(direction);
  setup.append(kSetupEnd);

  AppendRaw(setup);
  AppendRaw(kFormatEnd);
  return result::kOk;
}

void CPrintCommand::AppendImageDownload(std::string_view name, const ByteImage& png) {
  std::string header;
  header.append(kDownload).append(name).append(kDownloadFormat);
  AppendDecimal(header, static_cast<uint64_t>(png.size()));
  header.append(kDownloadTail);
  AppendRaw(header);
  AppendRaw(png.data(), png.data() + png.size());
}

void CPrintCommand::AppendImageRecall(std::string_view name, DotPoint position) {
  std::string recall;
  recall.append(kFieldOrigin);
  AppendDecimal(recall, position.x);
  recall.push_back(',');
  AppendDecimal(recall, position.y);
  recall.append(kRecall).append(name).append(kImageExtension).append(kFieldEnd);
  AppendRaw(recall);
}

ResultCode CPrintCommand::SendToPrinter(PrinterPort& printer) {
  ResultCode code = result::kOk;
  size_t offset = 0;
  size_t remaining = buffer_.size();
  while (remaining > 0) {
    // The spooler takes a 32-bit count; a larger buffer simply goes in several calls.
    const uint32_t count = remaining > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(remaining);
    uint32_t written = 0;
    if (!printer.Write(buffer_.data() + offset, count, written) || written == 0) {
      code = result::kWriteFailed;
      break;
    }
    if (written > count) written = count;  // never trust a count past what was offered
    offset += written;
    remaining -= written;
  }
  buffer_.clear();  // capacity stays for the next job
  return code;
}

void CPrintCommand::TruncateTo(size_t length) {
  if (length < buffer_.size()) buffer_.resize(length);
}
