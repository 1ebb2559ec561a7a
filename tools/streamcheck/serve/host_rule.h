// Who may talk to the virtual printer's page, by the Host its requests name.
#pragma once
#include <string>

namespace streamcheck::serve {

// Who may talk to the page: the Host names the address the server listens on,
// a loopback address or "localhost" (a name any other site could point at this
// machine is refused); `port` is the HTTP port.
struct HostRule {
  std::string listen;
  int port = 0;
};
bool HostAllowed(const HostRule& rule, const std::string& host);

// An address only this machine reaches: 127.0.0.0/8, ::1 or "localhost".
bool IsLoopbackListen(const std::string& listen);

}  // namespace streamcheck::serve
