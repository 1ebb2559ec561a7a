// Settings of the virtual printer ("streamcheck serve"), with the limits that
// keep it bounded whatever its clients send.
#pragma once
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace streamcheck::serve {

inline constexpr int kRawPrintingPort = 9100;
inline constexpr int kDefaultHttpPort = 8631;
inline constexpr size_t kMiB = size_t{1} << 20;

struct ServeOptions {
  std::string listen = "127.0.0.1";
  int rawPort = kRawPrintingPort;   // 0: any free port
  int httpPort = kDefaultHttpPort;  // 0: any free port
  int lpdPort = -1;                 // line printer daemon jobs: off (-1) unless given; 0: any free port
  std::filesystem::path out = "printer-jobs";
  bool freshEachJob = false;
  size_t maxJobBytes = 64 * kMiB;
  size_t maxStoredBytes = 512 * kMiB;  // the job folders together; the oldest go first
  size_t maxStoredJobs = 200;
  size_t printerMemoryBytes = 256 * kMiB;  // images downloaded by name, kept across jobs
  size_t maxConnections = 256;             // raw printing connections open at once; more wait
  size_t spoolMemoryBytes = 64 * kMiB;     // jobs arriving or waiting, together, in memory; more go to files
  size_t spoolJobMemoryBytes = 1 * kMiB;   // one such job in memory; past it, a file
  std::chrono::milliseconds readTimeout{30000};
  std::chrono::seconds jobDeadline{120};  // a whole job, however slowly it trickles in
  // What one job may make the store write: pictures, their pixels and their
  // bytes. A job past one of them is cut there with a fault.
  size_t maxJobLabels = 5000;
  uint64_t maxJobPixels = uint64_t{1} << 32;
  size_t maxJobStoredBytes = 128 * kMiB;
  std::chrono::milliseconds requestHeadTimeout{5000};  // an HTTP request's head must be in by then
  size_t httpThreads = 48;                             // HTTP workers: the page, its pictures, the API
  size_t maxHttpJobs = 4;  // jobs sent by HTTP at once (printing or waiting); more are refused
  int labelPngLevel = 1;   // zlib level of the stored label pictures
  // Job bytes printed but not yet drawn into pictures (see PictureWriter);
  // past it the printer waits for the pictures to catch up.
  size_t pictureBacklogBytes = 256 * kMiB;
  // The printer behind this one (--forward URI), empty for none; how long it
  // may take to connect or to take more bytes, and the waits between tries
  // while it refuses or cannot be reached.
  std::string forward;
  std::chrono::milliseconds forwardConnectTimeout{10000};
  std::chrono::milliseconds forwardWriteTimeout{30000};
  std::chrono::milliseconds forwardRetryFirst{1000};
  std::chrono::milliseconds forwardRetryMost{60000};
  // The page's and the API's password (read from --password-file), empty for
  // none; beyond loopback one is needed unless `noPassword` (--no-password).
  std::string password;
  bool noPassword = false;
};

// Reads "serve" options from the words after "serve"; false with `error` set
// when one is unknown or malformed.
// `--help` is not an option here: the caller answers it before parsing.
bool ParseServeOptions(const std::vector<std::string>& args, ServeOptions& options, std::string& error);

}  // namespace streamcheck::serve
