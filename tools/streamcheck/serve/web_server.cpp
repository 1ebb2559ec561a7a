#include "web_server.h"

#include <httplib.h>

#include <charconv>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <vector>

#include "diff_report.h"
#include "forwarder.h"
#include "http_guard.h"
#include "job_diff.h"
#include "web_files.h"

namespace streamcheck::serve {

namespace {

constexpr int kMostDiffs = 2;    // job comparisons at once; more are asked to come again
constexpr int kMostWaiting = 8;  // long polls held at once; more get an answer at once
constexpr auto kLongPoll = std::chrono::seconds(20);
constexpr auto kWaitSlice = std::chrono::milliseconds(200);
constexpr time_t kHttpTimeoutSeconds = 10;
constexpr auto kStartPatience = std::chrono::seconds(5);
constexpr const char* kJson = "application/json";
constexpr const char* kStoreFullMessage =
    "the store is full of jobs that still have to go on to the printer behind: send again once they have gone "
    "(or were skipped)";
constexpr auto kPicturePatience = std::chrono::seconds(30);  // a reader waits this long for a picture being drawn
constexpr int kPictureRetrySeconds = 2;

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

// Sends a stored file a piece at a time: a tall label's picture is large, and
// many readers at once must not each hold a copy. Of its one range, if asked.
bool SendFile(const httplib::Request& req, httplib::Response& res, const std::filesystem::path& path,
              const char* type) {
  if (path.empty()) return false;
  auto in = std::make_shared<std::ifstream>(path, std::ios::binary);
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (!*in || ec) return false;
  const auto span = RequestedSpan(req, res, static_cast<size_t>(size));
  if (!span) return true;
  // Its address names the run and the job: what it shows never changes.
  res.set_header("Cache-Control", "private, max-age=3600, immutable");
  if (span->length == 0) {
    res.set_content("", type);  // the HTTP library answers nothing for an empty provider
    return true;
  }
  res.set_content_provider(span->length, type,
                           [in, from = span->offset](size_t offset, size_t length, httplib::DataSink& sink) {
                             std::vector<char> piece(std::min<size_t>(length, 64 * 1024));
                             in->clear();
                             in->seekg(static_cast<std::streamoff>(from + offset));
                             if (!in->read(piece.data(), static_cast<std::streamsize>(piece.size()))) return false;
                             return sink.write(piece.data(), piece.size());
                           });
  return true;
}

void SendShared(const httplib::Request& req, httplib::Response& res, std::shared_ptr<const std::string> text,
                const char* type) {
  res.set_header("Cache-Control", "no-store");
  const auto span = RequestedSpan(req, res, text->size());
  if (!span) return;
  if (span->length == 0) return res.set_content("", type);
  res.set_content_provider(span->length, type,
                           [text, from = span->offset](size_t offset, size_t length, httplib::DataSink& sink) {
                             return sink.write(text->data() + from + offset, length);
                           });
}

}  // namespace

const char* WebFileType(std::string_view name) {
  const auto endsWith = [name](std::string_view end) {
    return name.size() >= end.size() && name.substr(name.size() - end.size()) == end;
  };
  if (endsWith(".html")) return "text/html; charset=utf-8";
  if (endsWith(".css")) return "text/css; charset=utf-8";
  if (endsWith(".js")) return "text/javascript; charset=utf-8";
  if (endsWith(".svg")) return "image/svg+xml";
  if (endsWith(".png")) return "image/png";
  return "application/octet-stream";
}

WebServer::WebServer(const ServeOptions& options, JobStore& store, PrintQueue& queue, VirtualPrinter& printer,
                     Forwarder* forwarder)
    : options_(options),
      store_(store),
      queue_(queue),
      printer_(printer),
      forwarder_(forwarder),
      server_(std::make_unique<GuardedHttpServer>(options.requestHeadTimeout, std::chrono::seconds(kHttpTimeoutSeconds),
                                                  std::chrono::seconds(kHttpTimeoutSeconds / 2))) {
  const size_t threads = std::max<size_t>(2, options_.httpThreads);
  server_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
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
  hosts_ = HostRule{address, port_};
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
  s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    GuardedHttpServer::HeadRead();
    return RefuseRequest(hosts_, req, res) || RefuseWithoutPassword(options_.password, req, res)
               ? httplib::Server::HandlerResponse::Handled
               : httplib::Server::HandlerResponse::Unhandled;
  });
  // The page's files, as they are in serve/web/; index.html is also "/".
  for (const EmbeddedFile& file : WebFiles()) {
    const auto send = [file](const httplib::Request&, httplib::Response& res) {
      res.set_content(file.bytes.data(), file.bytes.size(), WebFileType(file.name));
    };
    std::string pattern = "/";  // the HTTP library matches paths as regular expressions
    for (const char c : file.name) pattern += std::string(c == '.' ? "\\" : "") + c;
    s.Get(pattern, send);
    if (file.name == "index.html") s.Get("/", send);
  }

  s.Get("/api/jobs", [this](const httplib::Request& req, httplib::Response& res) {
    JobStore& store = store_;
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
    SendShared(req, res, store.SnapshotText(), kJson);
  });

  s.Get(R"(/api/jobs/(\d{1,18}))", [this](const httplib::Request& req, httplib::Response& res) {
    uint64_t id = 0;
    const auto job = ParseNumber(req.matches[1].str(), id) ? store_.Job(id) : std::nullopt;
    if (!job) return SendError(res, 404, "no such job");
    res.set_header("Cache-Control", "no-store");
    res.set_content(Dump(*job), kJson);
  });

  s.Get("/api/memory", [this](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(Dump(printer_.Memory()), kJson);
  });

  FileRoutes();
  DiffRoute();

  s.Post("/api/jobs", [this](const httplib::Request& req, httplib::Response& res,
                             const httplib::ContentReader& content) { PostJob(req, res, content); });

  // The user's word for a job held on its way to the printer behind.
  s.Post(R"(/api/jobs/(\d{1,18})/(send-again|skip))", [this](const httplib::Request& req, httplib::Response& res) {
    uint64_t id = 0;
    if (forwarder_ == nullptr) return SendError(res, 409, "no printer behind this one (--forward)");
    if (!ParseNumber(req.matches[1].str(), id)) return SendError(res, 404, "no such job");
    std::string error;
    const bool done = req.matches[2].str() == "skip" ? forwarder_->Skip(id, error) : forwarder_->SendAgain(id, error);
    if (!done) return SendError(res, 409, error);
    res.set_content(Dump(*store_.Job(id)), kJson);
  });

  s.Post("/api/power-cycle", [this](const httplib::Request&, httplib::Response& res) {
    printer_.PowerCycle();
    res.set_content(Dump({{"ok", true}}), kJson);
  });

  s.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    SendError(res, 500, "internal error");
  });
}

