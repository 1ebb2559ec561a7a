// A TCP client for the forwarders: connects and writes with time limits, in
// short slices so that a stop is heard, and tells a printer that refused or
// could not be reached from one that took some bytes and then failed.
#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace streamcheck::serve {

class ForwardSocket {
 public:
  ForwardSocket() = default;
  ~ForwardSocket();
  ForwardSocket(const ForwardSocket&) = delete;
  ForwardSocket& operator=(const ForwardSocket&) = delete;

  // False with `reason` ("refused", "unreachable" or "timed out", and the detail).
  bool Connect(const std::string& host, int port, std::chrono::milliseconds timeout, const std::atomic<bool>& stop,
               std::string& reason);
  // Writes all of `bytes`; false with `reason` when the peer failed or made
  // no progress for `stall`. `written` grows by what the system took.
  bool Write(std::string_view bytes, std::chrono::milliseconds stall, const std::atomic<bool>& stop, size_t& written,
             std::string& reason);
  // One byte from the peer (an acknowledgement); false on timeout, close or failure.
  bool ReadByte(char& byte, std::chrono::milliseconds timeout, const std::atomic<bool>& stop, std::string& reason);
  // Ends the sending side and waits for the peer to close: true when it did.
  bool FinishAndWaitForClose(std::chrono::milliseconds timeout, const std::atomic<bool>& stop, std::string& reason);
  // Bytes written that the peer has not acknowledged yet, where the system tells.
  size_t Unacknowledged() const;

 private:
  // Waits for `events` in slices; 1 ready, 0 timed out or stopped, -1 failed.
  int WaitFor(short events, std::chrono::milliseconds timeout, const std::atomic<bool>& stop) const;

  intptr_t socket_ = -1;
};

}  // namespace streamcheck::serve
