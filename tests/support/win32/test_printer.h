// Printers in the Wine prefix for the Windows tests: a raw printer on port
// FILE: with the wineps driver, and direct access to the plug-in's settings
// under its printer-data key.
#pragma once
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

// Installs the printer unless it exists; returns its name, or an empty string on failure.
std::wstring InstallTestPrinter(const std::wstring& name);
// A printer name not used before in this process, for a printer without any data.
std::wstring FreshTestPrinterName(const std::wstring& stem);
bool RemoveTestPrinter(const std::wstring& name);
// Deletes the twelve settings values of the plug-in; true when every value is
// gone. Wine 8 answers DeletePrinterDataExW with ERROR_INVALID_PARAMETER, so
// there a fresh printer is the way to a printer without data.
bool DeleteTestSettings(const std::wstring& printer);
bool StoreTestSetting(const std::wstring& printer, const wchar_t* valueName, uint32_t value);
// The stored number, or nothing when the value is missing.
std::optional<uint32_t> ReadTestSetting(const std::wstring& printer, const wchar_t* valueName);
// How many of the twelve settings values exist.
int CountTestSettings(const std::wstring& printer);
