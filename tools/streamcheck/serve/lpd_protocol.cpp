#include "lpd_protocol.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string>

namespace streamcheck::serve {

namespace {

constexpr char kAccept = '\0';
constexpr char kRefuse = '\1';
constexpr size_t kMostNameShown = 100;

// The daemon commands and the "receive a printer job" subcommands.
enum : char {
  kPrintWaiting = 1,
  kReceiveJob = 2,
  kQueueStateShort = 3,
  kQueueStateLong = 4,
  kRemoveJobs = 5,
};
enum : char { kAbortJob = 1, kControlFile = 2, kDataFile = 3 };

// A name from the control file as the page shows it: control characters and
// path separators become '_', with a fault noted for them (names never become
// file names, but a name like that is a sign of a hostile or broken client).
std::string ShownName(std::string_view name, bool& odd) {
  std::string shown;
  for (const char c : name.substr(0, kMostNameShown)) {
    const auto byte = static_cast<unsigned char>(c);
    const bool bad = byte < 0x20 || byte == 0x7f || c == '/' || c == '\\';
    odd = odd || bad;
    shown += bad ? '_' : c;
  }
  return shown;
}

// "Count SP Name": the count, or none when it is not a plain decimal number.
std::optional<uint64_t> ReadCount(std::string_view operands) {
  const size_t space = operands.find(' ');
  const std::string_view digits = operands.substr(0, space);
  uint64_t count = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), count);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return count;
}

class LpdProtocol final : public ConnectionProtocol {
 public:
  void Opened(Connection&) override {}

  void Received(Connection& connection, std::string_view bytes) override {
    while (!bytes.empty() && !closing_) {
      switch (state_) {
        case State::Command:
        case State::Subcommand: TakeLine(connection, bytes); break;
        case State::ControlFile: TakeControl(connection, bytes); break;
        case State::DataFile: TakeData(connection, bytes); break;
        case State::Terminator: TakeTerminator(connection, bytes); break;
      }
    }
  }

  void Ended(Connection& connection, ConnectionEnd how, const std::string& detail) override {
    if (!connection.JobOpen()) return;
    if (how == ConnectionEnd::Closed) {
      if (state_ == State::Terminator && inData_) {
        connection.Fault("the client closed before the zero byte that ends the data file");
      } else if (state_ == State::DataFile) {
        connection.Fault("the client stopped " + std::to_string(remaining_) + " bytes short of the data file of " +
                         std::to_string(announced_) + " bytes it announced");
      } else if (state_ == State::ControlFile || state_ == State::Terminator) {
        connection.Fault("the client stopped in the middle of the control file");
      }
    }
    NoteConnectionEnd(connection, how, detail);
    NoteMissingFiles(connection);
  }

 private:
  enum class State { Command, Subcommand, ControlFile, DataFile, Terminator };

  void TakeLine(Connection& connection, std::string_view& bytes) {
    const size_t end = bytes.find('\n');
    line_.append(bytes.substr(0, end));
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
    if (line_.size() > kLpdMostLineBytes) {
      Refuse(connection, "a command line longer than " + std::to_string(kLpdMostLineBytes) + " bytes");
      return;
    }
    if (end == std::string_view::npos) return;
    std::string line = std::move(line_);
    line_.clear();
    if (state_ == State::Command) {
      Command(connection, line);
    } else {
      Subcommand(connection, line);
    }
  }

  void Command(Connection& connection, const std::string& line) {
    const char code = line.empty() ? 0 : line[0];
    bool odd = false;
    // "Queue SP list" for the queue-state and remove commands: the queue is the first word.
    const std::string_view operands = std::string_view(line).substr(line.empty() ? 0 : 1);
    queue_ = ShownName(operands.substr(0, operands.find(' ')), odd);
    switch (code) {
      case kReceiveJob:
        connection.Send(std::string(1, kAccept));
        state_ = State::Subcommand;
        return;
      case kPrintWaiting: break;  // every job prints as soon as it has arrived
      case kQueueStateShort:
      case kQueueStateLong:
        connection.Send(Name(queue_) + ": ready; jobs print as soon as they have arrived, none is waiting\n");
        break;
      case kRemoveJobs: connection.Send(Name(queue_) + ": no jobs waiting, nothing removed\n"); break;
      default: connection.Send(std::string(1, kRefuse)); break;
    }
    closing_ = true;
    connection.Close();
  }

