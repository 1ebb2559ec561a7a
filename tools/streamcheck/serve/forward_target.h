// The printer behind the virtual one ("serve --forward URI"), and what one
// attempt to hand it a job came to. The senders: raw (socket://), RFC 1179
// (lpd://) and, on Windows, an installed printer through the spooler
// (printer:NAME).
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace streamcheck::serve {

struct ForwardTarget {
  enum class Kind { Socket, Lpd, Printer } kind = Kind::Socket;
  std::string host;
  int port = 0;
  std::string queue;    // lpd
  std::string printer;  // printer:NAME
  std::string uri;      // as given
};

// Reads `socket://HOST[:PORT]`, `lpd://HOST[:PORT]/QUEUE` or `printer:NAME`;
// none with `error` set when it is not one of them.
std::optional<ForwardTarget> ParseForwardTarget(const std::string& uri, std::string& error);

struct ForwardJob {
  uint64_t id = 0;
  std::filesystem::path stream;
  size_t bytes = 0;
  std::string title;
  std::string user;
};

// A stored job is read and sent in pieces of this size.
inline constexpr size_t kSendPiece = 64 * 1024;

// Why a send ended when the virtual printer stopped in the middle of it.
inline constexpr const char* kStoppedWhileSending = "the virtual printer was stopped while it sent the job";

// What one attempt came to: the job went whole; nothing of it went (the
// printer refused, could not be reached or did not answer: it may be tried
// again); or it was cut off after some bytes may have reached the printer.
struct SendOutcome {
  enum class Kind { Sent, NotReached, Cut } kind = Kind::NotReached;
  std::string reason;
  size_t sent = 0;
};

struct SendTimeouts {
  std::chrono::milliseconds connect{10000};
  std::chrono::milliseconds write{30000};  // no progress for this long: the printer is stuck
};

class JobSender {
 public:
  virtual ~JobSender() = default;
  // Sends the job; gives up (Cut or NotReached) soon after `stop` is set.
  virtual SendOutcome Send(const ForwardJob& job, const std::atomic<bool>& stop) = 0;
};

std::unique_ptr<JobSender> MakeJobSender(const ForwardTarget& target, const SendTimeouts& timeouts);

}  // namespace streamcheck::serve
