#include "web_server.h"

#include <httplib.h>

#include <charconv>
#include <fstream>
#include <iterator>

namespace streamcheck::serve {

namespace {

constexpr size_t kHttpThreads = 16;
constexpr int kMostWaiting = 8;  // long polls held at once; more get an answer at once
constexpr auto kLongPoll = std::chrono::seconds(20);
constexpr auto kWaitSlice = std::chrono::milliseconds(200);
constexpr time_t kHttpTimeoutSeconds = 10;
constexpr auto kStartPatience = std::chrono::seconds(5);
constexpr const char* kJson = "application/json";

std::string Dump(const nlohmann::json& json) {
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

template <typename Number>
bool ParseNumber(const std::string& text, Number& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

void SendError(httplib::Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content(Dump({{"error", message}}), kJson);
}

bool SendFile(httplib::Response& res, const std::filesystem::path& path, const char* type) {
  if (path.empty()) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  res.set_header("Cache-Control", "max-age=3600");  // a stored file never changes
  res.set_content(std::move(bytes), type);
  return true;
}

}  // namespace

WebServer::WebServer(VirtualPrinter& printer) : printer_(printer), server_(std::make_unique<httplib::Server>()) {
  server_->new_task_queue = [] { return new httplib::ThreadPool(kHttpThreads); };
  server_->set_read_timeout(kHttpTimeoutSeconds);
  server_->set_write_timeout(kHttpTimeoutSeconds);
  server_->set_keep_alive_timeout(kHttpTimeoutSeconds / 2);
  Routes();
}

WebServer::~WebServer() { Stop(); }

bool WebServer::Start(const std::string& address, int port, std::string& error) {
  if (port == 0) {
    port_ = server_->bind_to_any_port(address);
  } else if (server_->bind_to_port(address, port)) {
    port_ = port;
  } else {
    port_ = -1;
  }
  if (port_ <= 0) {
    error = "cannot listen for HTTP on " + address + ":" + std::to_string(port);
    return false;
  }
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // A stop before the server loop runs would be lost: wait for it to run.
  const auto deadline = std::chrono::steady_clock::now() + kStartPatience;
  while (!server_->is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void WebServer::Stop() {
  if (stopping_.exchange(true)) return;
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

void WebServer::Routes() {
  httplib::Server& s = *server_;
  s.Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kPageHtml, "text/html; charset=utf-8");
  });
  s.Get("/style.css", [](const httplib::Request&, httplib::Response& res) { res.set_content(kPageCss, "text/css"); });
  s.Get("/app.js",
        [](const httplib::Request&, httplib::Response& res) { res.set_content(kPageScript, "text/javascript"); });

  s.Get("/api/jobs", [this](const httplib::Request& req, httplib::Response& res) {
    JobStore& store = printer_.Store();
    uint64_t after = 0;
    if (req.has_param("after") && ParseNumber(req.get_param_value("after"), after) && store.Version() <= after) {
      if (waiting_.fetch_add(1) < kMostWaiting) {
        // Held in short slices so that stopping the server is not held up.
        const auto until = std::chrono::steady_clock::now() + kLongPoll;
        while (!stopping_ && std::chrono::steady_clock::now() < until &&
               store.WaitForChange(after, kWaitSlice) <= after) {
        }
      }
      waiting_.fetch_sub(1);
    }
    res.set_header("Cache-Control", "no-store");
    res.set_content(Dump(store.Snapshot()), kJson);
  });

  s.Get(R"(/api/jobs/(\d{1,18}))", [this](const httplib::Request& req, httplib::Response& res) {
    uint64_t id = 0;
    const auto job = ParseNumber(req.matches[1].str(), id) ? printer_.Store().Job(id) : std::nullopt;
    if (!job) return SendError(res, 404, "no such job");
    res.set_header("Cache-Control", "no-store");
    res.set_content(Dump(*job), kJson);
  });

  s.Get(R"(/jobs/(\d{1,18})/label-(\d{1,9})\.png)", [this](const httplib::Request& req, httplib::Response& res) {
    uint64_t id = 0;
    size_t number = 0;
    if (!ParseNumber(req.matches[1].str(), id) || !ParseNumber(req.matches[2].str(), number) ||
        !SendFile(res, printer_.Store().LabelFile(id, number), "image/png")) {
      SendError(res, 404, "no such label");
    }
  });

  s.Get(R"(/jobs/(\d{1,18})/stream\.prn)", [this](const httplib::Request& req, httplib::Response& res) {
    uint64_t id = 0;
    if (!ParseNumber(req.matches[1].str(), id) ||
        !SendFile(res, printer_.Store().StreamFile(id), "application/octet-stream")) {
      SendError(res, 404, "no such stream");
    }
  });

  s.Post("/api/jobs",
         [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& content) {
           const auto job = printer_.StartJob("HTTP from " + req.remote_addr);
           content([&](const char* data, size_t length) { return job->Feed(std::string_view(data, length)); });
           job->Finish();
           const auto record = printer_.Store().Job(job->Id());
           res.status = 201;
           res.set_content(Dump(record ? *record : nlohmann::json{{"id", job->Id()}}), kJson);
         });

  s.Post("/api/power-cycle", [this](const httplib::Request&, httplib::Response& res) {
    printer_.PowerCycle();
    res.set_content(Dump({{"ok", true}}), kJson);
  });

  s.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    SendError(res, 500, "internal error");
  });
}

}  // namespace streamcheck::serve
