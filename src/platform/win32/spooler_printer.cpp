#include "platform/win32/spooler_printer.h"

#include <winspool.h>

#include <string>

#include "platform/win32/unique_handle.h"

namespace {
std::wstring Terminated(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
}  // namespace

std::optional<uint32_t> SpoolerPrinter::ReadSetting(std::u16string_view name) {
  const std::wstring key = Terminated(kSettingsKey);
  const std::wstring value = Terminated(name);
  DWORD type = 0;
  DWORD needed = 0;
  uint32_t number = 0;
  const DWORD status = GetPrinterDataExW(printer_, key.c_str(), value.c_str(), &type, reinterpret_cast<BYTE*>(&number),
                                         sizeof number, &needed);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return number;
}

bool SpoolerPrinter::WriteSetting(std::u16string_view name, uint32_t value) {
  const std::wstring key = Terminated(kSettingsKey);
  const std::wstring valueName = Terminated(name);
  DWORD number = value;
  return SetPrinterDataExW(printer_, key.c_str(), valueName.c_str(), REG_DWORD, reinterpret_cast<BYTE*>(&number),
                           sizeof number) == ERROR_SUCCESS;
}

bool SpoolerPrinter::Write(const uint8_t* data, uint32_t count, uint32_t& written) {
  DWORD done = 0;
  const BOOL ok = WritePrinter(printer_, const_cast<uint8_t*>(data), count, &done);
  written = done;
  return ok != FALSE;
}