void WebServer::FileRoutes() {
  httplib::Server& s = *server_;
  // With ?v=N-TOKEN (the address the memory's snapshot N gave): that
  // snapshot's picture, which never changes, as long as it is held; so that a
  // page compares the picture it showed even when a job came since.
  s.Get("/memory/kept.png", [this](const httplib::Request& req, httplib::Response& res) {
    std::optional<uint64_t> version;
    if (req.has_param("v")) {
      const std::string v = req.get_param_value("v");
      const size_t dash = v.find('-');
      uint64_t n = 0;
      if (dash == std::string::npos || v.substr(dash + 1) != printer_.KeptToken() ||
          !ParseNumber(v.substr(0, dash), n)) {
        return SendError(res, 404, "no such picture of the kept label");
      }
      version = n;
    }
    std::vector<uint8_t> png = printer_.KeptPicture(version);
    if (png.empty()) {
      return SendError(res, version ? 410 : 404,
                       version ? "the printer keeps another label now: reload the page" : "the printer keeps no label");
    }
    res.set_header("Cache-Control", version ? "private, max-age=3600, immutable" : "no-cache");
    res.set_content(std::string(png.begin(), png.end()), "image/png");
  });

  s.Get(R"(/jobs/(\d{1,18})/label-(\d{1,9})\.png)", [this](const httplib::Request& req, httplib::Response& res) {
    uint64_t id = 0;
    size_t number = 0;
    bool pending = false;
    if (ParseNumber(req.matches[1].str(), id) && ParseNumber(req.matches[2].str(), number) &&
        SendFile(req, res, store_.LabelFile(id, number, kPicturePatience, &pending), "image/png")) {
      return;
    }
    if (!pending) return SendError(res, 404, "no such label");
    // Still being drawn when the wait ended: it will come.
    res.set_header("Retry-After", std::to_string(kPictureRetrySeconds));
    SendError(res, 503, "the label's picture is still being drawn: ask again");
  });

  s.Get(R"(/jobs/(\d{1,18})/stream\.prn)", [this](const httplib::Request& req, httplib::Response& res) {
    uint64_t id = 0;
    if (!ParseNumber(req.matches[1].str(), id) ||
        !SendFile(req, res, store_.StreamFile(id), "application/octet-stream")) {
      SendError(res, 404, "no such stream");
    }
  });
}

