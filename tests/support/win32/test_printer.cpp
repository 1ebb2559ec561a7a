#include "support/win32/test_printer.h"

#include <winspool.h>

#include "host/spooler_setup.h"

namespace {

constexpr const wchar_t* kKey = L"NOVRA_ZK-R41x0_Config";
constexpr const wchar_t* kNames[] = {L"MediaType",   L"VOffset",       L"HOffset", L"Unit",
                                     L"PrintError",  L"ForcePrinting", L"AutoCut", L"CutTiming",
                                     L"CutInterval", L"PrintQuality",  L"Bi-d",    L"BandR"};

class AdminPrinter {
 public:
  explicit AdminPrinter(const std::wstring& name) {
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterW(const_cast<wchar_t*>(name.c_str()), &handle_, &defaults)) handle_ = nullptr;
  }
  ~AdminPrinter() {
    if (handle_ != nullptr) ClosePrinter(handle_);
  }
  AdminPrinter(const AdminPrinter&) = delete;
  AdminPrinter& operator=(const AdminPrinter&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace

std::wstring InstallTestPrinter(const std::wstring& name) { return InstallRawPrinter(name) ? name : std::wstring(); }

bool DeleteTestSettings(const std::wstring& printer) {
  AdminPrinter handle(printer);
  if (handle.get() == nullptr) return false;
  bool deleted = true;
  for (const wchar_t* name : kNames) {
    const DWORD status = DeletePrinterDataExW(handle.get(), kKey, name);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) deleted = false;
  }
  return deleted;
}

bool StoreTestSetting(const std::wstring& printer, const wchar_t* valueName, uint32_t value) {
  AdminPrinter handle(printer);
  if (handle.get() == nullptr) return false;
  DWORD number = value;
  return SetPrinterDataExW(handle.get(), kKey, valueName, REG_DWORD, reinterpret_cast<BYTE*>(&number), sizeof number) ==
         ERROR_SUCCESS;
}

std::optional<uint32_t> ReadTestSetting(const std::wstring& printer, const wchar_t* valueName) {
  AdminPrinter handle(printer);
  if (handle.get() == nullptr) return std::nullopt;
  DWORD type = 0;
  DWORD number = 0;
  DWORD needed = 0;
  if (GetPrinterDataExW(handle.get(), kKey, valueName, &type, reinterpret_cast<BYTE*>(&number), sizeof number,
                        &needed) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return number;
}

int CountTestSettings(const std::wstring& printer) {
  int count = 0;
  for (const wchar_t* name : kNames) count += ReadTestSetting(printer, name).has_value() ? 1 : 0;
  return count;
}

std::wstring FreshTestPrinterName(const std::wstring& stem) {
  static unsigned serial = 0;
  return stem + L" " + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++serial);
}

bool RemoveTestPrinter(const std::wstring& name) {
  PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
  HANDLE printer = nullptr;
  if (!OpenPrinterW(const_cast<wchar_t*>(name.c_str()), &printer, &defaults)) return false;
  const bool removed = DeletePrinter(printer) != FALSE;
  ClosePrinter(printer);
  return removed;
}
