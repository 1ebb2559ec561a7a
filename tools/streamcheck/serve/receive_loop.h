// The receiving side of the printer's ports: one event loop (standalone Asio,
// one thread) accepts connections and reads each on its own, with its own read
// timeout, job deadline and size bound, into a spool of its own; a job whose
// last byte has arrived goes to the print queue. Idle connections cost no
// thread; a silent, slow or stuck client holds only itself. Past the
// connection limit, new connections wait in the listen queue; nothing
// accepted is dropped.
//
// What the bytes of a connection mean is up to its protocol object (raw: the
// whole connection is one job); the loop gives every protocol the same
// machinery: Connection::BeginJob / Spool / Fault / EndJob / Close.
#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#ifndef ASIO_STANDALONE
#define ASIO_STANDALONE
#endif
#include <asio.hpp>

#include "print_queue.h"

namespace streamcheck::serve {

class Connection;

// Why a connection stopped being read.
enum class ConnectionEnd {
  Closed,  // the client closed it
  Quiet,   // nothing came for the read timeout
  Late,    // its job passed the job deadline
  Failed,  // a network error (detail says which)
  Cut,     // the protocol closed it (a bound was reached)
  Stopped  // the server stops
};

// One connection's protocol: what its bytes mean. Called on the loop's thread.
class ConnectionProtocol {
 public:
  virtual ~ConnectionProtocol() = default;
  virtual void Opened(Connection& connection) = 0;
  virtual void Received(Connection& connection, std::string_view bytes) = 0;
  // Reading has stopped. A job still open afterwards is ended (EndJob) by the loop.
  virtual void Ended(Connection& connection, ConnectionEnd how, const std::string& detail) = 0;
};

// Records why reading stopped as a fault of the open job, in the words every
// protocol uses for a quiet client, a late job, a network failure or a stop
// (a client's close and a protocol's own cut are the protocol's to judge).
void NoteConnectionEnd(Connection& connection, ConnectionEnd how, const std::string& detail);

using ProtocolMaker = std::function<std::unique_ptr<ConnectionProtocol>()>;

class ReceiveLoop;

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(ReceiveLoop& loop, asio::ip::tcp::socket socket, std::unique_ptr<ConnectionProtocol> protocol,
             int localPort);
  const std::string& Peer() const { return peer_; }
  int LocalPort() const { return localPort_; }
  const ServeOptions& Options() const;

  // Opens a job: its record appears as arriving, its deadline starts. `via`
  // names the way in ("raw", "lpd"). False when the store refuses new jobs
  // (full of jobs that still have to go on to the printer behind).
  bool BeginJob(const std::string& source, const std::string& via);
  bool JobOpen() const { return job_ != nullptr; }
  size_t JobBytes() const { return job_ ? job_->Bytes() : 0; }
  // Keeps bytes of the open job within its size bound; false once the job is
  // cut there (its fault noted): nothing more of it is to be read.
  bool Spool(std::string_view bytes);
  void Fault(std::string message);
  // The open job's name and user, as its client gave them.
  void Describe(const std::string& title, const std::string& user);
  // Sends bytes to the client (answers, acknowledgements), in order; a
  // connection that ends waits for them to go, within the read timeout.
  void Send(std::string_view bytes);
  // The open job's last byte has arrived: stored, then to the print queue.
  void EndJob();
  // Stops reading: the connection ends (ConnectionEnd::Cut).
  void Close() { End(ConnectionEnd::Cut, {}); }

 private:
  friend class ReceiveLoop;
  void Start();
  void Read();
  void ArmQuiet();
  void End(ConnectionEnd how, const std::string& detail);
  void Flush();
  void Shut();

  ReceiveLoop& loop_;
  asio::ip::tcp::socket socket_;
  std::unique_ptr<ConnectionProtocol> protocol_;
  asio::steady_timer quiet_;
  asio::steady_timer late_;
  std::vector<char> buffer_;
  std::string peer_;
  int localPort_;
  std::unique_ptr<ArrivingJob> job_;
  std::string outgoing_;  // waiting to be sent
  std::string sending_;   // being sent
  bool writing_ = false;
  bool ended_ = false;
  bool shut_ = false;
};

class ReceiveLoop {
 public:
  ReceiveLoop(const ServeOptions& options, JobStore& store, PrintQueue& queue)
      : options_(options), store_(store), queue_(queue) {}
  ~ReceiveLoop() { Stop(); }
  ReceiveLoop(const ReceiveLoop&) = delete;
  ReceiveLoop& operator=(const ReceiveLoop&) = delete;

  // Binds a port whose connections speak the protocol `make` makes (before
  // Start); false with `error` set when the port cannot be had. The port bound.
  int Listen(const std::string& address, int port, ProtocolMaker make, std::string& error);
  void Start();
  // Connections open now.
  size_t Open() const { return open_; }
  // Stops accepting, ends every open connection (its job goes to the queue
  // with a fault) and waits for the loop to finish; connections still in the
  // listen queue are refused.
  void Stop();

 private:
  friend class Connection;
  struct Port {
    asio::ip::tcp::acceptor acceptor;
    ProtocolMaker make;
    int number = 0;
    asio::steady_timer retry;  // after a failed accept
  };
  void Accept(Port& port);
  void AcceptWhenRoom();
  void Closed(const std::shared_ptr<Connection>& connection);

  const ServeOptions& options_;
  JobStore& store_;
  PrintQueue& queue_;
  asio::io_context io_;
  std::vector<std::unique_ptr<Port>> ports_;
  std::set<std::shared_ptr<Connection>> connections_;  // loop thread only
  std::vector<Port*> paused_;                          // ports not accepting while at the limit
  std::atomic<size_t> open_{0};
  std::thread thread_;
  bool stopped_ = false;
};

}  // namespace streamcheck::serve
