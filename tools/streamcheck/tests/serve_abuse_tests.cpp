// The virtual printer used as a busy line and a hostile client would use it,
// on loopback: many senders at once, idle and trickling connections, jobs
// that make it draw and store far more than they send, requests from other
// sites, and after all of it a job that must print exactly as it should.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "serve_support.h"
#include "stream_builder.h"

namespace streamcheck {
namespace {

using testing::Connect;
using testing::FetchLabels;
using testing::FindJob;
using testing::FolderBytes;
using testing::HttpClient;
using testing::HttpHeaders;
using testing::RenderAlone;
using testing::SendRaw;
using testing::Solid;
using testing::StreamBuilder;
using testing::TestOptions;
using testing::WaitForJobs;
using namespace std::chrono_literals;

std::string SmallJob() {
  return StreamBuilder()
      .Setup(425, 150)
      .Raw("^XA^C(L")
      .Band(Solid(425, 150, {20, 90, 200}), 0, 0)
      .Raw("^C(S^XZ")
      .Text();
}

// Sends `lines` one at a time with a pause; true when the server closed the
// connection before all of them were sent and answered.
bool TrickleUntilCut(int port, const std::vector<std::string>& lines, std::chrono::milliseconds pause) {
  const int fd = Connect(port);
  bool cut = false;
  for (const std::string& line : lines) {
    if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
      cut = true;
      break;
    }
    // The head never ends, so an answer or a close means the server gave up on it.
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(pause.count())) > 0) {
      cut = true;
      break;
    }
  }
  close(fd);
  return cut;
}

bool HasFaultWith(const nlohmann::json& job, const std::string& text) {
  for (const auto& fault : job["faults"]) {
    if (fault["message"].get<std::string>().find(text) != std::string::npos) return true;
  }
  return false;
}

std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The page and the job list answer while the printer is held up; the page's
// files come exactly as they are in the source tree.
void ExpectPageAnswers(int httpPort) {
  HttpClient client("127.0.0.1", httpPort);
  client.SetConnectTimeout(5s);
  client.SetReadTimeout(5s);
  const auto page = client.Get("/");
  ASSERT_TRUE(page && page->status == 200);
  const std::filesystem::path web = STREAMCHECK_WEB_DIR;
  EXPECT_EQ(page->body, FileText(web / "index.html"));
  EXPECT_EQ(page->Header("Content-Type"), "text/html; charset=utf-8");
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(web)) {
    const std::string name = entry.path().filename().string();
    const auto served = client.Get("/" + name);
    ASSERT_TRUE(served && served->status == 200) << name;
    EXPECT_EQ(served->body, FileText(entry.path())) << name;
    ++files;
  }
  EXPECT_GE(files, 5u);
  EXPECT_EQ(client.Get("/appxjs")->status, 404);  // a name is not a pattern
  const auto jobs = client.Get("/api/jobs");
  EXPECT_TRUE(jobs && jobs->status == 200);
}

