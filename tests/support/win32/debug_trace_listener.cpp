#include "support/win32/debug_trace_listener.h"

#include <cstring>

namespace {
constexpr DWORD kBufferSize = 4096;
constexpr DWORD kPollMs = 50;
}  // namespace

DebugTraceListener::DebugTraceListener() {
  mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize, L"DBWIN_BUFFER");
  bufferReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
  dataReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
  if (mapping_ == nullptr || bufferReady_ == nullptr || dataReady_ == nullptr) return;
  buffer_ = static_cast<const char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, kBufferSize));
  if (buffer_ == nullptr) return;
  // The thread must be running before any DLL is loaded: a trace written under
  // the loader lock would otherwise wait for a thread that cannot start yet.
  HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  thread_ = std::thread([this, started] {
    SetEvent(started);
    Run();
  });
  WaitForSingleObject(started, INFINITE);
  CloseHandle(started);
}

DebugTraceListener::~DebugTraceListener() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (buffer_ != nullptr) UnmapViewOfFile(buffer_);
  for (HANDLE h : {mapping_, bufferReady_, dataReady_}) {
    if (h != nullptr) CloseHandle(h);
  }
}

void DebugTraceListener::Run() {
  SetEvent(bufferReady_);
  while (!stop_) {
    if (WaitForSingleObject(dataReady_, kPollMs) != WAIT_OBJECT_0) continue;
    DWORD pid = 0;
    std::memcpy(&pid, buffer_, sizeof pid);
    const char* text = buffer_ + sizeof pid;
    const size_t length = strnlen(text, kBufferSize - sizeof pid);
    if (pid == GetCurrentProcessId()) {
      std::lock_guard guard(lock_);
      texts_.emplace_back(text, length);
    }
    SetEvent(bufferReady_);
  }
}

std::vector<std::string> DebugTraceListener::Take() {
  std::lock_guard guard(lock_);
  std::vector<std::string> texts;
  texts.swap(texts_);
  return texts;
}
