// The core's printer over a spooler handle: settings as printer data under
// the plug-in's key, the job's bytes through WritePrinter. The handle belongs
// to whoever opened it; this object never closes it.
#pragma once
#include <windows.h>

#include "platform/printer_port.h"

class SpoolerPrinter final : public PrinterPort {
 public:
  explicit SpoolerPrinter(HANDLE printer) noexcept : printer_(printer) {}
  std::optional<uint32_t> ReadSetting(std::u16string_view name) override;
  bool WriteSetting(std::u16string_view name, uint32_t value) override;
  bool Write(const uint8_t* data, uint32_t count, uint32_t& written) override;
  HANDLE Handle() const noexcept { return printer_; }

 private:
  HANDLE printer_;
};
