// The error print-out: a short label carrying the header check's message,
// written to the printer at once, ahead of the job's own set-up.
#include <new>

#include "config/settings_store.h"
#include "engine/print_control.h"

namespace {
constexpr DotPoint kMessagePosition{57, 57};
constexpr int32_t kMessageFontHeight = 20;
constexpr int32_t kMessageRotation = 0;
}  // namespace

void CPrintControl::PrintErrorPage(std::u16string_view message, DotSize errorPageSize, char cutMode,
                                   uint32_t pagesPerCut) {
  // Whatever fails here, memory exhaustion included, ends the print-out
  // silently; the header goes on as "ForcePrinting" decides. What it
  // appended and could not send is dropped, so that no unfinished format
  // stands ahead of the job's own commands.
  size_t keep = command_.Buffer().size();
  bool done = false;
  try {
    done = WriteErrorPage(message, errorPageSize, cutMode, pagesPerCut, keep) == result::kOk;
  } catch (const std::bad_alloc&) {
    done = false;
  }
  if (!done) command_.TruncateTo(keep);
}

ResultCode CPrintControl::WriteErrorPage(std::u16string_view message, DotSize errorPageSize, char cutMode,
                                         uint32_t pagesPerCut, size_t& keep) {
  const std::string_view media = MediaCode();
  const QualitySettings quality = LoadQualitySettings(*printer_);
  ResultCode code =
      command_.AppendJobSetup(errorPageSize, media, cutMode, pagesPerCut, quality.printMode, quality.direction);
  if (code == result::kOk) code = command_.SendToPrinter(*printer_);
  if (code != result::kOk) return code;
  keep = 0;  // the buffer was emptied by the send

  command_.BeginLabel();
  SetUpPlainRaster(scratch_, errorPageSize.width, errorPageSize.height, RasterFill::kWhite);
  code = SendDiffImage(scratch_, {0, 0});
  if (code == result::kOk && !message.empty()) {
    DotPoint unused{0, 0};
    code =
        services_.text.RenderMessageText(unused, message, kMessageFontHeight, kMessageFace, kMessageRotation, scratch_);
    if (code == result::kOk) code = SendDiffImage(scratch_, kMessagePosition);
  }
  if (code != result::kOk) return code;
  command_.EndLabel();
  if (code = command_.SendToPrinter(*printer_); code != result::kOk) return code;
  image_.Reset();
  page_.BeginJob();
  page_.ForgetBase();
  return result::kOk;
}
