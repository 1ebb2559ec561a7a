// What keeps the virtual printer's web side to its own clients and bounded:
// an HTTP server whose connections must send a whole request head within a
// set time (a client trickling header lines cannot keep a worker), and the
// checks every request passes before it is routed (the Host it names, where
// a state-changing request comes from, one range at most, no body where none
// belongs), and the one range a request may ask for.
#pragma once
#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "host_rule.h"

namespace streamcheck::serve {

class GuardedHttpServer : public httplib::Server {
 public:
  // `headTime`: for a request's head, from its first byte to its blank line;
  // `io`: for each read or write; `idle`: between requests on one connection.
  GuardedHttpServer(std::chrono::milliseconds headTime, std::chrono::milliseconds io, std::chrono::milliseconds idle)
      : headTime_(headTime), io_(io), idle_(idle) {}

  // On the thread of the request: its head is in, the handler's own bounds
  // apply from now on.
  static void HeadRead();

 private:
  bool process_and_close_socket(socket_t sock) override;

  const std::chrono::milliseconds headTime_;
  const std::chrono::milliseconds io_;
  const std::chrono::milliseconds idle_;
};

// The checks before routing. Answers the request itself (true) when it is
// refused: 421 for a foreign Host, 403 for a state-changing request from
// another origin, 415 for one a page of another site could send unasked,
// 416 for more than one range, 413 for a body where none belongs.
bool RefuseRequest(const HostRule& rule, const httplib::Request& req, httplib::Response& res);

// The part of a resource of `size` bytes that a request asks for: all of it
// without a Range, or its one range, clamped to the end (`partial`). None when
// that range cannot be satisfied: `res` is then a short 416. Either way the
// request's ranges are taken over here, so that the library does not cut the
// answer again.
// With a password (not empty), a request must carry it by HTTP Basic (any
// user name); it is compared in constant time. Answers the request itself
// (true) with 401 when it does not.
bool RefuseWithoutPassword(const std::string& password, const httplib::Request& req, httplib::Response& res);

struct ByteSpan {
  size_t offset = 0;
  size_t length = 0;
  bool partial = false;
};
std::optional<ByteSpan> RequestedSpan(const httplib::Request& req, httplib::Response& res, size_t size);

}  // namespace streamcheck::serve
