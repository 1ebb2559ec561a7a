// The virtual printer fed by a real print client: a private CUPS spooler
// whose queues send raw jobs to the server's ports, as a Linux print server
// in front of the printer would.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "private_cups.h"
#include "serve_support.h"

namespace streamcheck {
namespace {

using testing::HttpClient;
using testing::PrivateCups;

// The sample job's stream as our host program prints it through the plug-in
// (samples/sample.job): six labels, PNG bytes of every value, so a client that
// translated line ends or stopped at a NUL would be seen.
std::string SampleJob() {
  std::ifstream in(STREAMCHECK_SAMPLE_JOB, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string StoredStream(int httpPort, uint64_t id) {
  HttpClient client("127.0.0.1", httpPort);
  const auto response = client.Get("/jobs/" + std::to_string(id) + "/stream.prn");
  return response && response->status == 200 ? response->body : std::string("(not stored)");
}

TEST(RealPrintClient, CupsQueuesDeliverJobsByteForByte) {
  PrivateCups cups;
  if (!cups.Problem().empty()) GTEST_SKIP() << "no private CUPS spooler here: " << cups.Problem();
  auto options = testing::TestOptions("cups");
  options.lpdPort = 0;
  options.readTimeout = std::chrono::milliseconds(5000);
  serve::VirtualPrinterServer server(options);
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;

  const std::string job = SampleJob();
  ASSERT_GT(job.size(), 100000u);
  const std::filesystem::path file = options.out / "job.prn";
  std::filesystem::create_directories(options.out);
  std::ofstream(file, std::ios::binary) << job;
  std::filesystem::permissions(file, std::filesystem::perms::others_read, std::filesystem::perm_options::add);

  // A raw socket queue, and an LPD queue (its backend sends the control
  // file first, from a port of its choice rather than a reserved one).
  struct Queue {
    std::string name, uri, via;
  };
  const std::vector<Queue> queues = {
      {"raw9100", "socket://127.0.0.1:" + std::to_string(server.RawPort()), "raw"},
      {"lpdqueue", "lpd://127.0.0.1:" + std::to_string(server.LpdPort()) + "/labels?reserve=none", "lpd"},
  };
  uint64_t id = 0;
  for (const Queue& queue : queues) {
    SCOPED_TRACE(queue.uri);
    std::string output;
    ASSERT_TRUE(cups.AddQueue(queue.name, queue.uri, output)) << output;
    ASSERT_TRUE(cups.PrintRaw(queue.name, file, "sample " + queue.via, output)) << output;
    const auto state = testing::WaitForFinishedJobs(server.HttpPort(), ++id);
    const auto& record = state["jobs"][0];
    EXPECT_EQ(record["id"], id);
    EXPECT_EQ(record["via"], queue.via);
    EXPECT_EQ(record["faults"].size(), 0u) << record.dump();
    EXPECT_EQ(record["labels"].size(), 6u);
    if (queue.via == "lpd") {
      EXPECT_EQ(record["title"], "sample lpd");
      EXPECT_NE(record["user"], "");
    }
    EXPECT_TRUE(StoredStream(server.HttpPort(), id) == job) << "the stored stream differs from the file sent";
  }
  server.Stop();
  std::filesystem::remove_all(options.out);
}

}  // namespace
}  // namespace streamcheck
