#include "trace_listener.h"

#include "console.h"

namespace {

constexpr DWORD kBufferSize = 4096;
constexpr DWORD kPollMs = 20;
constexpr int kAwaitPolls = 150;  // three seconds

bool SameText(const char* text, size_t capacity, const char* expected) {
  size_t i = 0;
  for (; i < capacity && expected[i] != '\0'; ++i) {
    if (text[i] != expected[i]) return false;
  }
  return i < capacity && text[i] == '\0';
}

}  // namespace

TraceListener::TraceListener() : processId_(GetCurrentProcessId()) {
  mapping_ = CreateFileMappingW(kInvalidHandle, nullptr, kPageReadWrite, 0, kBufferSize, L"DBWIN_BUFFER");
  bufferReady_ = CreateEventW(nullptr, 0, 0, L"DBWIN_BUFFER_READY");
  dataReady_ = CreateEventW(nullptr, 0, 0, L"DBWIN_DATA_READY");
  if (mapping_ == nullptr || bufferReady_ == nullptr || dataReady_ == nullptr) return;
  buffer_ = static_cast<const char*>(MapViewOfFile(mapping_, kFileMapRead, 0, 0, kBufferSize));
  if (buffer_ == nullptr) return;
  thread_ = CreateThread(nullptr, 0, Listen, this, 0, nullptr);
}

DWORD TraceListener::Listen(void* self) {
  auto& listener = *static_cast<TraceListener*>(self);
  SetEvent(listener.bufferReady_);
  while (__atomic_load_n(&listener.stop_, __ATOMIC_ACQUIRE) == 0) {
    if (WaitForSingleObject(listener.dataReady_, kPollMs) != kWaitObject0) continue;
    DWORD sender = 0;
    __builtin_memcpy(&sender, listener.buffer_, sizeof sender);
    if (sender == listener.processId_) listener.Count(listener.buffer_ + sizeof sender);
    SetEvent(listener.bufferReady_);
  }
  return 0;
}

void TraceListener::Count(const char* text) {
  const size_t capacity = kBufferSize - sizeof(DWORD);
  if (SameText(text, capacity, "PluginNOVRA(): start\n")) __atomic_fetch_add(&created_, 1, __ATOMIC_RELEASE);
  if (SameText(text, capacity, "~PluginNOVRA(): start\n")) __atomic_fetch_add(&destroyed_, 1, __ATOMIC_RELEASE);
}

bool TraceListener::Await(long created, long destroyed, const char* after) {
  long made = 0;
  long ended = 0;
  for (int poll = 0; poll < kAwaitPolls; ++poll) {
    made = __atomic_load_n(&created_, __ATOMIC_ACQUIRE);
    ended = __atomic_load_n(&destroyed_, __ATOMIC_ACQUIRE);
    if (made == created && ended == destroyed) return true;
    Sleep(kPollMs);
  }
  Print("msabi_host: after ");
  Print(after);
  Print(", objects made: ");
  PrintNumber(static_cast<uint64_t>(made));
  Print(", destroyed: ");
  PrintNumber(static_cast<uint64_t>(ended));
  Print("\n");
  return false;
}

TraceListener::~TraceListener() {
  Stop();
  if (buffer_ != nullptr) UnmapViewOfFile(buffer_);
  const HANDLE handles[] = {mapping_, bufferReady_, dataReady_};
  for (HANDLE handle : handles) {
    if (handle != nullptr) CloseHandle(handle);
  }
}

void TraceListener::Stop() {
  if (thread_ == nullptr) return;
  __atomic_store_n(&stop_, 1, __ATOMIC_RELEASE);
  WaitForSingleObject(thread_, kInfinite);
  CloseHandle(thread_);
  thread_ = nullptr;
}
