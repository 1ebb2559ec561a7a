#include "raw_listener.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace streamcheck::serve {

namespace {

constexpr int kAcceptPollMs = 100;
constexpr int kReadPollMs = 100;  // how often a waiting read looks at the stop flag
constexpr size_t kReadSize = 64 * 1024;

std::string PeerName(const sockaddr_storage& address) {
  char host[NI_MAXHOST] = "?";
  char port[NI_MAXSERV] = "?";
  getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host, sizeof host, port, sizeof port,
              NI_NUMERICHOST | NI_NUMERICSERV);
  return std::string(host) + ":" + port;
}

enum class ReadOutcome { Data, End, Timeout, Late, Failed, Stopped };

}  // namespace

bool RawListener::Start(const std::string& address, int port, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = getaddrinfo(address.c_str(), service.c_str(), &hints, &found); rc != 0) {
    error = "cannot resolve " + address + ": " + gai_strerror(rc);
    return false;
  }
  for (addrinfo* a = found; a != nullptr && listener_ < 0; a = a->ai_next) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, SOMAXCONN) == 0) {
      listener_ = fd;
    } else {
      error = "cannot listen on " + address + ":" + service + ": " + std::strerror(errno);
      close(fd);
    }
  }
  freeaddrinfo(found);
  if (listener_ < 0) return false;
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &length);
  port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  // Non-blocking, so that a worker that lost the race for a connection goes back to waiting.
  fcntl(listener_, F_SETFL, fcntl(listener_, F_GETFL) | O_NONBLOCK);
  const size_t workers = std::max<size_t>(1, printer_.Options().maxConnections);
  for (size_t i = 0; i < workers; ++i) workers_.emplace_back([this] { WorkerLoop(); });
  return true;
}

void RawListener::Stop() {
  if (stopping_.exchange(true)) return;
  for (std::thread& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
  workers_.clear();
  if (listener_ >= 0) {
    // Connections still queued were never read: a reset tells their clients so.
    for (;;) {
      const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) break;
      const linger reset{1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
      close(fd);
    }
    close(listener_);
  }
  listener_ = -1;
}

void RawListener::WorkerLoop() {
  while (!stopping_) {
    pollfd waiting{listener_, POLLIN, 0};
    if (poll(&waiting, 1, kAcceptPollMs) <= 0) continue;
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (fd < 0) continue;  // another worker took it
    ++busy_;
    try {
      Serve(fd, PeerName(peer));
    } catch (...) {
      // A failure of one job (memory exhausted) must not end the printer.
    }
    close(fd);
    --busy_;
  }
}

void RawListener::Serve(int socket, const std::string& peer) {
  using Clock = std::chrono::steady_clock;
  const auto timeout = printer_.Options().readTimeout;
  std::vector<char> buffer(kReadSize);
  size_t received = 0;
  int readError = 0;
  Clock::time_point jobEnd = Clock::time_point::max();
  // Reads what the client sends next, giving up after the read timeout or at
  // the job's deadline, whichever comes first.
  auto read = [&]() -> ReadOutcome {
    const auto quiet = Clock::now() + timeout;
    const auto until = std::min(quiet, jobEnd);
    while (!stopping_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
      if (left.count() <= 0) return until == quiet ? ReadOutcome::Timeout : ReadOutcome::Late;
      pollfd waiting{socket, POLLIN, 0};
      const int ready = poll(&waiting, 1, static_cast<int>(std::min<long long>(left.count(), kReadPollMs)));
      if (ready < 0 && errno != EINTR) {
        readError = errno;
        return ReadOutcome::Failed;
      }
      if (ready <= 0) continue;
      const ssize_t n = recv(socket, buffer.data(), buffer.size(), 0);
      if (n > 0) {
        received = static_cast<size_t>(n);
        return Clock::now() < jobEnd ? ReadOutcome::Data : ReadOutcome::Late;
      }
      if (n == 0) return ReadOutcome::End;
      if (errno != EINTR && errno != EAGAIN) {
        readError = errno;
        return ReadOutcome::Failed;
      }
    }
    return ReadOutcome::Stopped;
  };

  // The printer is taken once the client has said something (or given up),
  // so that a silent client does not hold up the jobs behind it.
  ReadOutcome outcome = read();
  const auto job = printer_.StartJob("port " + std::to_string(port_) + " from " + peer);
  jobEnd = Clock::now() + printer_.Options().jobDeadline;
  size_t total = 0;
  while (outcome == ReadOutcome::Data) {
    total += received;
    if (!job->Feed(std::string_view(buffer.data(), received))) break;
    outcome = read();
  }
  // A client still sending (past a limit) learns at once that nobody reads.
  shutdown(socket, SHUT_RDWR);
  switch (outcome) {
    case ReadOutcome::Timeout:
      job->Fault(std::string(total == 0 ? "the client sent nothing" : "the client sent nothing more") + " for " +
                 std::to_string(timeout.count()) + " ms: the job ends here");
      break;
    case ReadOutcome::Late:
      job->Fault("the job took longer than the deadline of " + std::to_string(printer_.Options().jobDeadline.count()) +
                 " s: the rest was not read, the stream is checked as far as it came");
      break;
    case ReadOutcome::End:
      if (total == 0) job->Fault("the connection closed without sending anything");
      break;
    case ReadOutcome::Failed: job->Fault(std::string("the connection failed: ") + std::strerror(readError)); break;
    case ReadOutcome::Stopped: job->Fault("the virtual printer was stopped during the job"); break;
    default: break;
  }
  job->Finish();
}

}  // namespace streamcheck::serve
