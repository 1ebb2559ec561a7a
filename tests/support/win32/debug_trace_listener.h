// Receives this process's debugger output (OutputDebugString) the way a
// system-wide monitor does, through the DBWIN buffer and its two events, so
// tests can see the plug-in's traces.
#pragma once
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class DebugTraceListener {
 public:
  DebugTraceListener();
  ~DebugTraceListener();
  DebugTraceListener(const DebugTraceListener&) = delete;
  DebugTraceListener& operator=(const DebugTraceListener&) = delete;

  bool Listening() const { return buffer_ != nullptr; }
  // Every text received from this process since the last call, in order.
  std::vector<std::string> Take();

 private:
  void Run();

  HANDLE mapping_ = nullptr;
  HANDLE bufferReady_ = nullptr;
  HANDLE dataReady_ = nullptr;
  const char* buffer_ = nullptr;
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::vector<std::string> texts_;
  std::thread thread_;
};
