// The virtual printer's LPD port, as clients use and abuse it: one table of
// conversations against a live server on loopback, each with what the
// server must answer and record, then a normal job beside many idle
// connections.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "serve_support.h"
#include "stream_builder.h"

namespace streamcheck {
namespace {

using testing::Connect;
using testing::FetchLabels;
using testing::HasFault;
using testing::HttpClient;
using testing::RenderAlone;
using testing::Solid;
using testing::StreamBuilder;
using testing::TestOptions;
using testing::WaitForFinishedJobs;
using testing::WaitForJobs;

std::string Job() {
  return StreamBuilder().Setup(425, 150).Raw("^XA^C(L").Band(Solid(425, 75, {200, 10, 10}), 0, 0).Raw("^C(S^XZ").Text();
}

// RFC 1179 pieces: "receive a printer job", its control and data files.
std::string Receive(const std::string& queue) { return "\2" + queue + "\n"; }
std::string File(char code, const std::string& body, const std::string& name) {
  return std::string(1, code) + std::to_string(body.size()) + " " + name + "\n" + body + std::string(1, '\0');
}
std::string Control(const std::string& body) { return File('\2', body, "cfA001host"); }
std::string DataFile(const std::string& body) { return File('\3', body, "dfA001host"); }

// Sends `bytes` at once (a client need not wait for each answer), closes its
// side unless `keepOpen`, and reads what the server answers until it closes
// the connection (at most a few seconds).
std::string Converse(int port, const std::string& bytes, bool keepOpen = false) {
  const int fd = Connect(port);
  timeval patience{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  if (!keepOpen) shutdown(fd, SHUT_WR);
  std::string answer;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<size_t>(got));
  close(fd);
  return answer;
}

std::string Stored(int httpPort, uint64_t id) {
  HttpClient client("127.0.0.1", httpPort);
  const auto response = client.Get("/jobs/" + std::to_string(id) + "/stream.prn");
  if (response && response->status == 404) return "";  // a job that sent no stream stores none
  return response && response->status == 200 ? response->body : std::string("(no answer)");
}

TEST(VirtualPrinterLpd, AnswersEveryConversationAndRecordsWhatCameOfIt) {
  const std::string job = Job();
  const std::string names = "Hhost\nPalice\nJshipping labels\nldfA001host\n";
  struct Case {
    std::string what;
    std::string sent;
    bool keepOpen;
    std::optional<std::string> answer;  // none: not judged (the server may reset unread input)
    bool recorded;                      // a job is recorded for it
    std::string fault;                  // in its record; empty: none at all
    std::string stream;                 // what the record stores
  };
  const std::string zero(1, '\0');
  const std::vector<Case> cases = {
      {"control file first", Receive("labels") + Control(names) + DataFile(job), false,
       zero + zero + zero + zero + zero, true, "", job},
      {"data file first", Receive("labels") + DataFile(job) + Control(names), false, zero + zero + zero + zero + zero,
       true, "", job},
      {"a count larger than the bytes sent", Receive("q") + "\3" + "5000 dfA\n" + job.substr(0, 100), false,
       zero + zero, true, "bytes short of the data file of 5000", job.substr(0, 100)},
      {"a count smaller than the bytes sent", Receive("q") + "\3" + "10 dfA\n" + job, false, std::nullopt, true,
       "does not match what was sent", job.substr(0, 10)},
      {"a control file of megabytes", Receive("q") + "\2" + "5000000 cfA\n" + std::string(5000, 'P'), false,
       std::nullopt, true, "refused a control file of 5000000 bytes", ""},
      {"a data file past the job size limit", Receive("q") + "\3" + "999999999999 dfA\n", false, zero + "\1", true,
       "past the job size limit", ""},
      {"a data file announced and never sent", Receive("q") + Control(names) + "\3" + "800 dfA\n", true,
       zero + zero + zero + zero, true, "sent nothing", ""},
      {"a client that stops mid-file", Receive("q") + Control(names) + "\3" + "800 dfA\n" + job.substr(0, 7), false,
       zero + zero + zero + zero, true, "793 bytes short", job.substr(0, 7)},
      {"control characters and path separators in the names",
       Receive("q") + Control("J../../etc/\x1b[2Jpasswd\nP\x7froot\n") + DataFile(job), false,
       zero + zero + zero + zero + zero, true, "control characters or path separators", job},
      {"a job with no control file", Receive("q") + DataFile(job), false, zero + zero + zero, true,
       "without a control file", job},
      {"an aborted job", Receive("q") + DataFile(job) + "\1\n", false, zero + zero + zero + zero, true,
       "the client aborted the job", job},
      {"an unknown subcommand", Receive("q") + "\7" + "1 x\n", false, zero + "\1", true,
       "refused an unknown subcommand", ""},
      {"a count that is not a number", Receive("q") + "\3" + "12x dfA\n", false, zero + "\1", true,
       "refused an unknown subcommand", ""},
      {"an endless command line", Receive("q") + std::string(3000, 'A'), false, std::nullopt, true,
       "a command line longer than", ""},
      {"an unknown daemon command", "\x09q\n", false, "\1", false, "", ""},
      {"queue state", "\3labels\n", false, "labels: ready; jobs print as soon as they have arrived, none is waiting\n",
       false, "", ""},
      {"remove jobs", "\5labels alice 12\n", false, "labels: no jobs waiting, nothing removed\n", false, "", ""},
      {"print waiting jobs", "\1labels\n", false, "", false, "", ""},
  };

  auto options = TestOptions("lpd");
  options.lpdPort = 0;
  serve::VirtualPrinterServer server(options);
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  const int http = server.HttpPort();
  uint64_t jobs = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string answer = Converse(server.LpdPort(), c.sent, c.keepOpen);
    if (c.answer) EXPECT_EQ(answer, *c.answer);
    if (!c.recorded) continue;
    const auto state = WaitForFinishedJobs(http, ++jobs);
    ASSERT_FALSE(state["jobs"].empty());
    const auto& record = state["jobs"][0];
    EXPECT_EQ(record["id"], jobs);
    EXPECT_EQ(record["via"], "lpd");
    if (c.fault.empty()) {
      EXPECT_EQ(record["faults"].size(), 0u) << record.dump();
      EXPECT_EQ(record["title"], "shipping labels");
      EXPECT_EQ(record["user"], "alice@host");
    } else {
      EXPECT_TRUE(HasFault(record, c.fault, std::nullopt)) << record.dump();
    }
    EXPECT_TRUE(Stored(http, jobs) == c.stream) << "stored " << Stored(http, jobs).size() << " bytes";
  }
  const auto named = WaitForFinishedJobs(http, 9)["jobs"];
  for (const auto& record : named) {
    if (record["id"] == 9) EXPECT_EQ(record["title"], ".._.._etc__[2Jpasswd") << record.dump();
  }

  // Many connections at once hold nothing: a normal job beside them prints.
  std::vector<int> idle;
  for (int i = 0; i < 40; ++i) {
    idle.push_back(Connect(server.LpdPort()));
    send(idle.back(), "\2q\n", 3, MSG_NOSIGNAL);
  }
  EXPECT_EQ(Converse(server.LpdPort(), Receive("labels") + Control(names) + DataFile(job)), std::string(5, '\0'));
  const auto state = WaitForJobs(http, [&](const nlohmann::json& s) {
    for (const auto& record : s["jobs"]) {
      if (record["finished"] && record["title"] == "shipping labels" && record["id"].get<uint64_t>() > jobs)
        return true;
    }
    return false;
  });
  for (const auto& record : state["jobs"]) {
    if (record["title"] != "shipping labels" || record["id"].get<uint64_t>() <= jobs) continue;
    EXPECT_EQ(record["faults"].size(), 0u) << record.dump();
    EXPECT_EQ(FetchLabels(http, record), RenderAlone(job));
  }
  for (const int fd : idle) close(fd);
  server.Stop();
  std::filesystem::remove_all(options.out);
}

}  // namespace
}  // namespace streamcheck
