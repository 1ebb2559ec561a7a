// The raw printing port: every TCP connection is one job, its bytes the
// stream. A fixed number of workers take connections from the listen queue;
// while all of them are busy, a new connection waits there, unread, until one
// is free (or is reset when the printer stops), so that no job is taken and
// then dropped. A connection that sends nothing for the read timeout, or whose
// job runs past the job deadline, ends its job with a fault.
#pragma once
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "virtual_printer.h"

namespace streamcheck::serve {

class RawListener {
 public:
  explicit RawListener(VirtualPrinter& printer) : printer_(printer) {}
  ~RawListener() { Stop(); }
  RawListener(const RawListener&) = delete;
  RawListener& operator=(const RawListener&) = delete;

  // Binds and starts the workers; false with `error` set when the port cannot be had.
  bool Start(const std::string& address, int port, std::string& error);
  int Port() const { return port_; }
  // Connections being served now (reading or waiting for the printer).
  int Busy() const { return busy_; }
  // Stops accepting, ends the open connections and waits for their jobs;
  // connections still waiting in the listen queue are reset.
  void Stop();

 private:
  void WorkerLoop();
  void Serve(int socket, const std::string& peer);

  VirtualPrinter& printer_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> busy_{0};
  std::vector<std::thread> workers_;
};

}  // namespace streamcheck::serve
