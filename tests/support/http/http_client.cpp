#include "http_client.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>

namespace streamcheck::testing {

namespace {

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

httplib::Headers LibraryHeaders(const HttpHeaders& headers) { return {headers.begin(), headers.end()}; }

HttpResult Outcome(const httplib::Result& result) {
  if (!result) return HttpResult::Failed(httplib::to_string(result.error()));
  HttpAnswer answer;
  answer.status = result->status;
  answer.body = result->body;
  answer.headers.insert(result->headers.begin(), result->headers.end());
  return HttpResult(std::move(answer));
}

}  // namespace

std::string HttpAnswer::Header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (SameName(key, name)) return value;
  }
  return "";
}

struct HttpClient::Library {
  Library(const std::string& host, int port) : client(host, port) {}
  httplib::Client client;
};

HttpClient::HttpClient(const std::string& host, int port) : library_(std::make_unique<Library>(host, port)) {}
HttpClient::~HttpClient() = default;

void HttpClient::SetReadTimeout(std::chrono::milliseconds timeout) { library_->client.set_read_timeout(timeout); }
void HttpClient::SetConnectTimeout(std::chrono::milliseconds timeout) {
  library_->client.set_connection_timeout(timeout);
}

HttpResult HttpClient::Get(const std::string& path, const HttpHeaders& headers) {
  return Outcome(library_->client.Get(path, LibraryHeaders(headers)));
}

HttpResult HttpClient::Post(const std::string& path, const std::string& body, const std::string& type,
                            const HttpHeaders& headers) {
  return Outcome(library_->client.Post(path, LibraryHeaders(headers), body, type));
}

HttpResult HttpClient::PostPieces(const std::string& path, size_t size, const BodyPiece& piece,
                                  const std::string& type) {
  return Outcome(library_->client.Post(
      path, size,
      [&piece](size_t offset, size_t length, httplib::DataSink& sink) {
        const std::string bytes = piece(offset, length);
        return sink.write(bytes.data(), bytes.size());
      },
      type));
}

}  // namespace streamcheck::testing
