#include "receive_loop.h"

namespace streamcheck::serve {

namespace {
constexpr size_t kReadSize = 16 * 1024;                        // per connection, while it is open
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);  // after a failed accept (out of descriptors)

std::string PeerName(const asio::ip::tcp::socket& socket) {
  asio::error_code ec;
  const auto peer = socket.remote_endpoint(ec);
  if (ec) return "?";
  return peer.address().to_string() + ":" + std::to_string(peer.port());
}
}  // namespace

Connection::Connection(ReceiveLoop& loop, asio::ip::tcp::socket socket, std::unique_ptr<ConnectionProtocol> protocol,
                       int localPort)
    : loop_(loop),
      socket_(std::move(socket)),
      protocol_(std::move(protocol)),
      quiet_(socket_.get_executor()),
      late_(socket_.get_executor()),
      buffer_(kReadSize),
      peer_(PeerName(socket_)),
      localPort_(localPort) {}

const ServeOptions& Connection::Options() const { return loop_.options_; }

void Connection::Start() {
  protocol_->Opened(*this);
  if (ended_) return;
  ArmQuiet();
  Read();
}

void Connection::Read() {
  socket_.async_read_some(asio::buffer(buffer_), [self = shared_from_this()](asio::error_code ec, size_t n) {
    if (self->ended_) return;
    if (ec == asio::error::eof) return self->End(ConnectionEnd::Closed, {});
    if (ec) return self->End(ConnectionEnd::Failed, ec.message());
    self->ArmQuiet();
    self->protocol_->Received(*self, std::string_view(self->buffer_.data(), n));
    if (!self->ended_) self->Read();
  });
}

void Connection::ArmQuiet() {
  quiet_.expires_after(Options().readTimeout);
  quiet_.async_wait([self = shared_from_this()](asio::error_code ec) {
    // A wait that completed just before bytes re-armed the timer does not count.
    if (ec || self->ended_ || self->quiet_.expiry() > std::chrono::steady_clock::now()) return;
    self->End(ConnectionEnd::Quiet, {});
  });
}

bool Connection::BeginJob(const std::string& source, const std::string& via) {
  EndJob();
  std::optional<ArrivingJob> job = loop_.queue_.Arrive(source, via);
  if (!job) return false;
  job_ = std::make_unique<ArrivingJob>(std::move(*job));
  late_.expires_after(Options().jobDeadline);
  late_.async_wait([self = shared_from_this()](asio::error_code ec) {
    if (ec || self->ended_) return;
    self->End(ConnectionEnd::Late, {});
  });
  return true;
}

bool Connection::Spool(std::string_view bytes) { return job_ != nullptr && job_->Add(bytes); }

void Connection::Fault(std::string message) {
  if (job_) job_->Fault(std::move(message));
}

void Connection::Describe(const std::string& title, const std::string& user) {
  if (job_) loop_.store_.Describe(job_->Id(), title, user);
}

void Connection::Send(std::string_view bytes) {
  if (shut_) return;
  outgoing_.append(bytes);
  if (!writing_) Flush();
}

void Connection::Flush() {
  writing_ = true;
  sending_.swap(outgoing_);
  outgoing_.clear();
  asio::async_write(socket_, asio::buffer(sending_), [self = shared_from_this()](asio::error_code ec, size_t) {
    self->writing_ = false;
    if (ec) self->outgoing_.clear();
    if (!self->outgoing_.empty() && !self->shut_) return self->Flush();
    if (self->ended_) self->Shut();
  });
}

void Connection::EndJob() {
  if (!job_) return;
  late_.cancel();
  loop_.queue_.Submit(std::move(*job_));
  job_.reset();
}

void Connection::End(ConnectionEnd how, const std::string& detail) {
  if (ended_) return;
  ended_ = true;
  quiet_.cancel();
  late_.cancel();
  protocol_->Ended(*this, how, detail);
  EndJob();
  if (!writing_ || how == ConnectionEnd::Stopped) return Shut();
  // The last answer goes out first, but a client that does not read it
  // holds the connection no longer than the read timeout.
  quiet_.expires_after(Options().readTimeout);
  quiet_.async_wait([self = shared_from_this()](asio::error_code ec) {
    if (!ec) self->Shut();
  });
}

void Connection::Shut() {
  if (shut_) return;
  shut_ = true;
  quiet_.cancel();
  // A client still sending learns at once that nobody reads.
  asio::error_code ec;
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
  socket_.close(ec);
  loop_.Closed(shared_from_this());
}

