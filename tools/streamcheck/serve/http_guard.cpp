#include "http_guard.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <nlohmann/json.hpp>

#include "socket_calls.h"

namespace streamcheck::serve {

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kMostSmallBody = 64 * 1024;  // a request other than a job carries no more

#ifdef _WIN32
bool Interrupted() { return false; }
void CloseSocket(socket_t socket) {
  shutdown(socket, SD_BOTH);
  closesocket(socket);
}
#else
bool Interrupted() { return errno == EINTR; }
void CloseSocket(socket_t socket) {
  shutdown(socket, SHUT_RDWR);
  close(socket);
}
#endif

// The ranges a request asked for are answered here (or refused): the library
// must not apply them to the answer again. Its request object is its own and
// not const; the handlers see it as const only.
void TakeOverRanges(const httplib::Request& req) { const_cast<httplib::Request&>(req).ranges.clear(); }

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool IsAddress(const std::string& name, bool* loopback = nullptr) {
  in_addr v4{};
  in6_addr v6{};
  if (inet_pton(AF_INET, name.c_str(), &v4) == 1) {
    if (loopback) *loopback = (ntohl(v4.s_addr) >> 24) == 127;
    return true;
  }
  if (inet_pton(AF_INET6, name.c_str(), &v6) == 1) {
    if (loopback) *loopback = IN6_IS_ADDR_LOOPBACK(&v6);
    return true;
  }
  return false;
}

std::string Base64Decoded(const std::string& text) {
  constexpr int kBits = 6;
  std::string out;
  uint32_t buffer = 0;
  int bits = 0;
  for (const char c : text) {
    int value = -1;
    if (c >= 'A' && c <= 'Z') value = c - 'A';
    if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
    if (c >= '0' && c <= '9') value = c - '0' + 52;
    if (c == '+') value = 62;
    if (c == '/') value = 63;
    if (c == '=' || c == ' ') continue;
    if (value < 0) return {};
    buffer = (buffer << kBits) | static_cast<uint32_t>(value);
    bits += kBits;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((buffer >> bits) & 0xff));
    }
  }
  return out;
}

// Equal texts, in a time that depends on the password's length only.
bool SameInConstantTime(const std::string& given, const std::string& password) {
  unsigned difference = given.size() == password.size() ? 0 : 1;
  for (size_t i = 0; i < password.size(); ++i) {
    const char g = i < given.size() ? given[i] : '\0';
    difference |= static_cast<unsigned char>(g ^ password[i]);
  }
  return difference == 0;
}

bool Wildcard(const std::string& listen) { return listen.empty() || listen == "0.0.0.0" || listen == "::"; }

void Answer(httplib::Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_header("Connection", "close");  // a body it may have sent is not read
  res.set_content(nlohmann::json{{"error", message}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                  "application/json");
}

// A connection read through a small buffer, as the library's own stream
// does, with a deadline for the request head on top of the timeout of each
// read and write.
class DeadlineStream final : public httplib::Stream {
 public:
  DeadlineStream(socket_t socket, std::chrono::milliseconds io) : socket_(socket), io_(io) {}

  void SetDeadline(Clock::time_point deadline) { deadline_ = deadline; }
  bool Buffered() const { return at_ < end_; }
  // Waits up to `timeout` (and the deadline) for the socket to be `events`.
  bool Wait(short events, std::chrono::milliseconds timeout) const {
    const auto until = std::min(Clock::now() + timeout, deadline_);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      if (left <= 0) return false;
      pollfd waiting{socket_, events, 0};
      const int ready = PollOne(waiting, static_cast<int>(left));
      if (ready > 0) return true;
      if (ready == 0 || !Interrupted()) return false;
    }
  }

  bool is_readable() const override { return Buffered() || Wait(POLLIN, io_); }
  bool is_writable() const override { return Wait(POLLOUT, io_); }
  ssize_t read(char* ptr, size_t size) override {
    if (!Buffered()) {
      if (!Wait(POLLIN, io_)) return -1;
      const ssize_t n = recv(socket_, buffer_, static_cast<int>(sizeof buffer_), 0);
      if (n <= 0) return n;
      at_ = 0;
      end_ = static_cast<size_t>(n);
    }
    const size_t n = std::min(size, end_ - at_);
    std::memcpy(ptr, buffer_ + at_, n);
    at_ += n;
    return static_cast<ssize_t>(n);
  }
  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    return send(socket_, ptr, static_cast<int>(std::min<size_t>(size, kMostSend)), kSendFlags);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override { Name(true, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { Name(false, ip, port); }
  socket_t socket() const override { return socket_; }

 private:
  static constexpr size_t kMostSend = 1 << 30;
  void Name(bool peer, std::string& ip, int& port) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    char host[NI_MAXHOST] = "";
    char service[NI_MAXSERV] = "0";
    auto* named = reinterpret_cast<sockaddr*>(&address);
    if ((peer ? getpeername(socket_, named, &length) : getsockname(socket_, named, &length)) == 0) {
      getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, service, sizeof service,
                  NI_NUMERICHOST | NI_NUMERICSERV);
    }
    ip = host;
    port = std::atoi(service);
  }

  const socket_t socket_;
  const std::chrono::milliseconds io_;
  Clock::time_point deadline_ = Clock::time_point::max();
  char buffer_[4096];
  size_t at_ = 0, end_ = 0;
};