  void Subcommand(Connection& connection, const std::string& line) {
    const char code = line.empty() ? 0 : line[0];
    const std::string_view operands = std::string_view(line).substr(line.empty() ? 0 : 1);
    if (code == kAbortJob) {
      if (connection.JobOpen()) {
        connection.Fault("the client aborted the job");
        EndJob(connection);
      }
      connection.Send(std::string(1, kAccept));
      return;
    }
    const std::optional<uint64_t> count = ReadCount(operands);
    if ((code != kControlFile && code != kDataFile) || !count) {
      Refuse(connection, "an unknown subcommand");
      return;
    }
    if (!OpenJob(connection)) {
      connection.Send(std::string(1, kRefuse));  // the store is full of jobs still to go on
      closing_ = true;
      connection.Close();
      return;
    }
    announced_ = *count;
    remaining_ = *count;
    if (code == kControlFile) {
      if (*count > kLpdMostControlBytes) {
        Refuse(connection, "a control file of " + std::to_string(*count) + " bytes (at most " +
                               std::to_string(kLpdMostControlBytes) + " are taken)");
        return;
      }
      control_.clear();
      inData_ = false;
      state_ = State::ControlFile;
    } else {
      if (*count > connection.Options().maxJobBytes) {
        Refuse(connection, "a data file of " + std::to_string(*count) + " bytes, past the job size limit of " +
                               std::to_string(connection.Options().maxJobBytes) + " bytes");
        return;
      }
      inData_ = true;
      state_ = State::DataFile;
    }
    connection.Send(std::string(1, kAccept));
    if (remaining_ == 0) state_ = State::Terminator;
  }

  void TakeControl(Connection& connection, std::string_view& bytes) {
    const size_t take = static_cast<size_t>(std::min<uint64_t>(remaining_, bytes.size()));
    control_.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    remaining_ -= take;
    if (remaining_ == 0) state_ = State::Terminator;
    (void)connection;
  }

  void TakeData(Connection& connection, std::string_view& bytes) {
    const size_t take = static_cast<size_t>(std::min<uint64_t>(remaining_, bytes.size()));
    const bool kept = connection.Spool(bytes.substr(0, take));
    bytes.remove_prefix(take);
    remaining_ -= take;
    if (!kept) {
      closing_ = true;
      connection.Close();
      return;
    }
    if (remaining_ == 0) state_ = State::Terminator;
  }

  // Each file ends with one zero byte after its announced count.
  void TakeTerminator(Connection& connection, std::string_view& bytes) {
    const char end = bytes.front();
    bytes.remove_prefix(1);
    if (end != '\0') {
      connection.Fault(std::string("the ") + (inData_ ? "data" : "control") + " file's announced count of " +
                       std::to_string(announced_) + " bytes does not match what was sent");
      connection.Send(std::string(1, kRefuse));
      closing_ = true;
      connection.Close();
      return;
    }
    state_ = State::Subcommand;
    if (inData_) {
      haveData_ = true;
    } else {
      haveControl_ = true;
      ReadControl(connection);
    }
    // The job's last file is acknowledged once the job is stored: a client
    // that has its answer may forget the job.
    if (haveData_ && haveControl_) EndJob(connection);
    connection.Send(std::string(1, kAccept));
  }

  void ReadControl(Connection& connection) {
    bool odd = false;
    std::string name, user, host;
    size_t at = 0;
    while (at < control_.size()) {
      size_t end = control_.find('\n', at);
      if (end == std::string::npos) end = control_.size();
      const std::string_view line(control_.data() + at, end - at);
      at = end + 1;
      if (line.empty()) continue;
      const std::string_view value = line.substr(1);
      switch (line[0]) {
        case 'J': name = ShownName(value, odd); break;
        case 'N':
          if (name.empty()) name = ShownName(value, odd);
          break;
        case 'P': user = ShownName(value, odd); break;
        case 'H': host = ShownName(value, odd); break;
        default: break;
      }
    }
    if (odd) connection.Fault("the control file's names hold control characters or path separators (shown as _)");
    connection.Describe(name, user.empty() || host.empty() ? user : user + "@" + host);
  }

  void EndJob(Connection& connection) {
    NoteMissingFiles(connection);
    connection.EndJob();
    haveData_ = haveControl_ = false;
  }

  void NoteMissingFiles(Connection& connection) {
    if (!connection.JobOpen()) return;
    if (!haveData_ && !inData_) connection.Fault("the job ended without a data file: nothing to print");
    if (!haveControl_) connection.Fault("the job ended without a control file: no job name or user");
  }

  void Refuse(Connection& connection, const std::string& what) {
    (void)OpenJob(connection);
    connection.Fault("refused " + what);
    connection.Send(std::string(1, kRefuse));
    closing_ = true;
    connection.Close();
  }

  [[nodiscard]] bool OpenJob(Connection& connection) {
    if (connection.JobOpen()) return true;
    return connection.BeginJob("LPD queue " + Name(queue_) + " on port " + std::to_string(connection.LocalPort()) +
                                   " from " + connection.Peer(),
                               "lpd");
  }

  static std::string Name(const std::string& queue) { return queue.empty() ? "(no queue)" : queue; }

  State state_ = State::Command;
  std::string line_;
  std::string queue_;
  std::string control_;
  uint64_t announced_ = 0;
  uint64_t remaining_ = 0;
  bool inData_ = false;
  bool haveData_ = false;
  bool haveControl_ = false;
  bool closing_ = false;
};

}  // namespace

std::unique_ptr<ConnectionProtocol> MakeLpdProtocol() { return std::make_unique<LpdProtocol>(); }

}  // namespace streamcheck::serve
