// "streamcheck serve": the virtual printer as a program, and the same in a
// process of its own making for tests (VirtualPrinterServer).
#pragma once
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "forwarder.h"
#include "job_store.h"
#include "picture_writer.h"
#include "print_queue.h"
#include "receive_loop.h"
#include "serve_options.h"
#include "virtual_printer.h"
#include "web_server.h"

namespace streamcheck::serve {

// The printer, its store and both ports, running until Stop or destruction.
class VirtualPrinterServer {
 public:
  explicit VirtualPrinterServer(ServeOptions options);
  ~VirtualPrinterServer() { Stop(); }

  bool Start(std::string& error);
  void Stop();
  int RawPort() const { return rawPort_; }
  // The LPD port, -1 when it is off.
  int LpdPort() const { return lpdPort_; }
  int HttpPort() const { return web_.Port(); }
  JobStore& Store() { return store_; }
  const WebServer& Web() const { return web_; }

 private:
  ServeOptions options_;
  JobStore store_;
  PictureWriter pictures_;
  VirtualPrinter printer_;
  std::unique_ptr<Forwarder> forwarder_;  // none without a printer behind
  PrintQueue queue_;
  WebServer web_;
  ReceiveLoop receiver_;
  int rawPort_ = 0;
  int lpdPort_ = -1;
};

// An address as the host part of a URL: IPv6 in brackets.
std::string UrlHost(const std::string& address);

// args: the words after "serve". Runs until SIGINT or SIGTERM.
int RunServe(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace streamcheck::serve