thread_local DeadlineStream* tStream = nullptr;

}  // namespace

bool GuardedHttpServer::process_and_close_socket(socket_t sock) {
  DeadlineStream stream(sock, io_);
  tStream = &stream;
  bool result = false;
  for (size_t count = keep_alive_max_count_; count > 0 && svr_sock_ != INVALID_SOCKET; --count) {
    // The next request is awaited for the idle time; once it has begun, its
    // head must be in within the head time.
    stream.SetDeadline(Clock::time_point::max());
    if (!stream.Buffered() && !stream.Wait(POLLIN, idle_)) break;
    stream.SetDeadline(Clock::now() + headTime_);
    bool closed = false;
    result = process_request(stream, count == 1, closed, nullptr);
    if (!result || closed) break;
  }
  tStream = nullptr;
  CloseSocket(sock);
  return result;
}

void GuardedHttpServer::HeadRead() {
  if (tStream != nullptr) tStream->SetDeadline(Clock::time_point::max());
}

bool HostAllowed(const HostRule& rule, const std::string& host) {
  std::string name = Lower(host);
  std::string port;
  if (!name.empty() && name[0] == '[') {
    const size_t close = name.find(']');
    if (close == std::string::npos) return false;
    port = name.substr(close + 1);
    name = name.substr(1, close - 1);
    if (!IsAddress(name)) return false;
  } else if (const size_t colon = name.rfind(':'); colon != std::string::npos) {
    port = name.substr(colon);
    name = name.substr(0, colon);
  }
  if (!port.empty() && port != ":" + std::to_string(rule.port)) return false;
  std::string listen = Lower(rule.listen);
  if (listen.size() > 2 && listen.front() == '[' && listen.back() == ']') listen = listen.substr(1, listen.size() - 2);
  bool loopback = false;
  const bool address = IsAddress(name, &loopback);
  // An address cannot be made to point elsewhere, as a name can (DNS rebinding).
  if (name == "localhost" || name == listen || loopback) return true;
  return Wildcard(listen) && address;
}