TEST(VirtualPrinterUnderLoad, StoresEveryJobOfManySendersAndServesThePageWhileClientsHang) {
  auto options = TestOptions("load");
  options.maxConnections = 4;
  options.readTimeout = 1500ms;
  options.jobDeadline = 3s;
  options.requestHeadTimeout = 1000ms;
  options.maxHttpJobs = 2;
  serve::VirtualPrinterServer server(options);
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  const int http = server.HttpPort();
  const std::string job = SmallJob();
  const auto expected = RenderAlone(job);

  // Idle raw connections take every worker; slow HTTP clients trickle their
  // header lines. The page answers all the same, and the slow ones are cut.
  std::vector<int> idle;
  for (int i = 0; i < 12; ++i) idle.push_back(Connect(server.RawPort()));
  std::vector<std::string> headLines{"GET / HTTP/1.1\r\n"};
  for (int i = 0; i < 40; ++i) headLines.push_back("X-Slow-" + std::to_string(i) + ": 1\r\n");
  std::atomic<int> slowCut{0};
  std::vector<std::thread> slow;
  for (int i = 0; i < 20; ++i) {
    slow.emplace_back([&] { slowCut += TrickleUntilCut(http, headLines, 200ms) ? 1 : 0; });
  }
  std::this_thread::sleep_for(300ms);
  ExpectPageAnswers(http);
  for (std::thread& t : slow) t.join();
  EXPECT_EQ(slowCut.load(), 20);
  for (const int fd : idle) close(fd);

  // Many senders at once, more than the workers: each job is stored whole.
  constexpr int kSenders = 40;
  std::vector<std::thread> senders;
  for (int i = 0; i < kSenders; ++i) senders.emplace_back([&] { SendRaw(server.RawPort(), job); });
  for (std::thread& t : senders) t.join();
  const auto state = WaitForJobs(http, [&](const nlohmann::json& s) {
    size_t printed = 0;
    for (const auto& j : s["jobs"]) printed += j["finished"].get<bool>() && !j["labels"].empty() ? 1 : 0;
    return printed == kSenders;
  });
  size_t silent = 0;
  for (const auto& j : state["jobs"]) {
    if (j["labels"].empty()) {
      // The idle connections: each recorded with its fault, none lost silently.
      EXPECT_TRUE(HasFaultWith(j, "sent nothing") || HasFaultWith(j, "without sending anything")) << j.dump();
      ++silent;
    } else {
      EXPECT_EQ(j["faults"].size(), 0u) << j.dump();
      EXPECT_EQ(j["bytes"], job.size());
    }
  }
  EXPECT_EQ(silent, idle.size());

  // A trickling client is cut at its deadline; meanwhile HTTP jobs beyond
  // their limit are refused at once and visibly, and the page answers.
  std::thread trickler([&] {
    std::string stream = "^XA^FX";
    for (int i = 0; i < 60; ++i) stream += 'x';
    SendRaw(server.RawPort(), stream, 1, 100);
  });
  std::this_thread::sleep_for(500ms);
  std::atomic<int> busy{0}, taken{0};
  std::vector<std::thread> posters;
  for (int i = 0; i < 5; ++i) {
    posters.emplace_back([&, i] {
      HttpClient client("127.0.0.1", http);
      client.SetReadTimeout(30s);
      // The first two send their bodies slowly and hold both places; the
      // other three come meanwhile.
      const bool slow = i < 2;
      if (!slow) std::this_thread::sleep_for(300ms);
      const auto answer = client.PostPieces(
          "/api/jobs", job.size(),
          [&](size_t offset, size_t length) {
            if (slow && offset > 0) std::this_thread::sleep_for(800ms);
            return job.substr(offset, std::min<size_t>(length, slow && offset == 0 ? 100 : length));
          },
          "application/octet-stream");
      if (answer && answer->status == 503) ++busy;
      if (answer && answer->status == 201) ++taken;
    });
  }
  ExpectPageAnswers(http);
  trickler.join();
  for (std::thread& t : posters) t.join();
  EXPECT_EQ(taken.load(), 2);
  EXPECT_EQ(busy.load(), 3);
  const auto after = WaitForJobs(http, [&](const nlohmann::json& s) {
    return s["jobs"].size() == idle.size() + kSenders + 3 && s["jobs"][0]["finished"].get<bool>();
  });
  bool deadlineSeen = false;
  for (const auto& j : after["jobs"]) deadlineSeen = deadlineSeen || HasFaultWith(j, "deadline of 3 s");
  EXPECT_TRUE(deadlineSeen) << after.dump();
  EXPECT_EQ(FetchLabels(http, after["jobs"][0]), expected);
  server.Stop();
  std::filesystem::remove_all(options.out);
}

