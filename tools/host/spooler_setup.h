// The Wine (or Windows) spooler side of our host program and tests: a printer
// that spools raw bytes to a file, its settings, and a job around the plug-in.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

inline constexpr const wchar_t* kTestDriverName = L"QVR Raw Test Driver";

// Installs a raw printer on port FILE: unless it exists. False on failure.
bool InstallRawPrinter(const std::wstring& printerName);

// Stores one of the plug-in's settings as a 32-bit number (negative values as
// their two's complement, as the dialog stores offsets).
bool StorePrinterSetting(const std::wstring& printerName, const std::wstring& valueName, int64_t value);
// Deletes all twelve of the plug-in's settings.
bool ClearPrinterSettings(const std::wstring& printerName);

// A spooler job whose bytes land in `outputFile` when it ends.
class SpoolJob {
 public:
  SpoolJob(const std::wstring& printerName, const std::wstring& outputFile, bool startDocument = true);
  ~SpoolJob();
  SpoolJob(const SpoolJob&) = delete;
  SpoolJob& operator=(const SpoolJob&) = delete;

  HANDLE Printer() const { return printer_; }
  bool Started() const { return started_; }
  // Ends the document so that the spooler writes the file; idempotent.
  bool End();

 private:
  HANDLE printer_ = nullptr;
  bool started_ = false;
};

std::vector<uint8_t> ReadWholeFile(const std::wstring& path);