bool RefuseRequest(const HostRule& rule, const httplib::Request& req, httplib::Response& res) {
  const std::string host = req.get_header_value("Host");
  if (req.get_header_value_count("Host") > 1 || (req.has_header("Host") && !HostAllowed(rule, host))) {
    Answer(res, 421, "this server does not answer for the host \"" + host.substr(0, 100) + "\"");
    return true;
  }
  if (req.get_header_value_count("Range") > 1 || req.get_header_value("Range").find(',') != std::string::npos) {
    Answer(res, 416, "one range per request");
    TakeOverRanges(req);
    return true;
  }
  const bool job = req.method == "POST" && req.path == "/api/jobs";
  const bool chunked = Lower(req.get_header_value("Transfer-Encoding")).find("chunked") != std::string::npos;
  if (!job && (chunked || req.get_header_value<uint64_t>("Content-Length") > kMostSmallBody)) {
    Answer(res, 413, "this request takes no body of that size");
    return true;
  }
  if (req.method != "POST") return false;
  const std::string origin = req.get_header_value("Origin");
  const std::string site = req.get_header_value("Sec-Fetch-Site");
  if ((req.has_header("Origin") && origin != "http://" + host) ||
      (!site.empty() && site != "same-origin" && site != "none")) {
    Answer(res, 403, "a request from another site may not send jobs or switch the printer off");
    return true;
  }
  std::string type = Lower(req.get_header_value("Content-Type"));
  type.erase(std::find(type.begin(), type.end(), ';'), type.end());  // the parameters go
  type.erase(std::remove_if(type.begin(), type.end(), [](unsigned char c) { return std::isspace(c); }), type.end());
  if (type == "multipart/form-data") {
    Answer(res, 415,
           "a form upload is not taken: send the stream itself as the body, as "
           "curl --data-binary @job.prn -H 'Content-Type: application/octet-stream' does");
    return true;
  }
  // What a page of any site may send without asking first: refused, so that
  // only clients that mean it (a program, or this server's own page) get here.
  if (type.empty() || type == "text/plain" || type == "application/x-www-form-urlencoded") {
    if (!req.has_header("X-Printer-Client")) {
      Answer(res, 415,
             "send a job as application/octet-stream and a power cycle as application/json "
             "(or add the header X-Printer-Client: 1)");
      return true;
    }
  }
  return false;
}

bool IsLoopbackListen(const std::string& listen) {
  std::string name = Lower(listen);
  if (name.size() > 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
  bool loopback = false;
  return name == "localhost" || (IsAddress(name, &loopback) && loopback);
}

bool RefuseWithoutPassword(const std::string& password, const httplib::Request& req, httplib::Response& res) {
  if (password.empty()) return false;
  const std::string given = Lower(req.get_header_value("Authorization").substr(0, 6)) == "basic "
                                ? Base64Decoded(req.get_header_value("Authorization").substr(6))
                                : std::string();
  const size_t colon = given.find(':');
  if (colon != std::string::npos && SameInConstantTime(given.substr(colon + 1), password)) return false;
  Answer(res, 401, "this printer's page asks for its password (HTTP Basic; any user name)");
  res.set_header("WWW-Authenticate", "Basic realm=\"virtual printer\", charset=\"UTF-8\"");
  return true;
}

std::optional<ByteSpan> RequestedSpan(const httplib::Request& req, httplib::Response& res, size_t size) {
  if (req.ranges.empty()) return ByteSpan{0, size, false};
  std::optional<ByteSpan> span;
  if (req.ranges.size() == 1 && size > 0) {
    // The library's parse: -1 for a missing end; a suffix has no first byte.
    const auto [first, last] = req.ranges[0];
    if (first < 0 && last > 0) {
      const size_t length = std::min(size, static_cast<size_t>(last));
      span = ByteSpan{size - length, length, true};
    } else if (first >= 0 && static_cast<size_t>(first) < size && (last < 0 || last >= first)) {
      const size_t end = last < 0 ? size - 1 : std::min(size - 1, static_cast<size_t>(last));
      span = ByteSpan{static_cast<size_t>(first), end - static_cast<size_t>(first) + 1, true};
    }
  }
  const bool several = req.ranges.size() > 1;
  TakeOverRanges(req);
  if (!span) {
    Answer(res, 416, several ? "one range per request" : "the range is not in the resource");
    res.set_header("Content-Range", "bytes */" + std::to_string(size));
    return std::nullopt;
  }
  res.status = 206;
  res.set_header("Content-Range", "bytes " + std::to_string(span->offset) + "-" +
                                      std::to_string(span->offset + span->length - 1) + "/" + std::to_string(size));
  return span;
}

}  // namespace streamcheck::serve
