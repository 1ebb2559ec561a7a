// The raw printing port: every TCP connection is one job, its bytes the
// stream. At most a set number of connections at once; a connection that
// sends nothing for the read timeout ends its job with a fault.
#pragma once
#include <atomic>
#include <list>
#include <mutex>
#include <string>
#include <thread>

#include "virtual_printer.h"

namespace streamcheck::serve {

class RawListener {
 public:
  explicit RawListener(VirtualPrinter& printer) : printer_(printer) {}
  ~RawListener() { Stop(); }
  RawListener(const RawListener&) = delete;
  RawListener& operator=(const RawListener&) = delete;

  // Binds and starts accepting; false with `error` set when the port cannot be had.
  bool Start(const std::string& address, int port, std::string& error);
  int Port() const { return port_; }
  // Stops accepting, ends the open connections and waits for their jobs.
  void Stop();

 private:
  struct Connection {
    int socket = -1;
    std::string peer;
    std::thread worker;
    std::atomic<bool> reading{true};  // counts against the connection limit
    std::atomic<bool> done{false};
  };

  void AcceptLoop();
  void Serve(Connection& connection);
  void ReapFinished();

  VirtualPrinter& printer_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::mutex connectionsMutex_;
  std::list<Connection> connections_;
};

}  // namespace streamcheck::serve
