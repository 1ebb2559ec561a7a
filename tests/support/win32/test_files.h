// A file in the temporary folder, removed when the test ends.
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
