#include "store_files.h"

#include "durable_file.h"

#include <cstdio>
#include <ctime>
#include <system_error>

namespace streamcheck::serve {

namespace {
constexpr const char* kFolderPrefix = "job-";
constexpr int kFolderDigits = 6;
}  // namespace

std::string JobFolderName(uint64_t id) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%0*llu", kFolderPrefix, kFolderDigits, static_cast<unsigned long long>(id));
  return name;
}

uint64_t JobFolderNumber(const std::string& name) {
  constexpr size_t kMostDigits = 18;  // as job addresses take them
  const size_t prefix = std::char_traits<char>::length(kFolderPrefix);
  if (name.size() <= prefix || name.size() > prefix + kMostDigits || name.rfind(kFolderPrefix, 0) != 0) return 0;
  uint64_t number = 0;
  for (size_t i = prefix; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    number = number * 10 + static_cast<uint64_t>(name[i] - '0');
  }
  return number;
}

std::string UtcNow(std::chrono::milliseconds later) {
  // Whole seconds, rounded up: a time said to come is never one already past.
  const std::time_t at = std::time(nullptr) + static_cast<std::time_t>((later.count() + 999) / 1000);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &at);
#else
  gmtime_r(&at, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::optional<size_t> LinkOrCopy(const std::filesystem::path& from, const std::filesystem::path& to) {
  // A second name for the same file costs no bytes, and appears whole or not at all.
  std::error_code ec;
  std::filesystem::create_hard_link(from, to, ec);
  if (!ec) return 0;
  ec.clear();
  const std::filesystem::path temporary = TemporaryPath(to);
  if (!std::filesystem::copy_file(from, temporary, std::filesystem::copy_options::overwrite_existing, ec) || ec) {
    return std::nullopt;
  }
  const auto bytes = std::filesystem::file_size(temporary, ec);
  if (!ec) std::filesystem::rename(temporary, to, ec);
  if (ec) {
    std::filesystem::remove(temporary, ec);
    return std::nullopt;
  }
  return static_cast<size_t>(bytes);
}

namespace FaultText {
std::string CannotCreateFolder(const std::string& why) { return "cannot create the job's folder: " + why; }
std::string CannotWrite(const std::string& name) { return "cannot write " + name; }
std::string CutWhileArriving(size_t bytesOnDisk) {
  return "the virtual printer stopped (killed or crashed) while the job arrived: " + std::to_string(bytesOnDisk) +
         " bytes had reached the disk; the job was not printed";
}
std::string CutBeforePrinted() {
  return "the virtual printer stopped (killed or crashed) before it finished printing the job: it is kept as "
         "received";
}
std::string DamagedRecord(const std::string& why) {
  return "the job's record (summary.json) " + why + ": what is left of the job is shown as found";
}
std::string StoppedBeforePrinted() {
  return "the virtual printer was stopped before it printed the job: it is kept as received";
}
std::string CutWhileSending() {
  return "the virtual printer stopped while it sent the job on: the printer behind may have part of it";
}
}  // namespace FaultText

}  // namespace streamcheck::serve
