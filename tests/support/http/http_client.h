// The tests' HTTP client: a small interface over the HTTP library's client,
// compiled once for every test that talks to the virtual printer's web side,
// so that no test file includes the library itself.
#pragma once
#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace streamcheck::testing {

using HttpHeaders = std::multimap<std::string, std::string>;

struct HttpAnswer {
  int status = 0;
  std::string body;
  HttpHeaders headers;  // names as the server sent them
  // The first value of the header `name` (any case), empty when absent.
  std::string Header(const std::string& name) const;
};

// One request's outcome: the answer, or why none came (`error`).
class HttpResult {
 public:
  HttpResult() = default;
  explicit HttpResult(HttpAnswer answer) : answered_(true), answer_(std::move(answer)) {}
  static HttpResult Failed(std::string why) {
    HttpResult result;
    result.error = std::move(why);
    return result;
  }
  explicit operator bool() const { return answered_; }
  const HttpAnswer* operator->() const { return &answer_; }
  const HttpAnswer& operator*() const { return answer_; }
  std::string error;

 private:
  bool answered_ = false;
  HttpAnswer answer_;
};

class HttpClient {
 public:
  HttpClient(const std::string& host, int port);
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  void SetReadTimeout(std::chrono::milliseconds timeout);
  void SetConnectTimeout(std::chrono::milliseconds timeout);

  HttpResult Get(const std::string& path, const HttpHeaders& headers = {});
  HttpResult Post(const std::string& path, const std::string& body, const std::string& type,
                  const HttpHeaders& headers = {});
  // A body of `size` bytes handed over piece by piece: `piece(offset, length)`
  // answers the next bytes from `offset`, at most `length` of them (fewer is
  // fine: it is asked again for the rest).
  using BodyPiece = std::function<std::string(size_t offset, size_t length)>;
  HttpResult PostPieces(const std::string& path, size_t size, const BodyPiece& piece, const std::string& type);

 private:
  struct Library;
  std::unique_ptr<Library> library_;
};

}  // namespace streamcheck::testing
