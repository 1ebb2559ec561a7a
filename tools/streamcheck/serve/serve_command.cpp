#include "serve_command.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <signal.h>
#endif

#include <atomic>
#include <charconv>
#include <fstream>
#include <chrono>
#include <system_error>
#include <thread>

#include "command_line.h"
#include "forward_target.h"
#include "host_rule.h"
#include "forwarder.h"
#include "job_store.h"
#include "lpd_protocol.h"
#include "picture_writer.h"
#include "print_queue.h"
#include "raw_protocol.h"
#include "receive_loop.h"
#include "virtual_printer.h"
#include "web_server.h"

namespace streamcheck::serve {

namespace {

constexpr const char* kServeUsage =
    "usage: streamcheck serve [--out DIR] [--port N] [--http N] [--listen ADDRESS] [--fresh-each-job]\n"
    "                         [--max-job-mb N] [--max-stored-mb N] [--max-jobs N] [--max-connections N]\n"
    "                         [--spool-memory-mb N] [--printer-memory-mb N] [--read-timeout-ms N]\n"
    "                         [--job-deadline-s N] [--lpd-port N] [--forward URI] [--forward-timeout-s N]\n"
    "                         [--password-file FILE | --no-password]\n"
    "A virtual printer: every connection to the raw port (default 9100) is one job; the page on the\n"
    "HTTP port (default 8631) shows each job's set-up, labels and faults. Each connection is received\n"
    "on its own; a job is printed once its last byte is in, in the order jobs finished arriving.\n"
    "Loopback only unless --listen: the printing ports then take jobs from anyone who can reach that\n"
    "address, and the page asks for a password (--password-file). Ctrl+C stops it.\n"
    "  --out DIR              where the jobs are stored (default printer-jobs)\n"
    "  --port N, --http N     the raw printing port and the page's port (0: any free port)\n"
    "  --lpd-port N           also take jobs by the line printer daemon protocol (RFC 1179) on port N\n"
    "                         (off unless given; 0: any free port; LPD's own port 515 needs root)\n"
    "  --listen ADDRESS       the address both ports listen on (default 127.0.0.1)\n"
    "  --fresh-each-job       every job starts on an empty printer\n"
    "  --max-job-mb N         a job's stream is cut past N MiB (default 64)\n"
    "  --max-stored-mb N      the stored jobs together; the oldest go first (default 512)\n"
    "  --max-jobs N           jobs kept (default 200)\n"
    "  --max-connections N    raw connections open at once; more wait in the listen queue (default 256)\n"
    "  --spool-memory-mb N    jobs arriving or waiting for the printer, together, in memory; past it\n"
    "                         (or 1 MiB for one job) they are kept in a file of the job's folder (default 64)\n"
    "  --printer-memory-mb N  images the printer holds by name (default 256)\n"
    "  --read-timeout-ms N    a job ends when its client sends nothing for this long (default 30000)\n"
    "  --job-deadline-s N     a job ends this long after it started, however it trickles (default 120)\n"
    "  --password-file FILE   beyond loopback, the page and the API ask for the password on the file's first\n"
    "                         line (HTTP Basic, any user name); the raw and LPD ports stay open\n"
    "  --no-password          listen beyond loopback without a password\n"
    "  --forward URI          pass every job on, byte for byte, once stored: socket://HOST[:PORT] (raw, port\n"
    "                         9100), lpd://HOST[:PORT]/QUEUE (RFC 1179) or, on Windows, printer:NAME (an\n"
    "                         installed printer). A job cut off mid-send holds the queue until \"Send again\"\n"
    "                         or \"Skip\" on the page; jobs still to go on are never dropped from the store\n"
    "  --forward-timeout-s N  the printer behind must connect, and take more bytes, within N s\n"
    "                         (default 30, connecting 10)\n";

constexpr int kHighestPort = 65535;
constexpr uint64_t kMostConnections = 4096;  // each holds a descriptor and a 16 KiB buffer

#ifdef _WIN32
// Ctrl+C, Ctrl+Break, closing the console window or logging off.
std::atomic<bool> gStopAsked{false};
BOOL WINAPI AskStop(DWORD) {
  gStopAsked = true;
  return TRUE;
}
class StopSignals {
 public:
  StopSignals() { SetConsoleCtrlHandler(AskStop, TRUE); }
  ~StopSignals() { SetConsoleCtrlHandler(AskStop, FALSE); }
  void Wait() {
    while (!gStopAsked) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
};
#else
// SIGINT and SIGTERM, taken by this thread alone with sigwait: blocked before
// any other thread starts, so that every thread inherits the mask.
class StopSignals {
 public:
  StopSignals() {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    sigaddset(&signals_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
  }
  void Wait() {
    for (;;) {
      int received = 0;
      if (sigwait(&signals_, &received) == 0 && received != SIGPIPE) return;
    }
  }

 private:
  sigset_t signals_;
};
#endif

std::unique_ptr<Forwarder> MakeForwarder(const ServeOptions& options, JobStore& store) {
  if (options.forward.empty()) return nullptr;
  std::string error;
  const std::optional<ForwardTarget> target = ParseForwardTarget(options.forward, error);
  std::unique_ptr<JobSender> sender =
      target ? MakeJobSender(*target, {options.forwardConnectTimeout, options.forwardWriteTimeout}) : nullptr;
  return sender ? std::make_unique<Forwarder>(options, store, std::move(sender)) : nullptr;
}

// The first line of the file, without its line end.
bool ReadPassword(const std::string& path, std::string& password, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  std::getline(in, password);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  if (password.empty()) error = "--password-file " + path + ": cannot read a password from its first line";
  return !password.empty();
}

bool Number(const std::string& text, uint64_t low, uint64_t high, uint64_t& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && value >= low && value <= high;
}

}  // namespace

bool ParseServeOptions(const std::vector<std::string>& args, ServeOptions& options, std::string& error) {
  constexpr uint64_t kMostMiB = uint64_t{1} << 20;  // a terabyte: more is a typing error
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (name == "--fresh-each-job" || name == "--no-password") {
      (name == "--no-password" ? options.noPassword : options.freshEachJob) = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      error = name.rfind("--", 0) == 0 ? name + " needs a value" : "unknown argument " + name;
      return false;
    }
    const std::string& value = args[++i];
    uint64_t n = 0;
    auto number = [&](uint64_t low, uint64_t high) {
      if (Number(value, low, high, n)) return true;
      error = name + " takes a number from " + std::to_string(low) + " to " + std::to_string(high);
      return false;
    };
    if (name == "--out") {
      options.out = value;
    } else if (name == "--password-file") {
      if (!ReadPassword(value, options.password, error)) return false;
    } else if (name == "--forward") {
      if (!ParseForwardTarget(value, error)) return false;
      options.forward = value;
    } else if (name == "--forward-timeout-s") {
      if (!number(1, 3600)) return false;
      options.forwardWriteTimeout = std::chrono::seconds(n);
      options.forwardConnectTimeout = std::chrono::seconds(n);
    } else if (name == "--listen") {
      options.listen = value;
    } else if (name == "--port") {
      if (!number(0, kHighestPort)) return false;
      options.rawPort = static_cast<int>(n);
    } else if (name == "--lpd-port") {
      if (!number(0, kHighestPort)) return false;
      options.lpdPort = static_cast<int>(n);
    } else if (name == "--http") {
      if (!number(0, kHighestPort)) return false;
      options.httpPort = static_cast<int>(n);
    } else if (name == "--max-job-mb") {
      if (!number(1, kMostMiB)) return false;
      options.maxJobBytes = n * kMiB;
    } else if (name == "--max-stored-mb") {
      if (!number(1, kMostMiB)) return false;
      options.maxStoredBytes = n * kMiB;
    } else if (name == "--spool-memory-mb") {
      if (!number(1, kMostMiB)) return false;
      options.spoolMemoryBytes = n * kMiB;
    } else if (name == "--printer-memory-mb") {
      if (!number(1, kMostMiB)) return false;
      options.printerMemoryBytes = n * kMiB;
    } else if (name == "--max-jobs") {
      if (!number(1, 1000000)) return false;
      options.maxStoredJobs = n;
    } else if (name == "--max-connections") {
      if (!number(1, kMostConnections)) return false;
      options.maxConnections = n;
    } else if (name == "--job-deadline-s") {
      if (!number(1, 86400)) return false;
      options.jobDeadline = std::chrono::seconds(n);
    } else if (name == "--read-timeout-ms") {
      if (!number(1, 3600000)) return false;
      options.readTimeout = std::chrono::milliseconds(n);
    } else {
      error = "unknown option " + name;
      return false;
    }
  }
  return true;
}

// The server's parts, built here and handed the references each uses.
struct VirtualPrinterServer::Parts {
  explicit Parts(ServeOptions serveOptions)
      : options(std::move(serveOptions)),
        store(options.out, StoreLimits{options.maxStoredBytes, options.maxStoredJobs}, options.forward),
        pictures(options, store),
        printer(options, store, pictures),
        forwarder(MakeForwarder(options, store)),
        queue(options, store, printer,
              forwarder ? StoredHook([this](uint64_t id) { forwarder->Enqueue(id); }) : StoredHook()),
        web(options, store, queue, printer, forwarder.get()),
        receiver(options, store, queue) {}
  ServeOptions options;
  JobStore store;
  PictureWriter pictures;
  VirtualPrinter printer;
  std::unique_ptr<Forwarder> forwarder;  // none without a printer behind
  PrintQueue queue;
  WebServer web;
  ReceiveLoop receiver;
  int rawPort = 0;
  int lpdPort = -1;
};

VirtualPrinterServer::VirtualPrinterServer(ServeOptions options)
    : parts_(std::make_unique<Parts>(std::move(options))) {}

VirtualPrinterServer::~VirtualPrinterServer() { Stop(); }

int VirtualPrinterServer::RawPort() const { return parts_->rawPort; }
int VirtualPrinterServer::LpdPort() const { return parts_->lpdPort; }
int VirtualPrinterServer::HttpPort() const { return parts_->web.Port(); }
JobStore& VirtualPrinterServer::Store() { return parts_->store; }
const WebServer& VirtualPrinterServer::Web() const { return parts_->web; }

bool VirtualPrinterServer::Start(std::string& error) {
  Parts& p = *parts_;
  std::error_code ec;
  std::filesystem::create_directories(p.options.out, ec);
  if (ec) {
    error = "cannot create " + p.options.out.string() + ": " + ec.message();
    return false;
  }
  if (!IsLoopbackListen(p.options.listen) && p.options.password.empty() && !p.options.noPassword) {
    error = "refusing to show the jobs and take power cycles beyond loopback (" + p.options.listen +
            ") without a password: give --password-file FILE, or --no-password to let anyone who reaches it in";
    return false;
  }
  if (!p.options.forward.empty() && !p.forwarder) {
    ParseForwardTarget(p.options.forward, error);
    if (error.empty()) error = "--forward " + p.options.forward + ": cannot send there from this system";
    return false;
  }
  if (p.forwarder) p.forwarder->Start();
  p.queue.Start();
  if (!p.web.Start(p.options.listen, p.options.httpPort, error)) return false;
  p.rawPort = p.receiver.Listen(p.options.listen, p.options.rawPort, MakeRawProtocol, error);
  if (p.rawPort < 0) return false;
  if (p.options.lpdPort >= 0) {
    p.lpdPort = p.receiver.Listen(p.options.listen, p.options.lpdPort, MakeLpdProtocol, error);
    if (p.lpdPort < 0) return false;
  }
  p.receiver.Start();
  return true;
}

void VirtualPrinterServer::Stop() {
  // The job printing is cut; jobs waiting, arriving or posted from now on are
  // stored as they came, with a fault saying so.
  parts_->queue.Stop();
  parts_->receiver.Stop();
  parts_->web.Stop();
  // A job being sent on is cut off and held for the user's word at the next start.
  if (parts_->forwarder) parts_->forwarder->Stop();
}

std::string UrlHost(const std::string& address) {
  return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

int RunServe(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      out << kServeUsage;
      return kExitOk;
    }
  }
  ServeOptions options;
  std::string error;
  if (!ParseServeOptions(args, options, error)) {
    err << error << "\n" << kServeUsage;
    return kExitUsage;
  }
  StopSignals stop;
  VirtualPrinterServer server(options);
  if (!server.Start(error)) {
    err << error << "\n";
    return kExitFiles;
  }
  out << "virtual printer: raw jobs on " << UrlHost(options.listen) << ":" << server.RawPort();
  if (server.LpdPort() >= 0) out << ", LPD jobs on " << UrlHost(options.listen) << ":" << server.LpdPort();
  out << ", page on http://" << UrlHost(options.listen) << ":" << server.HttpPort() << "/, jobs stored in "
      << options.out.string() << std::endl;
  stop.Wait();
  out << "virtual printer: stopping" << std::endl;
  server.Stop();
  return kExitOk;
}

}  // namespace streamcheck::serve
