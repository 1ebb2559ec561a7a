#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "serve_support.h"
#include "stream_builder.h"

namespace streamcheck {
namespace {

using testing::Connect;
using testing::FetchLabels;
using testing::FolderBytes;
using testing::HasFault;
using testing::HttpClient;
using testing::PluginPng;
using testing::RenderAlone;
using testing::SendRaw;
using testing::Solid;
using testing::StreamBuilder;
using testing::TestOptions;
using testing::WaitForFinishedJobs;
using testing::WithAnnouncedSize;
using Pictures = std::vector<std::vector<uint8_t>>;

// A job as the plug-in's first: set-up, then a page that sends the whole base.
std::string FirstJob() {
  return StreamBuilder()
      .Setup(425, 150)
      .Raw("^XA^C(L")
      .Band(Solid(425, 75, {200, 10, 10}), 0, 0)
      .Band(Solid(425, 75, {10, 150, 10}), 0, 75)
      .Raw("^C(S^XZ")
      .Text();
}

// A later job of the same plug-in: its own set-up, then pages with only what changed.
std::string DiffJob() {
  return StreamBuilder()
      .Setup(425, 150)
      .Raw("^XA^C(L")
      .Band(Solid(40, 20, {0, 0, 255}), 30, 30)
      .Raw("^C(S^XZ^XA^C(L")
      .Band(Solid(40, 20, {255, 255, 0}), 300, 100)
      .Raw("^C(S^XZ")
      .Text();
}

Pictures Tail(const Pictures& all, size_t from) {
  return Pictures(all.begin() + static_cast<ptrdiff_t>(from), all.end());
}

TEST(VirtualPrinter, KeepsItsMemoryFromJobToJobUnlessSwitchedOff) {
  const std::string first = FirstJob();
  const std::string diff = DiffJob();
  const Pictures firstAlone = RenderAlone(first);
  const Pictures diffAlone = RenderAlone(diff);
  const Pictures diffAfterFirst = Tail(RenderAlone(first + diff), firstAlone.size());
  ASSERT_EQ(firstAlone.size(), 1u);
  ASSERT_EQ(diffAlone.size(), 2u);
  ASSERT_NE(diffAlone, diffAfterFirst);  // the test means something only if memory shows

  {
    const auto options = TestOptions("memory");
    serve::VirtualPrinterServer server(options);
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    SendRaw(server.RawPort(), first);
    WaitForFinishedJobs(server.HttpPort(), 1);
    SendRaw(server.RawPort(), diff, 97, 2);  // in pieces, as a spooler may send it
    auto state = WaitForFinishedJobs(server.HttpPort(), 2);
    ASSERT_EQ(state["jobs"].size(), 2u);
    const auto& newest = state["jobs"][0];
    EXPECT_EQ(newest["id"], 2);
    EXPECT_EQ(newest["faults"].size(), 0u) << newest.dump();
    EXPECT_EQ(newest["bytes"], diff.size());
    EXPECT_EQ(newest["setup"]["width"], 425);
    EXPECT_EQ(newest["setup"]["media"], "M2");
    EXPECT_EQ(FetchLabels(server.HttpPort(), state["jobs"][1]), firstAlone);
    EXPECT_EQ(FetchLabels(server.HttpPort(), newest), diffAfterFirst);

    // A power cycle empties the memory once: the same job then prints as on a new printer.
    HttpClient client("127.0.0.1", server.HttpPort());
    const auto cycled = client.Post("/api/power-cycle", "{}", "application/json");
    ASSERT_TRUE(cycled && cycled->status == 200);
    SendRaw(server.RawPort(), diff);
    state = WaitForFinishedJobs(server.HttpPort(), 3);
    EXPECT_TRUE(state["jobs"][0]["freshPrinter"].get<bool>());
    EXPECT_EQ(FetchLabels(server.HttpPort(), state["jobs"][0]), diffAlone);
    // ... and the job after it on what that one left.
    const auto posted = client.Post("/api/jobs", diff, "application/octet-stream");
    ASSERT_TRUE(posted && posted->status == 201);
    const auto record = nlohmann::json::parse(posted->body);
    EXPECT_FALSE(record["freshPrinter"].get<bool>());
    EXPECT_EQ(FetchLabels(server.HttpPort(), record), Tail(RenderAlone(diff + diff), 2));
    server.Stop();
    std::filesystem::remove_all(options.out);
  }
  {
    auto options = TestOptions("fresh");
    options.freshEachJob = true;
    serve::VirtualPrinterServer server(options);
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    SendRaw(server.RawPort(), first);
    WaitForFinishedJobs(server.HttpPort(), 1);
    SendRaw(server.RawPort(), diff);
    const auto state = WaitForFinishedJobs(server.HttpPort(), 2);
    EXPECT_EQ(FetchLabels(server.HttpPort(), state["jobs"][0]), diffAlone);
    EXPECT_TRUE(state["jobs"][0]["freshPrinter"].get<bool>());
    server.Stop();
    std::filesystem::remove_all(options.out);
  }
}

TEST(VirtualPrinter, ReportsDamagedJobsAndPrintsTheNextOneNormally) {
  auto options = TestOptions("faults");
  options.maxJobBytes = 8192;
  options.maxStoredJobs = 7;
  serve::VirtualPrinterServer server(options);
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  const int http = server.HttpPort();

  const std::string good = FirstJob();
  ASSERT_LT(good.size(), options.maxJobBytes);
  const Pictures goodLabels = RenderAlone(good);

  const std::string cut = good.substr(0, good.size() - 20);
  const std::string lyingPrefix = StreamBuilder().Setup(425, 150).Raw("^XA").Text();
  const std::string lying = StreamBuilder()
                                .Setup(425, 150)
                                .Raw("^XA")
                                .Download(WithAnnouncedSize(PluginPng(Solid(8, 8, {1, 2, 3})), 8, 9))
                                .Recall(0, 0)
                                .Raw("^XZ")
                                .Text();
  // Announces a page far larger than any label: refused before a pixel buffer is made.
  const std::string huge = StreamBuilder()
                               .Setup(425, 150)
                               .Raw("^XA")
                               .Download(WithAnnouncedSize(PluginPng(Solid(8, 8, {1, 2, 3})), 60000, 60000))
                               .Recall(0, 0)
                               .Raw("^XZ")
                               .Text();
  RgbImage noise = Solid(120, 120, {0, 0, 0});
  std::mt19937 random(3);
  for (uint8_t& byte : noise.rgb) byte = static_cast<uint8_t>(random());
  const std::string oversized = StreamBuilder().Setup(425, 150).Raw("^XA").Band(noise, 0, 0).Raw("^XZ").Text();
  ASSERT_GT(oversized.size(), options.maxJobBytes);

  struct Case {
    std::function<void()> send;
    std::string fault;
    std::optional<size_t> offset;
  };
  const std::vector<Case> cases = {
      {[&] { SendRaw(server.RawPort(), cut, 50); }, "stream ends", CheckStream(cut).error->offset},
      {[&] { SendRaw(server.RawPort(), lying); }, "image \"DIFF\"", lyingPrefix.size()},
      {[&] { SendRaw(server.RawPort(), huge); }, "image \"DIFF\"", lyingPrefix.size()},
      {[&] { SendRaw(server.RawPort(), oversized, 1000); }, "larger than the limit", std::nullopt},
      {[&] {
         const int fd = socket(AF_INET, SOCK_STREAM, 0);  // connects and says nothing
         sockaddr_in address{};
         address.sin_family = AF_INET;
         address.sin_port = htons(static_cast<uint16_t>(server.RawPort()));
         address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
         ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
         std::this_thread::sleep_for(options.readTimeout * 3);
         close(fd);
       },
       "sent nothing", std::nullopt},
  };
  size_t jobs = 0;
  for (const Case& c : cases) {
    c.send();
    auto state = WaitForFinishedJobs(http, ++jobs);
    const auto& faulty = state["jobs"][0];
    EXPECT_TRUE(HasFault(faulty, c.fault, c.offset)) << faulty.dump();
    // The next job prints normally.
    SendRaw(server.RawPort(), good);
    state = WaitForFinishedJobs(http, ++jobs);
    EXPECT_EQ(state["jobs"][0]["faults"].size(), 0u) << state["jobs"][0].dump();
    EXPECT_EQ(FetchLabels(http, state["jobs"][0]), goodLabels) << "after: " << c.fault;
  }

  // Only the newest jobs stay, and the store writes nothing but its own
  // numbered folders and files (image names never become paths).
  const auto state = WaitForFinishedJobs(http, jobs);
  ASSERT_EQ(state["jobs"].size(), options.maxStoredJobs);
  EXPECT_EQ(state["jobs"].back()["id"], jobs - options.maxStoredJobs + 1);
  const std::regex allowed(R"(job-\d{6}(/(stream\.prn|summary\.txt|summary\.json|label-\d{3}\.png))?)");
  size_t folders = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(options.out)) {
    const std::string relative = std::filesystem::relative(entry.path(), options.out).generic_string();
    EXPECT_TRUE(std::regex_match(relative, allowed)) << relative;
    folders += entry.is_directory() ? 1 : 0;
  }
  EXPECT_EQ(folders, options.maxStoredJobs);
  server.Stop();
  std::filesystem::remove_all(options.out);
}

TEST(VirtualPrinter, LetsAConnectionBeyondItsLimitWaitItsTurn) {
  auto options = TestOptions("limit");
  options.maxConnections = 1;
  options.readTimeout = std::chrono::milliseconds(800);
  serve::VirtualPrinterServer server(options);
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  const int silent = Connect(server.RawPort());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // taken by the only worker by now
  SendRaw(server.RawPort(), FirstJob());                        // sent into the queue and closed before it is read
  const auto state = WaitForFinishedJobs(server.HttpPort(), 2);
  close(silent);
  ASSERT_EQ(state["jobs"].size(), 2u);
  EXPECT_TRUE(HasFault(state["jobs"][1], "sent nothing", std::nullopt));
  EXPECT_EQ(state["jobs"][0]["faults"].size(), 0u) << state["jobs"][0].dump();
  EXPECT_EQ(FetchLabels(server.HttpPort(), state["jobs"][0]), RenderAlone(FirstJob()));
  server.Stop();
  std::filesystem::remove_all(options.out);
}

// The last label the checker draws from `stream` (a tall job's labels are
// too large to keep them all).
RgbImage LastLabel(const std::string& stream) {
  RgbImage last;
  const LabelSink sink = [&](const PrintedLabel& label) {
    last = label.picture;
    return true;
  };
  CheckStream(stream, &sink);
  return last;
}

RgbImage FetchPicture(int httpPort, const std::string& url) {
  HttpClient client("127.0.0.1", httpPort);
  client.SetReadTimeout(std::chrono::seconds(60));
  RgbImage image;
  const auto response = client.Get(url);
  if (!response || response->status != 200) {
    ADD_FAILURE() << "cannot fetch " << url << ": " << (response ? response->body : response.error);
    return image;
  }
  const std::string problem =
      DecodePng(reinterpret_cast<const uint8_t*>(response->body.data()), response->body.size(), PngLimits{}, image);
  EXPECT_EQ(problem, "");
  return image;
}

nlohmann::json PicturesDone(int httpPort, uint64_t id) {
  return testing::WaitForJobs(httpPort, [id](const nlohmann::json& state) {
    return !state["jobs"].empty() && state["jobs"][0]["id"] == id && state["jobs"][0]["picturesDone"].get<bool>();
  });
}

TEST(VirtualPrinter, DrawsPicturesBehindThePrinterAndSharesThoseOfIdenticalLabels) {
  auto options = TestOptions("pictures");
  options.maxJobStoredBytes = 4 * serve::kMiB;  // two of the noisy labels below
  serve::VirtualPrinterServer server(options);
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  const int http = server.HttpPort();

  // 200 identical tall labels from 2.9 KB: one picture, linked under every name.
  std::string tall = StreamBuilder().Setup(1587, 14400).Text();
  for (int i = 0; i < 200; ++i) tall += "^XA^C(L^C(S^XZ";
  SendRaw(server.RawPort(), tall);
  auto state = PicturesDone(http, 1);
  const auto& copies = state["jobs"][0];
  ASSERT_EQ(copies["labels"].size(), 200u);
  EXPECT_EQ(copies["faults"].size(), 0u) << copies["faults"].dump();
  for (size_t i = 0; i < 200; ++i) ASSERT_EQ(copies["labels"][i]["sameAs"], i == 0 ? 0 : 1) << i;
  const auto folder = options.out / "job-000001";
  EXPECT_TRUE(std::filesystem::equivalent(folder / "label-001.png", folder / "label-200.png"));
  EXPECT_EQ(state["storedBytes"], FolderBytes(options.out));
  const RgbImage shared = FetchPicture(http, copies["labels"][199]["url"]);
  EXPECT_EQ(shared.width, 1587);
  EXPECT_EQ(shared.height, 14400);
  EXPECT_TRUE(shared.rgb == RgbImage::White(1587, 14400).rgb);

  // Tall labels that differ: the job's record is finished long before their
  // pictures are, and a picture asked for then is waited for and right.
  StreamBuilder distinct;
  distinct.Setup(1587, 14400);
  for (uint8_t i = 0; i < 8; ++i) distinct.Raw("^XA^C(L").Band(Solid(3, 3, {i, 0, 0}), 40 * i, 9000).Raw("^C(S^XZ");
  SendRaw(server.RawPort(), distinct.Text());
  state = WaitForFinishedJobs(http, 2);
  const auto& job = state["jobs"][0];
  ASSERT_EQ(job["labels"].size(), 8u);
  EXPECT_FALSE(job["picturesDone"].get<bool>()) << "the pictures were written before they were asked for";
  const RgbImage last = FetchPicture(http, job["labels"][7]["url"]);
  EXPECT_TRUE(last.rgb == LastLabel(distinct.Text()).rgb);

  // A job whose pictures come to more than its byte bound: printed whole, the
  // pictures past the bound not stored, and the store counts what it holds.
  PicturesDone(http, 2);
  std::mt19937 random(7);
  RgbImage noise = Solid(1587, 300, {0, 0, 0});
  StreamBuilder heavy;
  heavy.Setup(1587, 300);
  for (int i = 0; i < 4; ++i) {
    for (uint8_t& byte : noise.rgb) byte = static_cast<uint8_t>(random());
    heavy.Raw("^XA^C(L").Band(noise, 0, 0).Raw("^C(S^XZ");
  }
  SendRaw(server.RawPort(), heavy.Text());
  state = PicturesDone(http, 3);
  const auto& cut = state["jobs"][0];
  ASSERT_EQ(cut["labels"].size(), 4u);
  EXPECT_NE(cut["labels"][1]["url"], "");
  EXPECT_EQ(cut["labels"][2]["url"], "");
  EXPECT_EQ(cut["labels"][3]["url"], "");
  EXPECT_TRUE(HasFault(cut, "pictures take more than", cut["labels"][2]["offset"].get<size_t>())) << cut.dump();
  EXPECT_FALSE(std::filesystem::exists(options.out / "job-000003" / "label-003.png"));
  const auto record = nlohmann::json::parse(std::ifstream(options.out / "job-000003" / "summary.json"));
  EXPECT_TRUE(record["picturesDone"].get<bool>());
  EXPECT_EQ(state["storedBytes"], FolderBytes(options.out));
  server.Stop();
  std::filesystem::remove_all(options.out);
}

TEST(VirtualPrinter, RefusesBadOptionsAndBusyPorts) {
  serve::ServeOptions parsed;
  std::string error;
  EXPECT_TRUE(serve::ParseServeOptions({"--port", "0", "--http", "8000", "--fresh-each-job", "--read-timeout-ms", "50"},
                                       parsed, error));
  EXPECT_TRUE(parsed.freshEachJob);
  EXPECT_EQ(parsed.readTimeout.count(), 50);
  EXPECT_FALSE(serve::ParseServeOptions({"--port", "70000"}, parsed, error));
  EXPECT_FALSE(serve::ParseServeOptions({"--max-job-mb", "0"}, parsed, error));
  EXPECT_FALSE(serve::ParseServeOptions({"--out"}, parsed, error));
  EXPECT_FALSE(serve::ParseServeOptions({"--bogus", "1"}, parsed, error));
  EXPECT_TRUE(serve::ParseServeOptions({"--job-deadline-s", "7"}, parsed, error));
  EXPECT_EQ(parsed.jobDeadline.count(), 7);
  EXPECT_FALSE(serve::ParseServeOptions({"--job-deadline-s", "0"}, parsed, error));
  std::ostringstream out, err;
  EXPECT_EQ(serve::RunServe({"--help"}, out, err), 0);
  EXPECT_EQ(err.str(), "");
  // Every option is taken and named in the help.
  const std::vector<std::vector<std::string>> every = {{"--out", "x"},
                                                       {"--port", "1"},
                                                       {"--http", "1"},
                                                       {"--listen", "::1"},
                                                       {"--fresh-each-job"},
                                                       {"--max-job-mb", "1"},
                                                       {"--max-stored-mb", "1"},
                                                       {"--max-jobs", "1"},
                                                       {"--max-connections", "4096"},
                                                       {"--spool-memory-mb", "1"},
                                                       {"--printer-memory-mb", "1"},
                                                       {"--read-timeout-ms", "1"},
                                                       {"--job-deadline-s", "1"},
                                                       {"--forward", "lpd://printer.example:5515/labels"},
                                                       {"--forward-timeout-s", "3"},
                                                       {"--no-password"}};
  const std::string listed = out.str().substr(out.str().find("\n  --"));  // the lines that explain them
  for (const auto& words : every) {
    EXPECT_TRUE(serve::ParseServeOptions(words, parsed, error)) << words[0] << ": " << error;
    EXPECT_NE(listed.find(words[0] + " "), std::string::npos) << words[0];
  }
  EXPECT_EQ(parsed.spoolMemoryBytes, serve::kMiB);
  EXPECT_EQ(parsed.forward, "lpd://printer.example:5515/labels");
  for (const std::string& bad : {"ftp://host", "lpd://host", "lpd://host/", "socket://", "socket://host:0",
                                 "socket://host:x", "socket://[::1", "printer:queue"}) {
    EXPECT_FALSE(serve::ParseServeOptions({"--forward", bad}, parsed, error)) << bad;
    EXPECT_NE(error.find("--forward"), std::string::npos) << error;
  }
  EXPECT_TRUE(serve::ParseServeOptions({"--forward", "socket://[::1]:9101"}, parsed, error)) << error;
  EXPECT_FALSE(serve::ParseServeOptions({"--password-file", "/nonexistent/password"}, parsed, error));
  EXPECT_EQ(serve::UrlHost("::1"), "[::1]");
  EXPECT_EQ(serve::UrlHost("127.0.0.1"), "127.0.0.1");

  const auto options = TestOptions("busy");
  serve::VirtualPrinterServer first(options);
  ASSERT_TRUE(first.Start(error)) << error;
  auto clash = options;
  clash.rawPort = first.RawPort();
  serve::VirtualPrinterServer second(clash);
  EXPECT_FALSE(second.Start(error));
  EXPECT_NE(error.find("cannot listen"), std::string::npos) << error;
  first.Stop();
  std::filesystem::remove_all(options.out);
}

TEST(VirtualPrinter, AsksForItsPasswordBeyondLoopbackButKeepsItsPrintingPortsOpen) {
  auto options = TestOptions("password");
  options.listen = "0.0.0.0";
  std::string error;
  {
    serve::VirtualPrinterServer refused(options);
    EXPECT_FALSE(refused.Start(error));
    EXPECT_NE(error.find("--password-file"), std::string::npos) << error;
  }
  const std::filesystem::path file = options.out.string() + "-password";
  std::ofstream(file) << "s3cret label printer\n";
  serve::ServeOptions parsed;
  ASSERT_TRUE(serve::ParseServeOptions({"--password-file", file.string()}, parsed, error)) << error;
  std::filesystem::remove(file);
  options.password = parsed.password;
  serve::VirtualPrinterServer server(options);
  ASSERT_TRUE(server.Start(error)) << error;
  testing::HttpClient client("127.0.0.1", server.HttpPort());
  // "user:s3cret label printer", "user:s3cret label printeR", "user:s3cret"
  const std::vector<std::pair<std::string, int>> tries = {
      {"", 401},
      {"Basic dXNlcjpzM2NyZXQgbGFiZWwgcHJpbnRlcg==", 200},
      {"basic dXNlcjpzM2NyZXQgbGFiZWwgcHJpbnRlcg==", 200},
      {"Basic dXNlcjpzM2NyZXQgbGFiZWwgcHJpbnRlUg==", 401},
      {"Basic dXNlcjpzM2NyZXQ=", 401},
      {"Basic !!!", 401},
      {"Bearer s3cret label printer", 401},
  };
  for (const auto& [authorization, status] : tries) {
    for (const std::string path : {"/", "/api/jobs"}) {
      const auto answer =
          authorization.empty() ? client.Get(path) : client.Get(path, {{"Authorization", authorization}});
      ASSERT_TRUE(answer) << answer.error;
      EXPECT_EQ(answer->status, status) << authorization << " " << path;
      if (status == 401) EXPECT_NE(answer->Header("WWW-Authenticate").find("Basic"), std::string::npos);
    }
  }
  const auto cycle = client.Post("/api/power-cycle", "{}", "application/json");
  ASSERT_TRUE(cycle);
  EXPECT_EQ(cycle->status, 401);
  // A printer's port asks nobody: the job is printed.
  SendRaw(server.RawPort(), FirstJob());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  nlohmann::json state;
  while (std::chrono::steady_clock::now() < deadline) {
    const auto jobs = client.Get("/api/jobs", {{"Authorization", tries[1].first}});
    state = jobs && jobs->status == 200 ? nlohmann::json::parse(jobs->body) : nlohmann::json();
    if (state.is_object() && state["jobs"].size() == 1 && state["jobs"][0]["finished"].get<bool>()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_EQ(state["jobs"].size(), 1u);
  EXPECT_EQ(state["jobs"][0]["labels"].size(), 1u);
  server.Stop();
  std::filesystem::remove_all(options.out);
}

}  // namespace
}  // namespace streamcheck