void NoteConnectionEnd(Connection& connection, ConnectionEnd how, const std::string& detail) {
  const ServeOptions& options = connection.Options();
  const bool none = connection.JobBytes() == 0;
  switch (how) {
    case ConnectionEnd::Quiet:
      connection.Fault(std::string(none ? "the client sent nothing" : "the client sent nothing more") + " for " +
                       std::to_string(options.readTimeout.count()) + " ms: the job ends here");
      break;
    case ConnectionEnd::Late:
      connection.Fault("the job took longer than the deadline of " + std::to_string(options.jobDeadline.count()) +
                       " s: the rest was not read, the stream is checked as far as it came");
      break;
    case ConnectionEnd::Failed: connection.Fault("the connection failed: " + detail); break;
    case ConnectionEnd::Stopped: connection.Fault("the virtual printer was stopped while the job was arriving"); break;
    case ConnectionEnd::Closed:
    case ConnectionEnd::Cut: break;
  }
}

int ReceiveLoop::Listen(const std::string& address, int port, ProtocolMaker make, std::string& error) {
  const std::string service = std::to_string(port);
  asio::error_code ec;
  asio::ip::tcp::resolver resolver(io_);
  const auto found = resolver.resolve(address, service,
                                      asio::ip::resolver_base::passive | asio::ip::resolver_base::numeric_service, ec);
  if (ec) {
    error = "cannot resolve " + address + ": " + ec.message();
    return -1;
  }
  for (const auto& entry : found) {
    auto listening = std::make_unique<Port>(Port{asio::ip::tcp::acceptor(io_), make, 0, asio::steady_timer(io_)});
    asio::ip::tcp::acceptor& acceptor = listening->acceptor;
    acceptor.open(entry.endpoint().protocol(), ec);
#ifndef _WIN32
    // On Windows this option would let a second server take the port in use.
    if (!ec) acceptor.set_option(asio::socket_base::reuse_address(true), ec);
#endif
    if (!ec) acceptor.bind(entry.endpoint(), ec);
    if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
      error = "cannot listen on " + address + ":" + service + ": " + ec.message();
      continue;
    }
    listening->number = acceptor.local_endpoint(ec).port();
    ports_.push_back(std::move(listening));
    return ports_.back()->number;
  }
  if (error.empty()) error = "cannot listen on " + address + ":" + service;
  return -1;
}

void ReceiveLoop::Start() {
  if (thread_.joinable()) return;
  for (auto& port : ports_) Accept(*port);
  thread_ = std::thread([this] {
    for (;;) {
      try {
        io_.run();
        return;
      } catch (...) {
        // A failure of one connection (memory exhausted) must not end the others.
      }
    }
  });
}

void ReceiveLoop::Accept(Port& port) {
  if (stopped_) return;
  if (open_ >= std::max<size_t>(1, options_.maxConnections)) {
    paused_.push_back(&port);  // the rest wait in the listen queue
    return;
  }
  port.acceptor.async_accept([this, &port](asio::error_code ec, asio::ip::tcp::socket socket) {
    if (stopped_ || ec == asio::error::operation_aborted) return;
    if (ec) {
      port.retry.expires_after(kAcceptRetry);
      port.retry.async_wait([this, &port](asio::error_code waited) {
        if (!waited) Accept(port);
      });
      return;
    }
    auto connection = std::make_shared<Connection>(*this, std::move(socket), port.make(), port.number);
    connections_.insert(connection);
    ++open_;
    connection->Start();
    Accept(port);
  });
}

void ReceiveLoop::Closed(const std::shared_ptr<Connection>& connection) {
  if (connections_.erase(connection) == 0) return;
  --open_;
  std::vector<Port*> waiting;
  waiting.swap(paused_);
  for (Port* port : waiting) Accept(*port);
}

void ReceiveLoop::Stop() {
  auto stop = [this] {
    stopped_ = true;
    asio::error_code ec;
    for (auto& port : ports_) {
      port->acceptor.close(ec);  // connections still in its listen queue are refused
      port->retry.cancel();
    }
    const auto open = connections_;
    for (const auto& connection : open) connection->End(ConnectionEnd::Stopped, {});
  };
  if (!thread_.joinable()) {
    stop();
    return;
  }
  asio::post(io_, stop);
  thread_.join();
}

}  // namespace streamcheck::serve
