// "streamcheck serve" as a process of its own, for tests that must kill it
// as a crash would (SIGKILL) or run two of them, one the printer behind the
// other: started on free loopback ports, which it names on its first line.
#pragma once
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

namespace streamcheck::testing {

class ServeProcess {
 public:
  // `args`: the words after "serve"; the ports are added (0: any free one).
  explicit ServeProcess(std::vector<std::string> args) {
    args.insert(args.begin(), {STREAMCHECK_PROGRAM, "serve", "--port", "0", "--http", "0", "--lpd-port", "0"});
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
    ReadPorts();
  }
  ~ServeProcess() {
    Kill();
    if (out_ >= 0) close(out_);
  }
  ServeProcess(const ServeProcess&) = delete;
  ServeProcess& operator=(const ServeProcess&) = delete;

  bool Running() const { return http_ > 0; }
  int RawPort() const { return raw_; }
  int LpdPort() const { return lpd_; }
  int HttpPort() const { return http_; }
  // What it wrote before its ports line: why it did not start.
  const std::string& Output() const { return line_; }
  // As a crash: no chance to finish anything.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  // Asks it to stop (Ctrl+C) and waits; its exit status.
  int Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGINT);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  void ReadPorts() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (line_.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd ready{out_, POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) continue;
      char buffer[512];
      const ssize_t got = read(out_, buffer, sizeof buffer);
      if (got <= 0) break;
      line_.append(buffer, static_cast<size_t>(got));
    }
    std::smatch found;
    if (std::regex_search(
            line_, found,
            std::regex(R"(raw jobs on [^ ]+:(\d+), LPD jobs on [^ ]+:(\d+), page on http://[^/]+:(\d+)/)"))) {
      raw_ = std::stoi(found[1]);
      lpd_ = std::stoi(found[2]);
      http_ = std::stoi(found[3]);
    }
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::string line_;
  int raw_ = 0, lpd_ = 0, http_ = 0;
};

}  // namespace streamcheck::testing