TEST(VirtualPrinterUnderAbuse, BoundsWhatAJobCostsRefusesForeignRequestsAndPrintsNormallyAfter) {
  auto options = TestOptions("abuse");
  options.maxJobLabels = 30;
  options.maxJobPixels = uint64_t{3} * 1587 * 14400;
  options.maxStoredBytes = 4 * serve::kMiB;
  serve::VirtualPrinterServer server(options);
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  const int http = server.HttpPort();
  HttpClient client("127.0.0.1", http);
  client.SetReadTimeout(60s);
  auto post = [&](const std::string& path, const std::string& body, const std::string& type,
                  const HttpHeaders& headers = {}) {
    const auto answer = client.Post(path, body, type, headers);
    return answer ? answer->status : -1;
  };

  // Few bytes that ask for many labels, or for tall ones: cut at the bound,
  // the page says so, and the store stays within its budget.
  std::string copies = StreamBuilder().Setup(425, 150).Text();
  for (int i = 0; i < 200; ++i) copies += "^XA^C(L^C(S^XZ";
  StreamBuilder tall;  // labels that differ: identical ones would share one picture
  tall.Setup(1587, 14400);
  for (uint8_t i = 0; i < 200; ++i) tall.Raw("^XA^C(L").Band(Solid(1, 1, {i, 0, 0}), i, 0).Raw("^C(S^XZ");
  ASSERT_EQ(post("/api/jobs", copies, "application/octet-stream"), 201);
  ASSERT_EQ(post("/api/jobs", tall.Text(), "application/octet-stream"), 201);
  auto state = WaitForJobs(http, [](const nlohmann::json& s) { return s["jobs"].size() == 2; });
  const nlohmann::json& many = *FindJob(state, 1);
  const nlohmann::json& high = *FindJob(state, 2);
  EXPECT_EQ(many["labels"].size(), options.maxJobLabels);
  EXPECT_TRUE(HasFaultWith(many, "more than 30 labels")) << many.dump();
  EXPECT_EQ(high["labels"].size(), 3u);
  EXPECT_TRUE(HasFaultWith(high, "pixels")) << high.dump();
  EXPECT_LE(FolderBytes(options.out), options.maxStoredBytes + serve::kMiB);

  // Requests another site could make a browser send, and names of this
  // machine that another site could point at it: refused, nothing printed.
  const HttpHeaders foreignHost{{"Host", "attacker.example:" + std::to_string(http)}};
  EXPECT_EQ(client.Get("/api/jobs", foreignHost)->status, 421);
  EXPECT_EQ(client.Get("/", HttpHeaders{{"Host", "localhost:" + std::to_string(http)}})->status, 200);
  EXPECT_EQ(post("/api/power-cycle", "{}", "application/json", {{"Origin", "http://attacker.example"}}), 403);
  EXPECT_EQ(post("/api/power-cycle", "{}", "application/json", {{"Sec-Fetch-Site", "cross-site"}}), 403);
  EXPECT_EQ(post("/api/power-cycle", "", "text/plain"), 415);
  EXPECT_EQ(post("/api/jobs", SmallJob(), "application/x-www-form-urlencoded"), 415);
  EXPECT_EQ(post("/api/jobs", "--b\r\n\r\n" + SmallJob() + "\r\n--b--\r\n", "multipart/form-data; boundary=b"), 415);
  EXPECT_EQ(client.Get("/api/jobs", HttpHeaders{{"Content-Length", "1000000000"}})->status, 413);
  EXPECT_EQ(WaitForJobs(http, [](const nlohmann::json&) { return true; })["powerCycles"], 0);

  // An empty job is recorded with its fault.
  ASSERT_EQ(post("/api/jobs", "", "application/octet-stream"), 201);
  state = WaitForJobs(http, [](const nlohmann::json& s) { return s["jobs"].size() == 3; });
  EXPECT_TRUE(HasFaultWith(state["jobs"][0], "empty")) << state["jobs"][0].dump();

  // One range per request, answered alone; several ranges, or one past the
  // end, get a short 416 and never a multipart body.
  ASSERT_EQ(post("/api/jobs", SmallJob(), "application/octet-stream"), 201);
  state = WaitForJobs(http, [](const nlohmann::json& s) { return s["jobs"].size() == 4; });
  const std::string url = state["jobs"][0]["labels"][0]["url"];
  const auto whole = client.Get(url);
  ASSERT_TRUE(whole && whole->status == 200);
  const std::string png = whole->body;
  const std::string size = std::to_string(png.size());
  std::string thousand = "bytes=0-";
  for (int i = 0; i < 999; ++i) thousand += ",0-";
  struct RangeCase {
    std::string range;
    int status;
    std::string body;  // for 206: the part expected
    size_t from = 0;   // its first byte
  };
  const std::vector<RangeCase> ranges = {
      {"bytes=0-9", 206, png.substr(0, 10), 0},
      {"bytes=-10", 206, png.substr(png.size() - 10), png.size() - 10},
      {"bytes=5-", 206, png.substr(5), 5},
      {"bytes=0-99999999", 206, png, 0},  // the end named is the clamped one
      {thousand, 416, "", 0},
      {"bytes=0-1,4-5", 416, "", 0},
      {"bytes=" + size + "-", 416, "", 0},
      {"bytes=99999999-99999999", 416, "", 0},
  };
  for (const std::string& path : {url, std::string("/api/jobs")}) {
    for (const RangeCase& r : ranges) {
      // The list's size changes from call to call: only ranges no size satisfies.
      if (path != url && (r.status == 206 || r.range == "bytes=" + size + "-")) continue;
      const auto answer = client.Get(path, HttpHeaders{{"Range", r.range}});
      ASSERT_TRUE(answer) << r.range.substr(0, 40);
      EXPECT_EQ(answer->status, r.status) << path << " " << r.range.substr(0, 40);
      if (r.status == 206) {
        EXPECT_EQ(answer->body, r.body) << r.range;
        EXPECT_EQ(answer->Header("Content-Range"),
                  "bytes " + std::to_string(r.from) + "-" + std::to_string(r.from + r.body.size() - 1) + "/" + size);
      } else {
        EXPECT_LT(answer->body.size(), 200u) << r.range.substr(0, 40);
        EXPECT_EQ(answer->Header("Content-Type").find("multipart"), std::string::npos);
      }
    }
  }

  // The page's own power cycle, then a job prints as on a new printer.
  EXPECT_EQ(
      post("/api/power-cycle", "{}", "application/json", {{"Origin", "http://127.0.0.1:" + std::to_string(http)}}),
      200);
  const std::string job = SmallJob();
  SendRaw(server.RawPort(), job);
  state = WaitForJobs(
      http, [](const nlohmann::json& s) { return s["jobs"].size() == 5 && s["jobs"][0]["finished"].get<bool>(); });
  EXPECT_TRUE(state["jobs"][0]["freshPrinter"].get<bool>());
  EXPECT_EQ(FetchLabels(http, state["jobs"][0]), RenderAlone(job));
  server.Stop();
  std::filesystem::remove_all(options.out);
}

