// The virtual printer killed as a crash would (SIGKILL) at several points of
// its work, then started again on the same folder: what it lists is what was
// on disk, no job a client had its last answer for is lost, and the numbers
// go on.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "serve_process.h"
#include "serve_support.h"
#include "stream_builder.h"

namespace streamcheck {
namespace {

using testing::Connect;
using testing::GetBody;
using testing::SendLpd;
using testing::SendRaw;
using testing::ServeProcess;
using testing::Solid;
using testing::StreamBuilder;
using testing::TestOptions;
using testing::WaitForJobs;
using namespace std::chrono_literals;

// A job that takes the printer and the pictures a while, told apart from the
// others by the colour `n` gives it (and so by its bytes).
std::string ShadedJob(int n, int32_t height = 150) {
  const uint8_t shade = static_cast<uint8_t>(n * 37);
  return StreamBuilder()
      .Setup(425, height)
      .Raw("^XA^C(L")
      .Band(Solid(425, height, {shade, 90, static_cast<uint8_t>(255 - shade)}), 0, 0)
      .Raw("^C(S^XZ")
      .Text();
}

nlohmann::json Jobs(int httpPort) {
  testing::HttpClient client("127.0.0.1", httpPort);
  const auto response = client.Get("/api/jobs");
  return response && response->status == 200 ? nlohmann::json::parse(response->body) : nlohmann::json();
}

std::set<uint64_t> FoldersOnDisk(const std::filesystem::path& out) {
  std::set<uint64_t> ids;
  for (const auto& entry : std::filesystem::directory_iterator(out)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("job-", 0) == 0) ids.insert(std::stoull(name.substr(4)));
  }
  return ids;
}

// What a restarted server must show of the folder a killed one left.
void ExpectRestartedAsOnDisk(const std::filesystem::path& out, const std::map<std::string, bool>& acknowledged,
                             uint64_t& highest, size_t& interrupted) {
  const std::set<uint64_t> onDisk = FoldersOnDisk(out);
  ServeProcess server({"--out", out.string()});
  ASSERT_TRUE(server.Running()) << server.Output();
  const nlohmann::json state = Jobs(server.HttpPort());
  std::set<uint64_t> listed;
  std::set<std::string> streams;
  for (const auto& job : state["jobs"]) {
    const uint64_t id = job["id"].get<uint64_t>();
    listed.insert(id);
    const std::string jobState = job["state"];
    EXPECT_TRUE(jobState == "finished" || jobState == "interrupted" || jobState == "damaged") << job.dump();
    EXPECT_TRUE(job["finished"].get<bool>());
    if (jobState == "interrupted" && job["id"].get<uint64_t>() > highest) ++interrupted;
    if (job["stream"].get<std::string>().empty()) continue;
    // Whole or not at all: what the record counts is what the stream holds.
    const std::string stream = GetBody(server.HttpPort(), job["stream"]);
    EXPECT_EQ(stream.size(), job["bytes"].get<size_t>()) << job.dump();
    if (jobState == "finished") streams.insert(stream);
    for (const auto& label : job["labels"]) {
      if (label["url"].get<std::string>().empty()) continue;
      RgbImage image;
      const std::string png = GetBody(server.HttpPort(), label["url"]);
      EXPECT_EQ(DecodePng(reinterpret_cast<const uint8_t*>(png.data()), png.size(), PngLimits{}, image), "");
    }
  }
  EXPECT_EQ(listed, onDisk);
  for (const auto& [data, acked] : acknowledged) {
    if (!acked) continue;
    bool found = false;
    for (const auto& job : state["jobs"]) {
      found = found || (!job["stream"].get<std::string>().empty() && GetBody(server.HttpPort(), job["stream"]) == data);
    }
    EXPECT_TRUE(found) << "an acknowledged job of " << data.size() << " bytes is lost";
  }
  // A power cycle's start: the printer holds nothing, and the page is told of the earlier jobs.
  const nlohmann::json memory = nlohmann::json::parse(GetBody(server.HttpPort(), "/api/memory"));
  EXPECT_TRUE(memory["empty"].get<bool>());
  EXPECT_EQ(state["earlierJobs"].get<size_t>(), onDisk.size());
  // The numbers go on.
  const uint64_t before = onDisk.empty() ? 0 : *onDisk.rbegin();
  EXPECT_GE(before, highest);
  SendRaw(server.RawPort(), ShadedJob(99));
  const nlohmann::json after = WaitForJobs(server.HttpPort(), [&](const nlohmann::json& s) {
    return !s["jobs"].empty() && s["jobs"][0]["id"].get<uint64_t>() > before && s["jobs"][0]["finished"].get<bool>();
  });
  highest = after["jobs"][0]["id"].get<uint64_t>();
  server.Kill();
}

TEST(VirtualPrinterRestart, ListsWhatAKillLeftOnDiskAndLosesNoAcknowledgedJob) {
  const std::filesystem::path out = TestOptions("kill").out;
  uint64_t highest = 0;
  size_t interrupted = 0;  // jobs a kill cut off, over all rounds
  // Killed at once, mid-receive, while drawing and filing pictures, while
  // writing records: the delays walk over a job's life.
  const std::vector<std::chrono::milliseconds> kills = {0ms, 5ms, 20ms, 45ms, 80ms, 150ms, 300ms};
  for (size_t round = 0; round < kills.size(); ++round) {
    std::map<std::string, bool> acknowledged;
    {
      ServeProcess server({"--out", out.string(), "--read-timeout-ms", "2000"});
      ASSERT_TRUE(server.Running()) << server.Output();
      const std::string big = ShadedJob(static_cast<int>(round), 2400);
      const std::string lpd = ShadedJob(static_cast<int>(round) + 50);
      std::thread trickle([&] { SendRaw(server.RawPort(), ShadedJob(static_cast<int>(round) + 20), 512, 1); });
      std::thread whole([&] { SendRaw(server.RawPort(), big); });
      const bool acked = SendLpd(server.LpdPort(), lpd, {"host", "tester", "restart"});
      acknowledged[lpd] = acked;
      std::this_thread::sleep_for(kills[round]);
      server.Kill();
      trickle.join();
      whole.join();
    }
    SCOPED_TRACE("killed after " + std::to_string(kills[round].count()) + " ms");
    ExpectRestartedAsOnDisk(out, acknowledged, highest, interrupted);
  }
  EXPECT_GT(interrupted, 0u);  // the kills did come in the middle of jobs

  // A record damaged or lost, as a disk may leave it: that job shows as
  // damaged, and the rest start as before.
  std::set<uint64_t> onDisk = FoldersOnDisk(out);
  ASSERT_GE(onDisk.size(), 3u);
  const uint64_t damaged = *onDisk.begin(), lost = *std::next(onDisk.begin());
  std::ofstream(out / ("job-" + std::string(6 - std::to_string(damaged).size(), '0') + std::to_string(damaged)) /
                "summary.json")
      << "{\"id\": 1, \"sta";
  char lostName[32];
  std::snprintf(lostName, sizeof lostName, "job-%06llu", static_cast<unsigned long long>(lost));
  std::filesystem::remove(out / lostName / "summary.json");
  {
    // Few jobs kept: the earlier run's count against the limit at once.
    ServeProcess server({"--out", out.string(), "--max-jobs", "200"});
    ASSERT_TRUE(server.Running()) << server.Output();
    const nlohmann::json state = Jobs(server.HttpPort());
    ASSERT_EQ(state["jobs"].size(), onDisk.size());
    const auto& oldest = state["jobs"][state["jobs"].size() - 1];
    const auto& second = state["jobs"][state["jobs"].size() - 2];
    EXPECT_EQ(oldest["state"], "damaged");
    EXPECT_EQ(second["state"], "damaged");
    EXPECT_NE(oldest["faults"][0]["message"].get<std::string>().find("damaged"), std::string::npos);
    EXPECT_NE(second["faults"][0]["message"].get<std::string>().find("missing"), std::string::npos);
  }
  {
    ServeProcess server({"--out", out.string(), "--max-jobs", "3"});
    ASSERT_TRUE(server.Running()) << server.Output();
    EXPECT_EQ(Jobs(server.HttpPort())["jobs"].size(), 3u);
    EXPECT_EQ(FoldersOnDisk(out).size(), 3u);
  }
  std::filesystem::remove_all(out);
}

}  // namespace
}  // namespace streamcheck
