// A print spooler of the test's own: Debian's cupsd started in the
// foreground with its configuration, state, spool and socket in a new
// temporary folder, so that a test prints through a real print client
// (lpadmin, lp and the spooler's backends) without touching the machine's
// own spooler. Where cupsd is missing or cannot start, Problem() says why
// and the test skips.
#pragma once
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace streamcheck::testing {

class PrivateCups {
 public:
  PrivateCups() {
    namespace fs = std::filesystem;
    const char* const daemon = "/usr/sbin/cupsd";
    if (!fs::exists(daemon)) {
      problem_ = "cupsd is not installed (Debian package cups; scripts/setup.sh installs it)";
      return;
    }
    std::string pattern = (fs::temp_directory_path() / "streamcheck-cups-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      problem_ = "cannot make a temporary folder";
      return;
    }
    root_ = pattern;
    for (const char* sub : {"spool", "cache", "state", "tmp", "log", "ppd"}) fs::create_directories(root_ / sub);
    // The backends run as another user than the daemon when it runs as root:
    // they must be able to reach the spool.
    for (const auto& entry : fs::recursive_directory_iterator(root_)) {
      fs::permissions(entry.path(), fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
    }
    fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
    socket_ = (root_ / "cups.sock").string();
    std::ofstream(root_ / "cupsd.conf") << "Listen " << socket_ << "\n"
                                        << "LogLevel debug\nBrowsing No\nErrorPolicy abort-job\n"
                                        << "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n";
    std::ofstream(root_ / "cups-files.conf")
        << "ServerRoot " << root_.string() << "\nRequestRoot " << (root_ / "spool").string() << "\nCacheDir "
        << (root_ / "cache").string() << "\nStateDir " << (root_ / "state").string() << "\nTempDir "
        << (root_ / "tmp").string() << "\nErrorLog " << (root_ / "log/error_log").string() << "\nAccessLog "
        << (root_ / "log/access_log").string() << "\nPageLog " << (root_ / "log/page_log").string()
        << "\nServerBin /usr/lib/cups\nDataDir /usr/share/cups\nFileDevice No\n";
    const std::string config = (root_ / "cupsd.conf").string();
    const std::string files = (root_ / "cups-files.conf").string();
    const std::string output = (root_ / "cupsd.out").string();
    daemon_ = fork();
    if (daemon_ == 0) {
      FILE* out = std::freopen(output.c_str(), "w", stdout);
      if (out != nullptr) dup2(fileno(out), STDERR_FILENO);
      execl(daemon, daemon, "-f", "-c", config.c_str(), "-s", files.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    if (daemon_ < 0) {
      problem_ = "cannot start cupsd";
      return;
    }
    // Up once the client tools can ask it for its queues.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    std::string answer;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(daemon_, &status, WNOHANG) == daemon_) {
        daemon_ = -1;
        problem_ = "cupsd stopped at start: " + ReadFile(output) + ReadFile((root_ / "log/error_log").string());
        return;
      }
      if (fs::exists(socket_) && Run("lpstat -r", answer) && answer.find("is running") != std::string::npos) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    problem_ = "cupsd did not answer within 15 s: " + answer + ReadFile(output);
  }

  ~PrivateCups() {
    if (daemon_ > 0) {
      kill(daemon_, SIGTERM);
      int status = 0;
      waitpid(daemon_, &status, 0);
    }
    std::error_code ignored;
    if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
  }

  PrivateCups(const PrivateCups&) = delete;
  PrivateCups& operator=(const PrivateCups&) = delete;

  // Empty when the spooler runs; otherwise why it does not.
  const std::string& Problem() const { return problem_; }

  // Runs a client command (lpadmin, lp, lpstat...) against this spooler only.
  bool Run(const std::string& command, std::string& output) const {
    output.clear();
    const std::string line = "CUPS_SERVER=" + socket_ + " " + command + " 2>&1";
    FILE* pipe = popen(line.c_str(), "r");
    if (pipe == nullptr) return false;
    std::array<char, 4096> buffer{};
    size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), got);
    return pclose(pipe) == 0;
  }

  // Adds an enabled raw queue to `uri`; the client's answer in `output`.
  bool AddQueue(const std::string& queue, const std::string& uri, std::string& output) const {
    return Run("lpadmin -p " + queue + " -E -v '" + uri + "'", output);
  }

  // Prints `file` unfiltered ("-o raw") and waits, at most `patience`, until
  // the queue has handed it on: true once no job of the queue is pending.
  bool PrintRaw(const std::string& queue, const std::filesystem::path& file, const std::string& title,
                std::string& output, std::chrono::seconds patience = std::chrono::seconds(30)) const {
    if (!Run("lp -d " + queue + " -o raw -t '" + title + "' '" + file.string() + "'", output)) return false;
    const auto deadline = std::chrono::steady_clock::now() + patience;
    std::string pending;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Run("lpstat -o " + queue, pending) && pending.empty()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    output += "still pending: " + pending + ErrorLogTail();
    return false;
  }

  // The end of the spooler's log, for a failure's message.
  std::string ErrorLogTail() const {
    const std::string log = ReadFile((root_ / "log/error_log").string());
    constexpr size_t kTail = 4000;
    return log.size() <= kTail ? log : log.substr(log.size() - kTail);
  }

 private:
  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::filesystem::path root_;
  std::string socket_;
  std::string problem_;
  pid_t daemon_ = -1;
};

}  // namespace streamcheck::testing
