// The virtual printer's web side: the page that shows the jobs as they
// arrive, the label pictures and streams, a JSON API, jobs sent by HTTP POST
// and the power cycle.
//   GET  /                       the page (index.html); its other files from
//                                serve/web/ by name: /app.js, /style.css, ...
//   GET  /api/jobs[?after=V]     all records, newest first; with `after`, waits
//                                (a while) until there is something newer than V
//   GET  /api/jobs/ID            one record
//   GET  /jobs/ID/label-NNN.png  a label picture; /jobs/ID/stream.prn the stream
//   GET  /api/memory             what the printer holds now
//   GET  /memory/kept.png        the label it keeps for the next job
//   GET  /api/diff?a=ID&b=ID[&tolerance=N]  what changed in what two stored jobs
//                                print: the JSON of "streamcheck diff --out"
//   POST /api/jobs               the body is a job, printed after the jobs that
//                                arrived before it; answers with its record
//   POST /api/power-cycle        empties the printer's memory
//   POST /api/jobs/ID/send-again a job held on its way to the printer behind
//   POST /api/jobs/ID/skip       (--forward): sent again now, or dropped from its queue
// State-changing requests must be ones a page of another site cannot send
// unasked (see http_guard.h).
#pragma once
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "job_store.h"
#include "host_rule.h"
#include "print_queue.h"
#include "serve_options.h"
#include "virtual_printer.h"

// The HTTP library stays inside web_server.cpp and http_guard.cpp.
namespace httplib {
struct Request;
struct Response;
class ContentReader;
}  // namespace httplib

namespace streamcheck::serve {

class Forwarder;
class GuardedHttpServer;

class WebServer {
 public:
  // `forwarder`: the printer behind, none when jobs do not go on.
  WebServer(const ServeOptions& options, JobStore& store, PrintQueue& queue, VirtualPrinter& printer,
            Forwarder* forwarder);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  bool Start(const std::string& address, int port, std::string& error);
  int Port() const { return port_; }
  // Long polls held now: a page that is open and waiting for news.
  int Waiting() const { return waiting_; }
  void Stop();

 private:
  void Routes();
  void FileRoutes();  // the pictures and streams
  void DiffRoute();
  void PostJob(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& content);

  const ServeOptions& options_;
  JobStore& store_;
  PrintQueue& queue_;
  VirtualPrinter& printer_;
  Forwarder* forwarder_;
  std::unique_ptr<GuardedHttpServer> server_;
  std::thread thread_;
  int port_ = 0;
  HostRule hosts_;
  std::atomic<size_t> httpJobs_{0};  // jobs sent by HTTP being received or waiting
  std::atomic<bool> stopping_{false};
  std::atomic<int> waiting_{0};  // long polls being held
  std::atomic<int> diffs_{0};    // job comparisons running
};

}  // namespace streamcheck::serve
