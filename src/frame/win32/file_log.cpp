#include "frame/win32/file_log.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "frame/win32/log_mutex.h"
#include "platform/win32/system_clock.h"
#include "platform/win32/text_casts.h"
#include "platform/win32/unique_handle.h"

namespace {

constexpr char kLineEnd[] = "\r\n";
constexpr DWORD kLineEndBytes = 2;

// The folder exists afterwards (it may have been made by another writer just now).
bool EnsureFolder(const char16_t* path) noexcept {
  if (PathFileExistsW(AsWide(path))) return true;
  return CreateDirectoryW(AsWide(path), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

UniqueFile OpenLogFile(const char16_t* path, DWORD disposition) noexcept {
  return UniqueFile(CreateFileW(AsWide(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Keeps the current content as the only backup and empties the file. A failed
// delete or copy does not stop the line; a failed reopen does.
UniqueFile RotateLogFile(UniqueFile file, const LogSettings& settings) noexcept {
  file.reset();
  char16_t backup[kLogPathChars] = {};
  // A backup name cut to fit could name another file, even the log itself: never use it.
  if (FormatLogBackupPath(backup, settings.filePath) == kFormatOk) {
    DeleteFileW(AsWide(backup));
    CopyFileW(AsWide(settings.filePath), AsWide(backup), FALSE);
  }
  return OpenLogFile(settings.filePath, TRUNCATE_EXISTING);
}

}  // namespace

void AppendLogLine(const LogSettings* settings, std::u16string_view moduleName, std::u16string_view source,
                   std::u16string_view message) noexcept {
  if (settings == nullptr) return;
  UniqueGlobal lineMemory(GlobalAlloc(GPTR, kLogLineChars * sizeof(char16_t)));
  UniqueGlobal convertedMemory(GlobalAlloc(GPTR, kLogConvertedLineBytes));
  if (!lineMemory || !convertedMemory) return;
  size_t convertedCapacity = kLogConvertedLineBytes;

  UniqueFile file = OpenLogFile(settings->filePath, OPEN_ALWAYS);
  if (!file) return;

  // The whole size, not its low 32 bits: a file past 4 GiB must rotate too.
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file.get(), &size) && LogNeedsRotation(static_cast<uint64_t>(size.QuadPart), settings->sizeLimit)) {
    file = RotateLogFile(std::move(file), *settings);
    if (!file) return;
  }

  auto* line = static_cast<char16_t*>(lineMemory.get());
  // A line longer than the buffer is cut and still written.
  (void)FormatLogLine(line, kLogLineChars, SystemClock().Now(), settings->applicationTag, moduleName, source, message);

  // In a multi-byte code page a full line can need more than the usual buffer:
  // take a bigger one rather than lose the line. Room is kept for CR LF.
  const UINT codePage = GetACP();
  const int needed = WideCharToMultiByte(codePage, 0, AsWide(line), -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 1) return;
  const size_t wanted = static_cast<size_t>(needed) + kLineEndBytes;
  if (wanted > convertedCapacity) {
    convertedMemory.reset(GlobalAlloc(GPTR, wanted));
    if (!convertedMemory) return;
    convertedCapacity = wanted;
  }
  auto* converted = static_cast<char*>(convertedMemory.get());
  const int written = WideCharToMultiByte(codePage, 0, AsWide(line), -1, converted, static_cast<int>(convertedCapacity),
                                          nullptr, nullptr);
  // The count includes the terminator: 1 means an empty line, which is not written.
  if (written <= 1) return;
  const DWORD textBytes = static_cast<DWORD>(written - 1);
  if (textBytes + kLineEndBytes > convertedCapacity) return;
  // Text and CR LF in one write, so that a reader never sees half a line end.
  converted[textBytes] = kLineEnd[0];
  converted[textBytes + 1] = kLineEnd[1];

  SetFilePointer(file.get(), 0, nullptr, FILE_END);
  DWORD done = 0;
  (void)WriteFile(file.get(), converted, textBytes + kLineEndBytes, &done, nullptr);
}

void FormatLogMessage(const LogSettings* settings, std::u16string_view moduleName, std::u16string_view source,
                      std::u16string_view message) noexcept {
  if (settings == nullptr) return;
  UniqueMutex mutex = OpenLogMutex();
  if (!mutex) return;
  // An abandoned mutex is ours like any other; a wait that runs out drops the line.
  const DWORD wait = WaitForSingleObject(mutex.get(), kLogLockWaitMs);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return;
  {
    UniqueGlobal messageMemory(GlobalAlloc(GPTR, kLogMessageChars * sizeof(char16_t)));
    if (messageMemory) {
      auto* text = static_cast<char16_t*>(messageMemory.get());
      (void)FormatLogMessageText(text, kLogMessageChars, message);
      AppendLogLine(settings, moduleName, source, text);
    }
  }
  ReleaseMutex(mutex.get());
}

void FileLog::WriteLogEntry(std::u16string_view message, std::u16string_view source) noexcept {
  wchar_t commonAppData[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, commonAppData))) return;
  // The paths are checked for length before any folder is made for them.
  LogPaths paths;
  if (!BuildLogPaths(AsU16(commonAppData), paths)) return;
  if (!EnsureFolder(paths.vendorFolder) || !EnsureFolder(paths.productFolder)) return;
  LogSettings settings;
  if (!BuildLogSettings(paths.file, settings)) return;
  FormatLogMessage(&settings, kLogModuleName, source, message);
}
