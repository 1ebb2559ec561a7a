#include "serve_command.h"

#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <system_error>

#include "command_line.h"

namespace streamcheck::serve {

namespace {

constexpr const char* kServeUsage =
    "usage: streamcheck serve [--out DIR] [--port N] [--http N] [--listen ADDRESS] [--fresh-each-job]\n"
    "                         [--max-job-mb N] [--max-stored-mb N] [--max-jobs N] [--max-connections N]\n"
    "                         [--printer-memory-mb N] [--read-timeout-ms N] [--job-deadline-s N]\n"
    "A virtual printer: every connection to the raw port (default 9100) is one job; the page on the\n"
    "HTTP port (default 8631) shows each job's set-up, labels and faults. Loopback only unless --listen:\n"
    "both ports then take jobs and power cycles from anyone who can reach that address.\n"
    "  --out DIR              where the jobs are stored (default printer-jobs)\n"
    "  --port N, --http N     the raw printing port and the page's port (0: any free port)\n"
    "  --listen ADDRESS       the address both ports listen on (default 127.0.0.1)\n"
    "  --fresh-each-job       every job starts on an empty printer\n"
    "  --max-job-mb N         a job's stream is cut past N MiB (default 64)\n"
    "  --max-stored-mb N      the stored jobs together; the oldest go first (default 512)\n"
    "  --max-jobs N           jobs kept (default 200)\n"
    "  --max-connections N    raw connections served at once; more wait their turn (default 16)\n"
    "  --printer-memory-mb N  images the printer holds by name (default 256)\n"
    "  --read-timeout-ms N    a job ends when its client sends nothing for this long (default 30000)\n"
    "  --job-deadline-s N     a job ends this long after it started, however it trickles (default 120)\n";

constexpr int kHighestPort = 65535;

bool Number(const std::string& text, uint64_t low, uint64_t high, uint64_t& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && value >= low && value <= high;
}

}  // namespace

bool ParseServeOptions(const std::vector<std::string>& args, ServeOptions& options, std::string& error) {
  constexpr uint64_t kMostMiB = uint64_t{1} << 20;  // a terabyte: more is a typing error
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (name == "--fresh-each-job") {
      options.freshEachJob = true;
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
    } else if (name == "--listen") {
      options.listen = value;
    } else if (name == "--port") {
      if (!number(0, kHighestPort)) return false;
      options.rawPort = static_cast<int>(n);
    } else if (name == "--http") {
      if (!number(0, kHighestPort)) return false;
      options.httpPort = static_cast<int>(n);
    } else if (name == "--max-job-mb") {
      if (!number(1, kMostMiB)) return false;
      options.maxJobBytes = n * kMiB;
    } else if (name == "--max-stored-mb") {
      if (!number(1, kMostMiB)) return false;
      options.maxStoredBytes = n * kMiB;
    } else if (name == "--printer-memory-mb") {
      if (!number(1, kMostMiB)) return false;
      options.printerMemoryBytes = n * kMiB;
    } else if (name == "--max-jobs") {
      if (!number(1, 1000000)) return false;
      options.maxStoredJobs = n;
    } else if (name == "--max-connections") {
      if (!number(1, 1000)) return false;
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

VirtualPrinterServer::VirtualPrinterServer(ServeOptions options)
    : options_(std::move(options)),
      store_(options_.out, StoreLimits{options_.maxStoredBytes, options_.maxStoredJobs, options_.labelPngLevel}),
      printer_(options_, store_),
      web_(printer_),
      raw_(printer_) {}

bool VirtualPrinterServer::Start(std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(options_.out, ec);
  if (ec) {
    error = "cannot create " + options_.out.string() + ": " + ec.message();
    return false;
  }
  return web_.Start(options_.listen, options_.httpPort, error) && raw_.Start(options_.listen, options_.rawPort, error);
}

void VirtualPrinterServer::Stop() {
  printer_.Stop();
  raw_.Stop();
  web_.Stop();
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
  // Signals are taken by this thread alone, with sigwait, before any other starts.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  VirtualPrinterServer server(options);
  if (!server.Start(error)) {
    err << error << "\n";
    return kExitFiles;
  }
  out << "virtual printer: raw jobs on " << UrlHost(options.listen) << ":" << server.RawPort() << ", page on http://"
      << UrlHost(options.listen) << ":" << server.HttpPort() << "/, jobs stored in " << options.out.string()
      << std::endl;
  for (;;) {
    int received = 0;
    if (sigwait(&signals, &received) == 0 && received != SIGPIPE) break;
  }
  out << "virtual printer: stopping" << std::endl;
  server.Stop();
  return kExitOk;
}

}  // namespace streamcheck::serve
