// The job engine's construction, its jobs and what it reads for every job:
// the host's bitmaps and the stored settings.
#include "engine/print_control.h"

#include "config/settings_store.h"

CPrintControl::CPrintControl(int32_t resolution, PrinterPort& printer, JobServices services)
    : command_(services.clock),
      emitter_(command_, resolution),
      image_(services.text),
      services_(services),
      printer_(&printer),
      resolution_(resolution) {}

void CPrintControl::BeginJob(PrinterPort& printer) {
  printer_ = &printer;
  command_.TruncateTo(0);
  image_.BeginJob();
  page_.BeginJob();
  extraCopies_ = 0;
}

void CPrintControl::ClearImages() {
  image_.DropSource();
  page_.Clear();
}

ResultCode CPrintControl::ReceiveBitmap(HostBitmap& bitmap, std::string_view name) {
  if (const ResultCode code = image_.SetSourceBitmap(bitmap); code != result::kOk) return code;
  imageName_ = name;
  return result::kOk;
}

std::string_view CPrintControl::MediaCode() {
  // A stored index outside the table (never written by the dialog) sends the default medium.
  const int32_t index = LoadMediaType(*printer_);
  if (index < 0 || static_cast<size_t>(index) >= MediaTypeCodes.size())
    return MediaTypeCodes[static_cast<size_t>(setting_default::kMediaType)];
  return MediaTypeCodes[static_cast<size_t>(index)];
}

PositionAdjustment CPrintControl::ReadAdjustment() const { return LoadOffsetsInDots(*printer_, resolution_); }