// One run of the server: it prints one small job and stops. The job's record.
nlohmann::json OneJobRun(const serve::ServeOptions& options) {
  serve::VirtualPrinterServer server(options);
  std::string error;
  EXPECT_TRUE(server.Start(error)) << error;
  SendRaw(server.RawPort(), SmallJob());
  // The job it printed, not one an earlier run left.
  const auto state = WaitForJobs(server.HttpPort(), [](const nlohmann::json& s) {
    return !s["jobs"].empty() && s["jobs"][0]["finished"].get<bool>() && s["jobs"][0]["state"] != "damaged";
  });
  server.Stop();
  return state["jobs"][0];
}

TEST(VirtualPrinterRestart, CountsOnAfterWideJobNumbersAndNamesItsPicturesAfreshEachRun) {
  auto options = TestOptions("restart");
  std::filesystem::create_directories(options.out / "job-1234567");
  const nlohmann::json first = OneJobRun(options);
  EXPECT_EQ(first["id"], 1234568);           // the folder without a record is listed as damaged, and counted on after
  std::filesystem::remove_all(options.out);  // emptied between runs: the numbers start again
  const nlohmann::json second = OneJobRun(options);
  EXPECT_EQ(second["id"], 1);
  EXPECT_NE(second["labels"][0]["url"], first["labels"][0]["url"]);
  std::filesystem::remove_all(options.out);
}

}  // namespace
}  // namespace streamcheck
