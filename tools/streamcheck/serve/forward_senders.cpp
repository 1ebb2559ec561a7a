// The senders behind "--forward": raw (the job's bytes on a connection of
// their own) and RFC 1179 (a control file with the job's name and user as
// received, then the data file). Each reads the stored stream a piece at a
// time, so a job costs its piece, not its size.
#include <fstream>
#include <vector>

#include "forward_socket.h"
#include "forward_target.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <unistd.h>
#endif

namespace streamcheck::serve {

#ifdef _WIN32
std::unique_ptr<JobSender> MakeSpoolerSender(const ForwardTarget& target);
#endif

namespace {

constexpr char kLpdAccept = '\0';
constexpr uint64_t kLpdJobNumbers = 1000;  // RFC 1179: three digits

// Sends the stored stream; false with `reason` when the file or the peer fails.
bool SendStream(ForwardSocket& socket, const ForwardJob& job, const SendTimeouts& timeouts,
                const std::atomic<bool>& stop, size_t& written, std::string& reason) {
  std::ifstream in(job.stream, std::ios::binary);
  std::vector<char> piece(kSendPiece);
  size_t left = job.bytes;
  while (left > 0) {
    in.read(piece.data(), static_cast<std::streamsize>(std::min(left, piece.size())));
    const auto got = static_cast<size_t>(in.gcount());
    if (got == 0) {
      reason = "the job's stored stream cannot be read";
      return false;
    }
    if (!socket.Write(std::string_view(piece.data(), got), timeouts.write, stop, written, reason)) return false;
    left -= got;
  }
  return true;
}

SendOutcome NotReached(std::string reason) { return {SendOutcome::Kind::NotReached, std::move(reason), 0}; }

SendOutcome Cut(const ForwardSocket& socket, size_t written, std::string reason) {
  const size_t pending = std::min(written, socket.Unacknowledged());
  return {SendOutcome::Kind::Cut, std::move(reason), written - pending};
}

class RawSender final : public JobSender {
 public:
  RawSender(ForwardTarget target, SendTimeouts timeouts) : target_(std::move(target)), timeouts_(timeouts) {}

  SendOutcome Send(const ForwardJob& job, const std::atomic<bool>& stop) override {
    ForwardSocket socket;
    std::string reason;
    if (!socket.Connect(target_.host, target_.port, timeouts_.connect, stop, reason)) return NotReached(reason);
    size_t written = 0;
    // A raw printer acknowledges nothing: once the connection is open, any
    // byte may have reached it, and a failure holds the queue.
    if (!SendStream(socket, job, timeouts_, stop, written, reason)) return Cut(socket, written, reason);
    if (!socket.FinishAndWaitForClose(timeouts_.write, stop, reason)) return Cut(socket, written, reason);
    return {SendOutcome::Kind::Sent, {}, written};
  }

 private:
  const ForwardTarget target_;
  const SendTimeouts timeouts_;
};

std::string HostName() {
  char name[256] = "";
  if (gethostname(name, sizeof name) != 0 || name[0] == '\0') return "streamcheck";
  name[sizeof name - 1] = '\0';
  return name;
}

// A name as a control file line takes it: no line ends, within RFC 1179's lengths.
std::string LineSafe(std::string text, size_t most) {
  for (char& c : text) {
    if (c == '\n' || c == '\r' || c == '\0') c = ' ';
  }
  return text.substr(0, most);
}

// An RFC 1179 command or subcommand line: its code, its operands, a line end.
std::string Command(char code, const std::string& operands) {
  std::string line(1, code);
  line.append(operands);
  line.push_back('\n');
  return line;
}

class LpdSender final : public JobSender {
 public:
  LpdSender(ForwardTarget target, SendTimeouts timeouts)
      : target_(std::move(target)), timeouts_(timeouts), host_(LineSafe(HostName(), 31)) {}

  SendOutcome Send(const ForwardJob& job, const std::atomic<bool>& stop) override {
    ForwardSocket socket;
    std::string reason;
    if (!socket.Connect(target_.host, target_.port, timeouts_.connect, stop, reason)) return NotReached(reason);
    char number[8];
    std::snprintf(number, sizeof number, "%03llu", static_cast<unsigned long long>(job.id % kLpdJobNumbers));
    const std::string dataName = "dfA" + std::string(number) + host_;
    const std::string control = ControlFile(job, dataName);
    size_t written = 0;  // of the data file
    size_t before = 0;   // everything before it: nothing of the job is printed until the data file is in
    // Until the data file's bytes go, the printer holds nothing it prints: a
    // refusal or a failure up to there leaves the job to be tried again.
    if (!Step(socket, Command('\2', target_.queue), stop, before, reason) ||
        !Step(socket, Command('\2', std::to_string(control.size()) + " cfA" + number + host_), stop, before, reason) ||
        !Step(socket, control + std::string(1, '\0'), stop, before, reason) ||
        !Step(socket, Command('\3', std::to_string(job.bytes) + " " + dataName), stop, before, reason)) {
      return NotReached(reason);
    }
    if (!SendStream(socket, job, timeouts_, stop, written, reason) ||
        !socket.Write(std::string_view("\0", 1), timeouts_.write, stop, before, reason)) {
      return {SendOutcome::Kind::Cut, reason, written};
    }
    char answer = 1;
    if (!socket.ReadByte(answer, timeouts_.write, stop, reason)) {
      return {SendOutcome::Kind::Cut, reason + " after the data file", written};
    }
    if (answer != kLpdAccept) return {SendOutcome::Kind::Cut, "the queue refused the data file once sent", written};
    return {SendOutcome::Kind::Sent, {}, written};
  }

 private:
  // Sends a command or a file and reads its acknowledgement.
  bool Step(ForwardSocket& socket, const std::string& bytes, const std::atomic<bool>& stop, size_t& written,
            std::string& reason) {
    char answer = 1;
    if (!socket.Write(bytes, timeouts_.write, stop, written, reason)) return false;
    if (!socket.ReadByte(answer, timeouts_.write, stop, reason)) return false;
    if (answer == kLpdAccept) return true;
    reason = "refused (the queue " + target_.queue + " answered " + std::to_string(static_cast<int>(answer)) + ")";
    return false;
  }

  std::string ControlFile(const ForwardJob& job, const std::string& dataName) const {
    // The user as the job's own client gave it ("user@host" as recorded).
    std::string user = job.user.substr(0, job.user.rfind('@'));
    if (user.empty()) user = "streamcheck";
    const std::string title = job.title.empty() ? "job " + std::to_string(job.id) : job.title;
    return "H" + host_ + "\nP" + LineSafe(user, 31) + "\nJ" + LineSafe(title, 99) + "\nN" + LineSafe(title, 131) +
           "\nl" + dataName + "\nU" + dataName + "\n";
  }

  const ForwardTarget target_;
  const SendTimeouts timeouts_;
  const std::string host_;
};

}  // namespace

std::unique_ptr<JobSender> MakeJobSender(const ForwardTarget& target, const SendTimeouts& timeouts) {
  switch (target.kind) {
    case ForwardTarget::Kind::Socket: return std::make_unique<RawSender>(target, timeouts);
    case ForwardTarget::Kind::Lpd: return std::make_unique<LpdSender>(target, timeouts);
    case ForwardTarget::Kind::Printer:
#ifdef _WIN32
      return MakeSpoolerSender(target);
#else
      break;
#endif
  }
  return nullptr;
}

}  // namespace streamcheck::serve
