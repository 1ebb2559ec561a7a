// The error print-out: a short label carrying the header check's message,
// written to the printer at once, ahead of the job's own set-up.
#include "engine/print_control.h"
#include "config/settings_store.h"

namespace {
using printer_commands::kFormatEnd;
using printer_commands::kFormatStart;
constexpr DotPoint kMessagePosition{57, 57};
constexpr std::u16string_view kMessageFace = u"Lucida Console";
constexpr int32_t kMessageFontHeight = 20;
constexpr int32_t kMessageRotation = 0;
}  // namespace

void CPrintControl::PrintErrorPage(std::u16string_view message, ErrorPageSize errorPageSize, char cutMode,
                                   uint32_t pagesPerCut) {
  // Whatever fails here ends the print-out silently. What it appended and
  // could not send is dropped, so that no unfinished format stands ahead of
  // the job's own commands.
  size_t keep = command.Buffer().size();
  try {
    const char* media = MediaCode();
    const QualitySettings quality = LoadQualitySettings(*printer_);
    const int32_t size[2] = {errorPageSize.width, errorPageSize.length};
    ThrowIfFailed(command.AppendJobSetup(size, media, cutMode, pagesPerCut, quality.printMode, quality.direction));
    ThrowIfFailed(command.SendToPrinter(*printer_));
    keep = 0;  // the buffer was emptied by the send

    command.AppendRaw(kFormatStart);
    CPrintImage::CreatePageCanvas({errorPageSize.width, errorPageSize.length}, scratch_);
    SendDiffImage(scratch_, {0, 0});
    if (!message.empty()) {
      RasterPoint unused{0, 0};
      ThrowIfFailed(services_.text.RenderMessageText(unused, message, kMessageFontHeight, kMessageFace,
                                                     kMessageRotation, scratch_));
      SendDiffImage(scratch_, kMessagePosition);
    }
    command.AppendRaw(kFormatEnd);
    ThrowIfFailed(command.SendToPrinter(*printer_));
    image.Reset();
  } catch (...) {
    command.TruncateTo(keep);
  }
}
