// Receive, then print: each connection is read on its own and a job goes to
// the printer when its last byte is in, so a silent or slow client holds only
// itself; jobs print in the order they finished arriving.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "serve/job_store.h"
#include "serve_support.h"
#include "stream_builder.h"

namespace streamcheck {
namespace {

using testing::Connect;
using testing::FetchLabels;
using testing::FindJob;
using testing::RenderAlone;
using testing::SendRaw;
using testing::Solid;
using testing::StreamBuilder;
using testing::TestOptions;
using testing::WaitForJobs;
using namespace std::chrono_literals;

bool Finished(const nlohmann::json& state, uint64_t id) {
  const nlohmann::json* job = FindJob(state, id);
  return job != nullptr && (*job)["finished"].get<bool>();
}

std::string Faults(const nlohmann::json& job) {
  std::string all;
  for (const auto& fault : job["faults"]) all += fault["message"].get<std::string>() + "\n";
  return all;
}

TEST(VirtualPrinterReceiving, PrintsANormalJobBesideIdleAndTricklingClientsAndLosesNoneWhenStopped) {
  auto options = TestOptions("beside");
  options.readTimeout = 60s;  // the idle ones stay for the whole test
  options.jobDeadline = 60s;
  serve::VirtualPrinterServer server(options);
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  const int http = server.HttpPort();

  constexpr size_t kIdle = 64;
  std::vector<int> idle;
  for (size_t i = 0; i < kIdle; ++i) idle.push_back(Connect(server.RawPort()));
  const int trickler = Connect(server.RawPort());
  std::atomic<bool> trickling{true};
  std::thread trickle([&] {
    while (trickling) {
      send(trickler, "^", 1, MSG_NOSIGNAL);
      std::this_thread::sleep_for(100ms);
    }
  });
  // All of them are shown as arriving, the trickler with its bytes so far.
  auto state = WaitForJobs(http, [&](const nlohmann::json& s) {
    return s["jobs"].size() == kIdle + 1 && (*FindJob(s, kIdle + 1))["bytes"].get<size_t>() > 0;
  });
  for (const auto& job : state["jobs"]) {
    EXPECT_EQ(job["state"], "arriving") << job.dump();
    EXPECT_NE(job["source"].get<std::string>().find("127.0.0.1"), std::string::npos) << job.dump();
  }

  // A normal job meanwhile is printed at once: the client waits at most a second.
  const std::string job =
      StreamBuilder().Setup(425, 150).Raw("^XA^C(L").Band(Solid(425, 150, {20, 90, 200}), 0, 0).Raw("^C(S^XZ").Text();
  SendRaw(server.RawPort(), job);
  const uint64_t normal = kIdle + 2;
  state = WaitForJobs(
      http, [&](const nlohmann::json& s) { return Finished(s, normal); }, 1s);
  ASSERT_TRUE(Finished(state, normal));
  EXPECT_EQ((*FindJob(state, normal))["faults"].size(), 0u) << FindJob(state, normal)->dump();
  EXPECT_EQ(FetchLabels(http, *FindJob(state, normal)), RenderAlone(job));

  // Stopping cuts them all; each is recorded, finished, with what it sent.
  trickling = false;
  trickle.join();
  server.Stop();
  const nlohmann::json stopped = server.Store().Snapshot();
  ASSERT_EQ(stopped["jobs"].size(), kIdle + 2);
  for (const auto& record : stopped["jobs"]) {
    if (record["id"] == normal) continue;
    EXPECT_TRUE(record["finished"].get<bool>()) << record.dump();
    EXPECT_NE(Faults(record).find("stopped"), std::string::npos) << record.dump();
  }
  EXPECT_GT((*FindJob(stopped, kIdle + 1))["bytes"].get<size_t>(), 0u);
  for (const int fd : idle) close(fd);
  close(trickler);
  std::filesystem::remove_all(options.out);
}

TEST(VirtualPrinterReceiving, PrintsJobsInTheOrderTheyFinishedArriving) {
  // Two jobs of one plug-in: the second sends only what changed, so what it
  // prints shows whether the first was printed before it.
  const std::string first =
      StreamBuilder().Setup(425, 150).Raw("^XA^C(L").Band(Solid(425, 150, {200, 10, 10}), 0, 0).Raw("^C(S^XZ").Text();
  const std::string diff =
      StreamBuilder().Setup(425, 150).Raw("^XA^C(L").Band(Solid(40, 20, {0, 0, 255}), 30, 30).Raw("^C(S^XZ").Text();
  const auto afterFirst = RenderAlone(first + diff);
  ASSERT_EQ(afterFirst.size(), 2u);
  ASSERT_NE(RenderAlone(diff)[0], afterFirst[1]);

  auto options = TestOptions("order");
  options.readTimeout = 30s;
  options.spoolJobMemoryBytes = 256;  // both are spooled to files
  serve::VirtualPrinterServer server(options);
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  const int http = server.HttpPort();

  // The diff connects and sends first, but is still open when the first job is in.
  const int early = Connect(server.RawPort());
  ASSERT_EQ(send(early, diff.data(), diff.size(), MSG_NOSIGNAL), static_cast<ssize_t>(diff.size()));
  WaitForJobs(http, [&](const nlohmann::json& s) { return s["jobs"].size() == 1; });
  SendRaw(server.RawPort(), first);
  auto state = WaitForJobs(http, [&](const nlohmann::json& s) { return Finished(s, 2); });
  EXPECT_EQ((*FindJob(state, 1))["state"], "arriving");
  EXPECT_TRUE(std::filesystem::exists(options.out / "job-000001" / "receiving.part"));
  close(early);
  state = WaitForJobs(http, [&](const nlohmann::json& s) { return Finished(s, 1); });
  const nlohmann::json& later = *FindJob(state, 1);
  EXPECT_EQ(later["bytes"], diff.size());
  EXPECT_FALSE(later["freshPrinter"].get<bool>());
  EXPECT_TRUE((*FindJob(state, 2))["freshPrinter"].get<bool>());
  EXPECT_EQ(FetchLabels(http, *FindJob(state, 2)), std::vector<std::vector<uint8_t>>{afterFirst[0]});
  EXPECT_EQ(FetchLabels(http, later), std::vector<std::vector<uint8_t>>{afterFirst[1]});
  EXPECT_FALSE(std::filesystem::exists(options.out / "job-000001" / "receiving.part"));
  server.Stop();
  std::filesystem::remove_all(options.out);
}

}  // namespace
}  // namespace streamcheck
