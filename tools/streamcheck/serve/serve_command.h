// "streamcheck serve": the virtual printer as a program, and the same in a
// process of its own making for tests (VirtualPrinterServer).
#pragma once
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "serve_options.h"

namespace streamcheck::serve {

class JobStore;
class WebServer;

// The printer, its store and both ports, running until Stop or destruction.
// Its parts are built in serve_command.cpp alone, so that a user of the server
// does not compile the network and HTTP libraries.
class VirtualPrinterServer {
 public:
  explicit VirtualPrinterServer(ServeOptions options);
  ~VirtualPrinterServer();
  VirtualPrinterServer(const VirtualPrinterServer&) = delete;
  VirtualPrinterServer& operator=(const VirtualPrinterServer&) = delete;

  bool Start(std::string& error);
  void Stop();
  int RawPort() const;
  // The LPD port, -1 when it is off.
  int LpdPort() const;
  int HttpPort() const;
  JobStore& Store();
  const WebServer& Web() const;

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

// An address as the host part of a URL: IPv6 in brackets.
std::string UrlHost(const std::string& address);

// args: the words after "serve". Runs until SIGINT or SIGTERM.
int RunServe(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace streamcheck::serve
