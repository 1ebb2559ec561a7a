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
  std::filesystem::path out = "printer-jobs";
  bool freshEachJob = false;
  size_t maxJobBytes = 64 * kMiB;
  size_t maxStoredBytes = 512 * kMiB;  // the job folders together; the oldest go first
  size_t maxStoredJobs = 200;
  size_t printerMemoryBytes = 256 * kMiB;  // images downloaded by name, kept across jobs
  size_t maxConnections = 4;               // raw printing connections at once
  std::chrono::milliseconds readTimeout{30000};
  int labelPngLevel = 1;  // zlib level of the stored label pictures
};

// Reads "serve" options from the words after "serve"; false with `error` set
// when one is unknown or malformed.
bool ParseServeOptions(const std::vector<std::string>& args, ServeOptions& options, std::string& error);

}  // namespace streamcheck::serve
