#include "stream_compare.h"

#include "console.h"

namespace {

// A whole file in memory from the process heap; empty when it cannot be read.
class FileBytes {
 public:
  explicit FileBytes(const wchar_t* path) {
    HANDLE file = CreateFileW(path, kGenericRead, kFileShareRead, nullptr, kOpenExisting, 0, nullptr);
    if (file == kInvalidHandle) return;
    int64_t size = 0;
    if (GetFileSizeEx(file, &size) && size > 0 && size < (int64_t{1} << 31)) {
      bytes_ = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, static_cast<size_t>(size)));
      DWORD got = 0;
      if (bytes_ != nullptr && ReadFile(file, bytes_, static_cast<DWORD>(size), &got, nullptr) && got == size) {
        size_ = static_cast<size_t>(size);
      }
    }
    CloseHandle(file);
  }
  ~FileBytes() {
    if (bytes_ != nullptr) HeapFree(GetProcessHeap(), 0, bytes_);
  }
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  const uint8_t* Data() const { return bytes_; }
  size_t Size() const { return size_; }

 private:
  uint8_t* bytes_ = nullptr;
  size_t size_ = 0;
};

bool IsClockDigit(uint8_t byte) { return (byte >= '0' && byte <= '9') || byte == ','; }

void ReportParting(const char* what, const char* how, size_t offset) {
  Print("msabi_host: ");
  Print(what);
  Print(how);
  PrintNumber(offset);
  Print("\n");
}

}  // namespace

bool SameStreamButClock(const wchar_t* actualPath, const wchar_t* referencePath, const char* what) {
  const FileBytes actual(actualPath);
  const FileBytes reference(referencePath);
  if (actual.Size() == 0 || reference.Size() == 0) {
    Print("msabi_host: ");
    Print(what);
    Print(actual.Size() == 0 ? " is empty or unreadable\n" : ": the reference is empty or unreadable\n");
    return false;
  }
  const uint8_t* a = actual.Data();
  const uint8_t* r = reference.Data();
  size_t i = 0;  // in the actual stream
  size_t j = 0;  // in the reference
  bool clockSkipped = false;
  while (i < actual.Size() && j < reference.Size()) {
    if (a[i] != r[j]) {
      ReportParting(what, " differs from the reference at byte ", i);
      return false;
    }
    ++i;
    ++j;
    if (!clockSkipped && i >= 3 && a[i - 3] == '^' && a[i - 2] == 'S' && a[i - 1] == 'T') {
      clockSkipped = true;
      while (i < actual.Size() && IsClockDigit(a[i])) ++i;
      while (j < reference.Size() && IsClockDigit(r[j])) ++j;
    }
  }
  if (i != actual.Size() || j != reference.Size()) {
    ReportParting(what, i == actual.Size() ? " ends early, at byte " : " runs on past the reference's end, at byte ",
                  i);
    return false;
  }
  if (!clockSkipped) {
    ReportParting(what, " sets no printer clock; bytes: ", i);
    return false;
  }
  return true;
}