// Two stored jobs compared as "streamcheck diff" compares two stream files:
// each replayed from an empty printer. A few at a time: each renders two jobs.
void WebServer::DiffRoute() {
  server_->Get("/api/diff", [this](const httplib::Request& req, httplib::Response& res) {
    uint64_t ids[2] = {0, 0};
    int tolerance = 0;
    if (!ParseNumber(req.get_param_value("a"), ids[0]) || !ParseNumber(req.get_param_value("b"), ids[1]) ||
        (req.has_param("tolerance") &&
         (!ParseNumber(req.get_param_value("tolerance"), tolerance) || tolerance < 0 || tolerance > 255))) {
      return SendError(res, 400, "ask for /api/diff?a=ID&b=ID, and a tolerance from 0 to 255 if any");
    }
    std::string streams[2];
    for (int i = 0; i < 2; ++i) {
      const std::filesystem::path file = store_.StreamFile(ids[i]);
      std::ifstream in(file, std::ios::binary);
      if (file.empty() || !in) return SendError(res, 404, "no finished job " + std::to_string(ids[i]));
      streams[i].assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (const auto reason = NoJobReason(streams[i])) {
        return SendError(res, 422, "job " + std::to_string(ids[i]) + " holds no printer job: " + *reason);
      }
    }
    if (diffs_.fetch_add(1) >= kMostDiffs) {
      diffs_.fetch_sub(1);
      res.set_header("Retry-After", "2");
      return SendError(res, 503, "the printer is comparing other jobs: ask again");
    }
    const std::shared_ptr<void> release(nullptr, [this](void*) { diffs_.fetch_sub(1); });
    DiffOptions options;
    options.tolerance = tolerance;
    const JobDiff diff = DiffJobs(streams[0], streams[1], options);
    res.set_header("Cache-Control", "no-store");
    res.set_content(DiffJson(diff, "job " + std::to_string(ids[0]), "job " + std::to_string(ids[1]), false), kJson);
  });
}

void WebServer::PostJob(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& content) {
  const ServeOptions& options = options_;
  // Refused before anything is read: the client sees it and may send again.
  if (httpJobs_.fetch_add(1) >= options.maxHttpJobs) {
    httpJobs_.fetch_sub(1);
    res.set_header("Retry-After", "5");
    res.set_header("Connection", "close");
    return SendError(
        res, 503, "the printer is busy with " + std::to_string(options.maxHttpJobs) + " jobs sent by HTTP: send again");
  }
  try {
    std::optional<ArrivingJob> arriving = queue_.Arrive("HTTP from " + req.remote_addr, "http");
    if (!arriving) {
      httpJobs_.fetch_sub(1);
      res.set_header("Retry-After", "30");
      res.set_header("Connection", "close");
      return SendError(res, 503, kStoreFullMessage);
    }
    ArrivingJob& job = *arriving;
    const uint64_t id = job.Id();
    const auto deadline = std::chrono::steady_clock::now() + options.jobDeadline;
    bool late = false;
    const bool read = content([&](const char* data, size_t length) {
      if (std::chrono::steady_clock::now() >= deadline) {
        late = true;
        return false;
      }
      return job.Add(std::string_view(data, length));
    });
    if (late) {
      job.Fault("the job took longer than the deadline of " + std::to_string(options.jobDeadline.count()) +
                " s: the rest was not read, the stream is checked as far as it came");
    } else if (!read && !job.Cut()) {
      job.Fault("the request's body ended before its end: the stream is checked as far as it came");
    }
    // Answered with the record once the job is printed.
    auto printed = std::make_shared<std::promise<void>>();
    std::future<void> done = printed->get_future();
    queue_.Submit(std::move(job), [printed] { printed->set_value(); });
    done.wait();
    const auto record = store_.Job(id);
    res.status = 201;
    res.set_content(Dump(record ? *record : nlohmann::json{{"id", id}}), kJson);
  } catch (...) {
    httpJobs_.fetch_sub(1);
    throw;
  }
  httpJobs_.fetch_sub(1);
}

}  // namespace streamcheck::serve
