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
  ResultCode code = AppendSetup(errorPageSize, cutMode, pagesPerCut);
  if (code == result::kOk) code = command_.SendToPrinter(*printer_);
  if (code != result::kOk) return code;
  keep = 0;  // the buffer was emptied by the send

  // A white page with the message on it, in a raster of its own just large enough for the text.
  RasterImage text;
  code = SendLabelFormat([&] {
    if (const ResultCode white = emitter_.SendWhite(errorPageSize, {0, 0}); white != result::kOk) return white;
    if (message.empty()) return result::kOk;
    DotPoint unused{0, 0};
    const ResultCode drawn =
        services_.text.RenderMessageText(unused, message, kMessageFontHeight, kMessageFace, kMessageRotation, text);
    return drawn == result::kOk ? emitter_.SendRaster(text, kMessagePosition) : drawn;
  });
  if (code != result::kOk) return code;
  if (code = command_.SendToPrinter(*printer_); code != result::kOk) return code;
  // The printer now holds the error label, and the base is forgotten.
  image_.Reset();
  page_.ForgetPrinted();
  page_.ForgetBase();
  return result::kOk;
}
