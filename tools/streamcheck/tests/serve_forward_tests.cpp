// The virtual printer in front of a real one (--forward): one table of what
// the printer behind may do, on loopback, with a second "serve" as a working
// printer (raw and LPD) and listeners that refuse, never read, reset or read
// slowly; then the front printer killed mid-forward and started again.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "serve_process.h"
#include "serve_support.h"
#include "stream_builder.h"

namespace streamcheck {
namespace {

using testing::Connect;
using testing::FindJob;
using testing::GetBody;
using testing::SendLpd;
using testing::SendRaw;
using testing::ServeProcess;
using testing::Solid;
using testing::StreamBuilder;
using testing::TestOptions;
using testing::WaitForJobs;
using namespace std::chrono_literals;

// A job told apart by `n`; a tall one is noise, which no compression shrinks.
std::string NumberedJob(int n, int32_t height = 150) {
  RgbImage band = Solid(425, height, {static_cast<uint8_t>(n * 41), 20, 90});
  if (height > 150) {
    std::mt19937 noise(static_cast<uint32_t>(n));
    for (uint8_t& byte : band.rgb) byte = static_cast<uint8_t>(noise());
  }
  return StreamBuilder().Setup(425, height).Raw("^XA^C(L").Band(band, 0, 0).Raw("^C(S^XZ").Text();
}

// A printer behind that misbehaves as told; keeps what each connection sent.
class Sink {
 public:
  enum class Way { Reads, NeverReads, ResetsAfter, ReadsSlowly };
  // `port` 0: any free one. Not `up`: the port is held, bound but not
  // listening, so that connections to it are refused and no other server can
  // take it, until ComeUp.
  Sink(Way way, int port = 0, size_t resetAfter = 0, bool up = true) : way_(way), resetAfter_(resetAfter) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (way == Way::NeverReads) {
      const int small = 4096;  // so that a sender stalls soon
      setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (up) ComeUp();
  }
  void ComeUp() {
    listen(listener_, 8);
    thread_ = std::thread([this] { Run(); });
  }
  ~Sink() {
    stop_ = true;
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    if (thread_.joinable()) thread_.join();
    for (int fd : held_) close(fd);
  }
  int Port() const { return port_; }
  std::vector<std::string> Received() {
    std::lock_guard lock(mutex_);
    return received_;
  }

 private:
  void Run() {
    while (!stop_) {
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      std::string got;
      {
        std::lock_guard lock(mutex_);
        received_.emplace_back();
      }
      if (way_ == Way::NeverReads) {
        held_.push_back(fd);
        continue;
      }
      char buffer[4096];
      ssize_t n = 0;
      while ((n = recv(fd, buffer, way_ == Way::ReadsSlowly ? 2048 : sizeof buffer, 0)) > 0) {
        got.append(buffer, static_cast<size_t>(n));
        {
          std::lock_guard lock(mutex_);
          received_.back() = got;
        }
        if (way_ == Way::ReadsSlowly) std::this_thread::sleep_for(5ms);
        if (way_ == Way::ResetsAfter && got.size() >= resetAfter_) {
          const linger reset{1, 0};
          setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
          break;
        }
      }
      close(fd);
    }
  }

