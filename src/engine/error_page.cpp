// The error print-out: a short label carrying the header check's message,
// written to the printer at once, ahead of the job's own set-up.
#include "engine/print_control.h"
#include "config/settings_store.h"

namespace {
constexpr DotPoint kMessagePosition{57, 57};
constexpr int32_t kMessageFontHeight = 20;
constexpr int32_t kMessageRotation = 0;
}  // namespace

void CPrintControl::PrintErrorPage(std::u16string_view message, ErrorPageSize errorPageSize, char cutMode,
                                   uint32_t pagesPerCut) {
  // Whatever fails here ends the print-out silently. What it appended and
  // could not send is dropped, so that no unfinished format stands ahead of
  // the job's own commands.
  size_t keep = command_.Buffer().size();
  if (WriteErrorPage(message, errorPageSize, cutMode, pagesPerCut, keep) != result::kOk) {
    command_.TruncateTo(keep);
  }
}

ResultCode CPrintControl::WriteErrorPage(std::u16string_view message, ErrorPageSize errorPageSize, char cutMode,
                                         uint32_t pagesPerCut, size_t& keep) {
  const char* media = MediaCode();
  const QualitySettings quality = LoadQualitySettings(*printer_);
  const int32_t size[2] = {errorPageSize.width, errorPageSize.length};
  ResultCode code = command_.AppendJobSetup(size, media, cutMode, pagesPerCut, quality.printMode, quality.direction);
  if (code == result::kOk) code = command_.SendToPrinter(*printer_);
  if (code != result::kOk) return code;
  keep = 0;  // the buffer was emptied by the send

  command_.BeginLabel();
  CPrintImage::CreatePageCanvas({errorPageSize.width, errorPageSize.length}, scratch_);
  code = SendDiffImage(scratch_, {0, 0});
  if (code == result::kOk && !message.empty()) {
    RasterPoint unused{0, 0};
    code =
        services_.text.RenderMessageText(unused, message, kMessageFontHeight, kMessageFace, kMessageRotation, scratch_);
    if (code == result::kOk) code = SendDiffImage(scratch_, kMessagePosition);
  }
  if (code != result::kOk) return code;
  command_.EndLabel();
  if (code = command_.SendToPrinter(*printer_); code != result::kOk) return code;
  image_.Reset();
  return result::kOk;
}
