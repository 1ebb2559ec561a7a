#include "spooler_setup.h"

#include <winspool.h>

#include <fstream>
#include <iterator>

namespace {
constexpr const wchar_t* kSettingsKey = L"NOVRA_ZK-R41x0_Config";
constexpr const wchar_t* kSettingNames[] = {L"MediaType",   L"VOffset",       L"HOffset", L"Unit",
                                            L"PrintError",  L"ForcePrinting", L"AutoCut", L"CutTiming",
                                            L"CutInterval", L"PrintQuality",  L"Bi-d",    L"BandR"};

HANDLE OpenAdmin(const std::wstring& printerName) {
  PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
  HANDLE printer = nullptr;
  if (!OpenPrinterW(const_cast<wchar_t*>(printerName.c_str()), &printer, &defaults)) return nullptr;
  return printer;
}
}  // namespace

bool InstallRawPrinter(const std::wstring& printerName) {
  if (HANDLE existing = OpenAdmin(printerName)) {
    ClosePrinter(existing);
    return true;
  }
  DRIVER_INFO_3W driver{};
  driver.cVersion = 3;
  driver.pName = const_cast<wchar_t*>(kTestDriverName);
  driver.pDriverPath = const_cast<wchar_t*>(L"wineps.drv");
  driver.pDataFile = const_cast<wchar_t*>(L"wineps.drv");
  driver.pConfigFile = const_cast<wchar_t*>(L"wineps.drv");
  driver.pDefaultDataType = const_cast<wchar_t*>(L"RAW");
  if (!AddPrinterDriverExW(nullptr, 3, reinterpret_cast<BYTE*>(&driver), APD_COPY_NEW_FILES) &&
      GetLastError() != ERROR_PRINTER_DRIVER_ALREADY_INSTALLED) {
    // Some spoolers want the files present already; try without copying.
    AddPrinterDriverExW(nullptr, 3, reinterpret_cast<BYTE*>(&driver), 0);
  }
  PRINTER_INFO_2W info{};
  info.pPrinterName = const_cast<wchar_t*>(printerName.c_str());
  info.pPortName = const_cast<wchar_t*>(L"FILE:");
  info.pDriverName = const_cast<wchar_t*>(kTestDriverName);
  info.pPrintProcessor = const_cast<wchar_t*>(L"WinPrint");
  info.pDatatype = const_cast<wchar_t*>(L"RAW");
  info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
  HANDLE added = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
  if (added == nullptr) return GetLastError() == ERROR_PRINTER_ALREADY_EXISTS;
  ClosePrinter(added);
  return true;
}

bool StorePrinterSetting(const std::wstring& printerName, const std::wstring& valueName, int64_t value) {
  HANDLE printer = OpenAdmin(printerName);
  if (printer == nullptr) return false;
  DWORD status = 0;
  if (value < INT32_MIN || value > UINT32_MAX) {
    status = ERROR_INVALID_PARAMETER;
  } else {
    DWORD number = static_cast<DWORD>(static_cast<uint32_t>(value));
    status = SetPrinterDataExW(printer, kSettingsKey, valueName.c_str(), REG_DWORD, reinterpret_cast<BYTE*>(&number),
                               sizeof number);
  }
  ClosePrinter(printer);
  return status == ERROR_SUCCESS;
}

bool ClearPrinterSettings(const std::wstring& printerName) {
  HANDLE printer = OpenAdmin(printerName);
  if (printer == nullptr) return false;
  bool cleared = true;
  for (const wchar_t* name : kSettingNames) {
    const DWORD status = DeletePrinterDataExW(printer, kSettingsKey, name);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) cleared = false;
  }
  if (cleared) {
    ClosePrinter(printer);
    return true;
  }
  // Some spoolers (Wine's) cannot delete printer data: start again from a new printer.
  const bool removed = DeletePrinter(printer) != FALSE;
  ClosePrinter(printer);
  return removed && InstallRawPrinter(printerName);
}

SpoolJob::SpoolJob(const std::wstring& printerName, const std::wstring& outputFile, bool startDocument) {
  printer_ = OpenAdmin(printerName);
  if (printer_ == nullptr || !startDocument) return;
  DOC_INFO_1W doc{};
  doc.pDocName = const_cast<wchar_t*>(L"QVR label job");
  doc.pOutputFile = const_cast<wchar_t*>(outputFile.c_str());
  doc.pDatatype = const_cast<wchar_t*>(L"RAW");
  started_ = StartDocPrinterW(printer_, 1, reinterpret_cast<BYTE*>(&doc)) != 0;
}

bool SpoolJob::End() {
  if (!started_) return false;
  started_ = false;
  return EndDocPrinter(printer_) != FALSE;
}

SpoolJob::~SpoolJob() {
  End();
  if (printer_ != nullptr) ClosePrinter(printer_);
}

std::vector<uint8_t> ReadWholeFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  std::vector<uint8_t> bytes;
  if (file == INVALID_HANDLE_VALUE) return bytes;
  uint8_t chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  CloseHandle(file);
  return bytes;
}
