// Files of the Windows tests: a file in the temporary folder, removed when
// the test ends, and the folder of the test program (and of our programs
// built beside it).
#pragma once
#include <windows.h>

#include <string>

class TempFile {
 public:
  explicit TempFile(const std::wstring& name) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    path_ = std::wstring(folder) + L"qvr-" + std::to_wstring(GetCurrentProcessId()) + L"-" + name;
    DeleteFileW(path_.c_str());
  }
  ~TempFile() { DeleteFileW(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::wstring& Path() const { return path_; }

 private:
  std::wstring path_;
};

// The folder this program was started from, with its closing separator.
inline std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder = path;
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}