  const Way way_;
  const size_t resetAfter_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> received_;
  std::vector<int> held_;
  std::thread thread_;
};

nlohmann::json Post(int httpPort, const std::string& path) {
  testing::HttpClient client("127.0.0.1", httpPort);
  const auto response = client.Post(path, "{}", "application/json");
  return response ? nlohmann::json{{"status", response->status}, {"body", response->body}} : nlohmann::json();
}

// Waits until job `id`'s forwarding state is `state`; its record then.
nlohmann::json WaitForForward(int httpPort, uint64_t id, const std::string& state,
                              std::chrono::milliseconds patience = 20s) {
  const nlohmann::json all = WaitForJobs(
      httpPort,
      [&](const nlohmann::json& s) {
        const nlohmann::json* job = FindJob(s, id);
        return job != nullptr && (*job)["forward"]["state"] == state;
      },
      patience);
  const nlohmann::json* job = FindJob(all, id);
  return job ? *job : nlohmann::json();
}

serve::ServeOptions FrontOptions(const std::string& name, const std::string& forward) {
  auto options = TestOptions(name);
  options.forward = forward;
  options.forwardWriteTimeout = 700ms;
  options.forwardConnectTimeout = 700ms;
  options.forwardRetryFirst = 100ms;
  options.forwardRetryMost = 400ms;
  return options;
}

TEST(VirtualPrinterForwarding, PassesJobsOnByteForByteAndHoldsTheQueueWhenThePrinterBehindFails) {
  struct Row {
    std::string name;
    Sink::Way way;
    bool refusesFirst;     // nothing listens at first; a printer comes up later
    int32_t height;        // of the job: a tall one fills every buffer
    std::string expected;  // the job's forwarding state in the end
  };
  const std::vector<Row> rows = {
      {"reads", Sink::Way::Reads, false, 150, "forwarded"},
      {"refuses, then comes up", Sink::Way::Reads, true, 150, "forwarded"},
      {"accepts and never reads", Sink::Way::NeverReads, false, 6000, "interrupted"},
      {"resets after N bytes", Sink::Way::ResetsAfter, false, 6000, "interrupted"},
      {"reads slowly", Sink::Way::ReadsSlowly, false, 1500, "forwarded"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto sink = std::make_unique<Sink>(row.way, 0, 10000, !row.refusesFirst);
    const int port = sink->Port();
    auto options = FrontOptions("fw", "socket://127.0.0.1:" + std::to_string(port));
    options.maxStoredJobs = 2;
    serve::VirtualPrinterServer front(options);
    std::string error;
    ASSERT_TRUE(front.Start(error)) << error;
    const std::string first = NumberedJob(1, row.height), second = NumberedJob(2);
    SendRaw(front.RawPort(), first);
    if (row.refusesFirst) {
      const nlohmann::json waiting = WaitForForward(front.HttpPort(), 1, "waiting");
      WaitForJobs(front.HttpPort(), [](const nlohmann::json& s) {
        return (*FindJob(s, 1))["forward"]["reason"].get<std::string>().find("refused") != std::string::npos;
      });
      sink->ComeUp();
    }
    const nlohmann::json job = WaitForForward(front.HttpPort(), 1, row.expected);
    SendRaw(front.RawPort(), second);
    if (row.expected == "forwarded") {
      EXPECT_EQ(job["forward"]["sent"], first.size());
      WaitForForward(front.HttpPort(), 2, "forwarded");
      // A sink keeps what each connection brought; the last may still be closing.
      const auto received = sink->Received();
      ASSERT_EQ(received.size(), 2u);
      EXPECT_TRUE(received[0] == first);
      EXPECT_TRUE(received[1] == second);
      continue;
    }
    // Cut off: at byte N of M, and the queue waits for the user's word.
    EXPECT_LT(job["forward"]["sent"].get<size_t>(), first.size());
    EXPECT_EQ(job["forward"]["total"], first.size());
    EXPECT_FALSE(job["forward"]["reason"].get<std::string>().empty());
    std::this_thread::sleep_for(1s);  // backoffs would have tried twice by now
    EXPECT_EQ(sink->Received().size(), 1u);
    EXPECT_EQ(
        (*FindJob(WaitForJobs(front.HttpPort(), [](const nlohmann::json&) { return true; }), 2))["forward"]["state"],
        "waiting");
    // Two held jobs fill a store of two: new jobs are refused, none is dropped.
    SendRaw(front.RawPort(), NumberedJob(7));
    testing::HttpClient client("127.0.0.1", front.HttpPort());
    const auto posted = client.Post("/api/jobs", NumberedJob(8), "application/octet-stream");
    ASSERT_TRUE(posted) << posted.error;
    EXPECT_EQ(posted->status, 503);
    EXPECT_EQ(WaitForJobs(front.HttpPort(), [](const nlohmann::json&) { return true; })["jobs"].size(), 2u);
    EXPECT_EQ(Post(front.HttpPort(), "/api/jobs/3/skip")["status"], 409);  // no such job
    EXPECT_EQ(Post(front.HttpPort(), "/api/jobs/1/send-again")["status"], 200);
    WaitForForward(front.HttpPort(), 1, "interrupted");
    EXPECT_EQ(sink->Received().size(), 2u);
    EXPECT_EQ(Post(front.HttpPort(), "/api/jobs/1/skip")["status"], 200);
    WaitForForward(front.HttpPort(), 1, "skipped");
    // The queue goes on with the next job.
    WaitForJobs(front.HttpPort(),
                [](const nlohmann::json& s) { return (*FindJob(s, 2))["forward"]["attempts"].get<int>() > 0; });
    front.Stop();
    std::filesystem::remove_all(options.out);
  }
}

TEST(VirtualPrinterForwarding, ASecondVirtualPrinterBehindGetsTheJobsInOrderWithTheirNames) {
  const auto behindDir = TestOptions("behind").out;
  ServeProcess behind({"--out", behindDir.string()});
  ASSERT_TRUE(behind.Running()) << behind.Output();
  const std::vector<std::string> targets = {"socket://127.0.0.1:" + std::to_string(behind.RawPort()),
                                            "lpd://127.0.0.1:" + std::to_string(behind.LpdPort()) + "/labels"};
  size_t total = 0;
  for (const std::string& target : targets) {
    SCOPED_TRACE(target);
    auto options = FrontOptions("front", target);
    options.lpdPort = 0;
    serve::VirtualPrinterServer front(options);
    std::string error;
    ASSERT_TRUE(front.Start(error)) << error;
    const std::vector<std::string> jobs = {NumberedJob(3), NumberedJob(4, 900), NumberedJob(5)};
    for (const std::string& job : jobs) ASSERT_TRUE(SendLpd(front.LpdPort(), job, {"desk", "ann", "labels for Ann"}));
    WaitForForward(front.HttpPort(), 3, "forwarded");
    total += jobs.size();
    const nlohmann::json far = WaitForJobs(behind.HttpPort(), [&](const nlohmann::json& s) {
      return s["jobs"].size() == total && s["jobs"][0]["finished"].get<bool>();
    });
    for (size_t i = 0; i < jobs.size(); ++i) {
      const nlohmann::json& got = far["jobs"][jobs.size() - 1 - i];  // newest first
      EXPECT_TRUE(GetBody(behind.HttpPort(), got["stream"]) == jobs[i]) << "job " << i;
      if (target.rfind("lpd:", 0) == 0) {
        EXPECT_EQ(got["title"], "labels for Ann");
        EXPECT_EQ(got["user"].get<std::string>().rfind("ann@", 0), 0u) << got["user"];
      }
    }
    front.Stop();
    std::filesystem::remove_all(options.out);
  }

  // Killed while it sends on, then started again: nothing that went whole
  // goes twice, and a job cut off waits for the user's word.
  Sink slow(Sink::Way::ReadsSlowly);
  const auto out = TestOptions("killfw").out;
  const std::vector<std::string> args = {"--out", out.string(), "--forward",
                                         "socket://127.0.0.1:" + std::to_string(slow.Port())};
  std::vector<std::string> sent;
  for (const auto delay : {0ms, 150ms, 600ms}) {
    {
      ServeProcess front(args);
      ASSERT_TRUE(front.Running()) << front.Output();
      sent.push_back(NumberedJob(static_cast<int>(sent.size()) + 10, 400));
      SendRaw(front.RawPort(), sent.back());
      std::this_thread::sleep_for(delay);
      front.Kill();
    }
    ServeProcess again(args);
    ASSERT_TRUE(again.Running()) << again.Output();
    // Settled, or held by a job the kill cut off.
    auto settled = [](bool held) {
      return [held](const nlohmann::json& s) {
        bool waiting = false, interrupted = false;
        for (const auto& job : s["jobs"]) {
          const std::string f = job["forward"]["state"];
          if (f == "sending") return false;
          waiting = waiting || f == "waiting";
          interrupted = interrupted || f == "interrupted";
        }
        return !waiting || (held && interrupted);
      };
    };
    auto expectOnce = [&](const nlohmann::json& state) {
      const auto received = slow.Received();
      for (const auto& job : state["jobs"]) {
        const std::string stream = GetBody(again.HttpPort(), job["stream"]);
        const auto whole = std::count(received.begin(), received.end(), stream);
        if (job["forward"]["state"] == "forwarded") EXPECT_EQ(whole, 1) << job.dump();
        // Cut off by the kill: the far end may have had it whole, but it is not sent again unasked.
        if (job["forward"]["state"] == "interrupted") EXPECT_LE(whole, 1) << job.dump();
      }
    };
    const nlohmann::json state = WaitForJobs(again.HttpPort(), settled(true));
    expectOnce(state);
    for (const auto& job : state["jobs"]) {
      if (job["forward"]["state"] == "interrupted") {
        EXPECT_EQ(Post(again.HttpPort(), "/api/jobs/" + job["id"].dump() + "/skip")["status"], 200);
      }
    }
    expectOnce(WaitForJobs(again.HttpPort(), settled(false)));
    again.Kill();
  }
  std::filesystem::remove_all(out);
  std::filesystem::remove_all(behindDir);
}

}  // namespace
}  // namespace streamcheck
