#include "forward_target.h"

#include <charconv>

#include "forward_socket.h"

namespace streamcheck::serve {

namespace {

constexpr int kLpdPort = 515;
constexpr int kRawPort = 9100;
constexpr int kHighestPort = 65535;

// "HOST[:PORT]", the host of IPv6 in brackets.
bool HostAndPort(const std::string& text, int defaultPort, ForwardTarget& target, std::string& error) {
  std::string host = text, port;
  if (!host.empty() && host[0] == '[') {
    const size_t close = host.find(']');
    if (close == std::string::npos) {
      error = "an IPv6 address without its closing bracket";
      return false;
    }
    port = host.substr(close + 1);
    host = host.substr(1, close - 1);
    if (!port.empty() && port[0] != ':') {
      error = "something after the address that is not a port";
      return false;
    }
    if (!port.empty()) port = port.substr(1);
  } else if (const size_t colon = host.rfind(':'); colon != std::string::npos) {
    port = host.substr(colon + 1);
    host = host.substr(0, colon);
  }
  if (host.empty()) {
    error = "no host";
    return false;
  }
  target.host = host;
  target.port = defaultPort;
  if (port.empty()) return true;
  int number = 0;
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
  if (ec != std::errc() || end != port.data() + port.size() || number < 1 || number > kHighestPort) {
    error = "the port \"" + port + "\" is not a number from 1 to 65535";
    return false;
  }
  target.port = number;
  return true;
}

}  // namespace

std::optional<ForwardTarget> ParseForwardTarget(const std::string& uri, std::string& error) {
  ForwardTarget target;
  target.uri = uri;
  std::string why;
  if (uri.rfind("socket://", 0) == 0) {
    target.kind = ForwardTarget::Kind::Socket;
    if (HostAndPort(uri.substr(9), kRawPort, target, why)) return target;
  } else if (uri.rfind("lpd://", 0) == 0) {
    target.kind = ForwardTarget::Kind::Lpd;
    const std::string rest = uri.substr(6);
    const size_t slash = rest.find('/');
    target.queue = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    if (target.queue.empty() || target.queue.find_first_of(" \t\r\n/") != std::string::npos) {
      why = "no queue, or a queue name with spaces or slashes (lpd://HOST[:PORT]/QUEUE)";
    } else if (HostAndPort(rest.substr(0, slash), kLpdPort, target, why)) {
      return target;
    }
  } else if (uri.rfind("printer:", 0) == 0) {
    target.kind = ForwardTarget::Kind::Printer;
    target.printer = uri.substr(8);
#ifdef _WIN32
    if (!target.printer.empty()) return target;
    why = "no printer name";
#else
    why = "printer:NAME names a Windows printer; here, use socket:// or lpd://";
#endif
  } else {
    why = "use socket://HOST[:PORT], lpd://HOST[:PORT]/QUEUE or printer:NAME";
  }
  error = "--forward " + uri + ": " + why;
  return std::nullopt;
}

}  // namespace streamcheck::serve
