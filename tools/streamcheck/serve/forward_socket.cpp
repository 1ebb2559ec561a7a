#include "forward_socket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/sockios.h>
#endif
#endif

#include <algorithm>
#include <cstring>

#include "forward_target.h"
#include "socket_calls.h"

namespace streamcheck::serve {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kSlice = std::chrono::milliseconds(100);  // a stop is heard within this
constexpr size_t kMostWrite = 64 * 1024;

#ifdef _WIN32
using Native = SOCKET;
constexpr Native kNone = INVALID_SOCKET;
int LastError() { return WSAGetLastError(); }
bool InProgress(int error) { return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS; }
bool WouldBlock(int error) { return error == WSAEWOULDBLOCK; }
void CloseNative(Native s) { closesocket(s); }
void NonBlocking(Native s) {
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
}
constexpr int kShutWrite = SD_SEND;
constexpr int kRefused = WSAECONNREFUSED;
constexpr int kTimedOut = WSAETIMEDOUT;
#else
using Native = int;
constexpr Native kNone = -1;
int LastError() { return errno; }
bool InProgress(int error) { return error == EINPROGRESS; }
bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }
void CloseNative(Native s) { close(s); }
void NonBlocking(Native s) { fcntl(s, F_SETFL, fcntl(s, F_GETFL, 0) | O_NONBLOCK); }
constexpr int kShutWrite = SHUT_WR;
constexpr int kRefused = ECONNREFUSED;
constexpr int kTimedOut = ETIMEDOUT;
#endif

Native Of(intptr_t s) { return static_cast<Native>(s); }

std::string Describe(int error) {
#ifdef _WIN32
  return "error " + std::to_string(error);
#else
  return std::strerror(error);
#endif
}

std::string ConnectReason(int error) {
  if (error == kRefused) return "refused (" + Describe(error) + ")";
  if (error == kTimedOut) return "timed out (" + Describe(error) + ")";
  return "unreachable (" + Describe(error) + ")";
}

int SocketError(Native s) {
  int error = 0;
  socklen_t length = sizeof error;
  getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
  return error;
}

}  // namespace

ForwardSocket::~ForwardSocket() {
  if (Of(socket_) != kNone) CloseNative(Of(socket_));
}

int ForwardSocket::WaitFor(short events, std::chrono::milliseconds timeout, const std::atomic<bool>& stop) const {
  const auto until = Clock::now() + timeout;
  while (!stop) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    if (left.count() <= 0) return 0;
    pollfd fd{Of(socket_), events, 0};
    const int ready = PollOne(fd, static_cast<int>(std::min(left, std::chrono::milliseconds(kSlice)).count()));
    if (ready > 0) return (fd.revents & (events | POLLHUP | POLLERR)) != 0 ? 1 : -1;
    if (ready < 0 && !WouldBlock(LastError())) return -1;
  }
  return 0;
}

bool ForwardSocket::Connect(const std::string& host, int port, std::chrono::milliseconds timeout,
                            const std::atomic<bool>& stop, std::string& reason) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || found == nullptr) {
    reason = "unreachable (cannot resolve " + host + ")";
    return false;
  }
  reason = "unreachable";
  for (addrinfo* a = found; a != nullptr && !stop; a = a->ai_next) {
    const Native s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == kNone) continue;
    NonBlocking(s);
    socket_ = static_cast<intptr_t>(s);
    if (connect(s, a->ai_addr, static_cast<socklen_t>(a->ai_addrlen)) == 0) break;
    const int error = LastError();
    if (InProgress(error)) {
      const int ready = WaitFor(POLLOUT, timeout, stop);
      const int result = ready > 0 ? SocketError(s) : 0;
      if (ready > 0 && result == 0) break;
      reason = ready == 0 ? "timed out (no answer within " + std::to_string(timeout.count()) + " ms)"
                          : ConnectReason(result);
    } else {
      reason = ConnectReason(error);
    }
    CloseNative(s);
    socket_ = -1;
  }
  freeaddrinfo(found);
  if (stop && Of(socket_) != kNone) {
    CloseNative(Of(socket_));
    socket_ = -1;
  }
  return Of(socket_) != kNone;
}

bool ForwardSocket::Write(std::string_view bytes, std::chrono::milliseconds stall, const std::atomic<bool>& stop,
                          size_t& written, std::string& reason) {
  while (!bytes.empty()) {
    const int ready = WaitFor(POLLOUT, stall, stop);
    if (ready <= 0) {
      reason = stop         ? kStoppedWhileSending
               : ready == 0 ? "the printer took nothing for " + std::to_string(stall.count()) + " ms"
                            : "the connection failed";
      return false;
    }
    const auto n = send(Of(socket_), bytes.data(), static_cast<int>(std::min(bytes.size(), kMostWrite)), kSendFlags);
    if (n < 0) {
      const int error = LastError();
      if (WouldBlock(error)) continue;
      reason = "the connection failed (" + Describe(error) + ")";
      return false;
    }
    written += static_cast<size_t>(n);
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool ForwardSocket::ReadByte(char& byte, std::chrono::milliseconds timeout, const std::atomic<bool>& stop,
                             std::string& reason) {
  const int ready = WaitFor(POLLIN, timeout, stop);
  const auto n = ready > 0 ? recv(Of(socket_), &byte, 1, 0) : -1;
  if (n == 1) return true;
  reason = stop         ? kStoppedWhileSending
           : ready == 0 ? "no answer within " + std::to_string(timeout.count()) + " ms"
           : n == 0     ? "the printer closed the connection"
                        : "the connection failed";
  return false;
}

bool ForwardSocket::FinishAndWaitForClose(std::chrono::milliseconds timeout, const std::atomic<bool>& stop,
                                          std::string& reason) {
  shutdown(Of(socket_), kShutWrite);
  // A printer still taking what is buffered for it is not stuck: the time
  // runs from its last progress.
  size_t pending = Unacknowledged();
  auto until = Clock::now() + timeout;
  char sink[512];
  while (!stop && Clock::now() < until) {
    const int ready = WaitFor(POLLIN, std::chrono::milliseconds(kSlice), stop);
    if (ready == 0) {
      const size_t now = Unacknowledged();
      if (now < pending) until = Clock::now() + timeout;
      pending = now;
      continue;
    }
    const auto n = ready > 0 ? recv(Of(socket_), sink, sizeof sink, 0) : -1;
    if (n == 0) return true;  // closed: it has taken everything
    if (n < 0 && !WouldBlock(LastError())) {
      reason = "the printer reset the connection before it had taken the whole job";
      return false;
    }
  }
  reason = stop ? kStoppedWhileSending
                : "the printer did not take the end of the job within " + std::to_string(timeout.count()) + " ms";
  return false;
}

size_t ForwardSocket::Unacknowledged() const {
#if defined(__linux__)
  int pending = 0;
  if (ioctl(Of(socket_), SIOCOUTQ, &pending) == 0 && pending > 0) return static_cast<size_t>(pending);
#endif
  return 0;
}

}  // namespace streamcheck::serve
