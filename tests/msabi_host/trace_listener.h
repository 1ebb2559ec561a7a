// Reads this process's debugger output the way a system-wide monitor does,
// through the DBWIN buffer and its two events, and counts the plug-in
// object's construction and destruction traces.
#pragma once
#include "win32_api.h"

class TraceListener {
 public:
  TraceListener();
  // Stops reading and releases the buffer, its mapping and the events.
  ~TraceListener();
  TraceListener(const TraceListener&) = delete;
  TraceListener& operator=(const TraceListener&) = delete;

  bool Listening() const { return thread_ != nullptr; }
  // Waits (a bounded time) until `created` objects were made and `destroyed`
  // destroyed; false with a message naming `after` when the counts differ.
  bool Await(long created, long destroyed, const char* after);
  // Stops reading; no trace may be sent after this.
  void Stop();

 private:
  static DWORD Listen(void* self);
  void Count(const char* text);

  HANDLE mapping_ = nullptr;
  HANDLE bufferReady_ = nullptr;
  HANDLE dataReady_ = nullptr;
  const char* buffer_ = nullptr;
  HANDLE thread_ = nullptr;
  DWORD processId_ = 0;
  long created_ = 0;
  long destroyed_ = 0;
  long stop_ = 0;
};
