// One printer as the core sees it: 32-bit settings under the plug-in's
// printer-data key, and a byte sink for the job's command stream. The Windows
// shell implements it over a spooler handle; tests use in-memory printers.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

// The printer-data key under which the spooler keeps the plug-in's settings.
inline constexpr std::u16string_view kSettingsKey = u"NOVRA_ZK-R41x0_Config";

class PrinterPort {
 public:
  virtual ~PrinterPort() = default;

  // The stored number of a setting, or nothing when the spooler does not answer
  // with success for a 4-byte read (missing, too long, access denied, ...).
  virtual std::optional<uint32_t> ReadSetting(std::u16string_view name) = 0;

  // Stores a 32-bit number; false when the spooler refuses.
  virtual bool WriteSetting(std::u16string_view name, uint32_t value) = 0;

  // One write to the printer. False when the spooler reports failure;
  // otherwise `written` holds the count it accepted (possibly 0 or fewer).
  virtual bool Write(const uint8_t* data, uint32_t count, uint32_t& written) = 0;
};
