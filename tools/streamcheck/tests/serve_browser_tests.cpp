// The virtual printer's page in a real browser: headless Chromium, driven over
// its DevTools pipe, shows the labels of a job that arrives while it is open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>

#include "serve_support.h"
#include "stream_builder.h"

namespace streamcheck {
namespace {

using testing::PluginPng;
using testing::SendRaw;
using testing::Solid;
using testing::StreamBuilder;
using testing::TestOptions;
using testing::WaitForFinishedJobs;
using namespace std::chrono_literals;

constexpr const char* kChromium = "/usr/bin/chromium";

// Chromium with --remote-debugging-pipe: commands go in on its fd 3, answers
// and events come out on its fd 4, each message ended by a NUL byte.
class Browser {
 public:
  explicit Browser(const std::filesystem::path& profile) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    const std::string dataDir = "--user-data-dir=" + profile.string();  // no allocation after fork
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 3);  // dup2 clears close-on-exec on the copies
      dup2(out[1], 4);
      const int null = open("/dev/null", O_RDWR);
      dup2(null, 1);
      dup2(null, 2);
      execl(kChromium, kChromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--remote-debugging-pipe", "--window-size=1100,820", "--hide-scrollbars", dataDir.c_str(), "about:blank",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    toBrowser_ = in[1];
    fromBrowser_ = out[0];
  }

  ~Browser() { Close(); }

  void Close() {
    if (pid_ > 0) {
      Call("Browser.close", {});
      close(toBrowser_);
      close(fromBrowser_);
      for (int i = 0; i < 50 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) std::this_thread::sleep_for(100ms);
      if (waitpid(pid_, nullptr, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
      }
      pid_ = -1;
    }
  }

  // Sends a command (to the attached page when `session` is set) and returns
  // its result; null when the browser fails or does not answer in time.
  nlohmann::json Call(const std::string& method, const nlohmann::json& params, const std::string& session = "") {
    nlohmann::json message{{"id", ++lastId_}, {"method", method}, {"params", params}};
    if (!session.empty()) message["sessionId"] = session;
    const std::string text = message.dump() + '\0';
    if (write(toBrowser_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return nullptr;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < deadline) {
      const size_t end = buffer_.find('\0');
      if (end == std::string::npos) {
        pollfd ready{fromBrowser_, POLLIN, 0};
        if (poll(&ready, 1, 1000) <= 0) continue;
        char chunk[65536];
        const ssize_t n = read(fromBrowser_, chunk, sizeof chunk);
        if (n <= 0) return nullptr;
        buffer_.append(chunk, static_cast<size_t>(n));
        continue;
      }
      const auto answer = nlohmann::json::parse(buffer_.substr(0, end), nullptr, false);
      buffer_.erase(0, end + 1);
      if (answer.is_object() && answer.value("id", 0) == lastId_) {
        return answer.contains("result") ? answer["result"] : nlohmann::json(nullptr);
      }
    }
    return nullptr;
  }

  bool Started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int toBrowser_ = -1;
  int fromBrowser_ = -1;
  int lastId_ = 0;
  std::string buffer_;
};

std::string Base64Decode(const std::string& text) {
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    int value;
    if (c >= 'A' && c <= 'Z')
      value = c - 'A';
    else if (c >= 'a' && c <= 'z')
      value = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      value = c - '0' + 52;
    else if (c == '+')
      value = 62;
    else if (c == '/')
      value = 63;
    else
      continue;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

// A label that looks like one: a frame, a title bar and a few fields.
std::string LabelJob() {
  return StreamBuilder()
      .Setup(600, 360)
      .Raw("^XA^C(L")
      .Band(Solid(600, 360, {250, 250, 245}), 0, 0)
      .Band(Solid(600, 70, {30, 64, 175}), 0, 0)
      .Band(Solid(260, 200, {234, 179, 8}), 20, 100)
      .Band(Solid(280, 40, {17, 24, 39}), 300, 110)
      .Band(Solid(280, 40, {17, 24, 39}), 300, 170)
      .Raw("^C(S^XZ^XA^C(L")
      .Band(Solid(260, 200, {220, 38, 38}), 20, 100)
      .Raw("^C(S^XZ")
      .Text();
}

TEST(VirtualPrinterPage, ShowsTheLabelsOfAJobThatArrivesWhileItIsOpen) {
  if (access(kChromium, X_OK) != 0) GTEST_SKIP() << kChromium << " is not installed";
  auto options = TestOptions("browser");
  serve::VirtualPrinterServer server(options);
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  const std::string job = LabelJob();
  SendRaw(server.RawPort(), job.substr(0, job.size() / 2));  // an earlier job, cut short: a fault to show
  WaitForFinishedJobs(server.HttpPort(), 1);

  const std::filesystem::path profile = options.out.string() + "-profile";
  Browser browser(profile);
  ASSERT_TRUE(browser.Started());
  const std::string url = "http://127.0.0.1:" + std::to_string(server.HttpPort()) + "/";
  const auto target = browser.Call("Target.createTarget", {{"url", url}});
  ASSERT_TRUE(target.is_object() && target.contains("targetId")) << target.dump();
  const auto attached = browser.Call("Target.attachToTarget", {{"targetId", target["targetId"]}, {"flatten", true}});
  ASSERT_TRUE(attached.is_object() && attached.contains("sessionId")) << attached.dump();
  const std::string session = attached["sessionId"];
  auto evaluate = [&](const std::string& expression) {
    const auto result =
        browser.Call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}}, session);
    return result.is_object() && result.contains("result") ? result["result"].value("value", nlohmann::json())
                                                           : nlohmann::json();
  };
  auto waitUntil = [&](const std::string& expression) {
    for (auto deadline = std::chrono::steady_clock::now() + 60s; std::chrono::steady_clock::now() < deadline;) {
      if (evaluate(expression) == true) return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  };

  // The page shows the earlier job, then waits for news.
  ASSERT_TRUE(waitUntil("document.querySelectorAll('section.job').length === 1"));
  for (auto deadline = std::chrono::steady_clock::now() + 30s;
       server.Web().Waiting() == 0 && std::chrono::steady_clock::now() < deadline;) {
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_GT(server.Web().Waiting(), 0);
  evaluate("window.notReloaded = true");

  SendRaw(server.RawPort(), job, 512, 5);
  const auto state = WaitForFinishedJobs(server.HttpPort(), 2);
  const auto& record = state["jobs"][0];
  ASSERT_EQ(record["labels"].size(), 2u);

  ASSERT_TRUE(
      waitUntil("[...document.querySelectorAll('section.job[data-job=\"2\"] img.label')]"
                ".filter(i => i.complete && i.naturalWidth > 0).length === 2"))
      << evaluate("document.body.innerHTML").dump();
  const auto seen = evaluate(
      "({ notReloaded: window.notReloaded === true,"
      "   order: [...document.querySelectorAll('section.job')].map(s => s.dataset.job),"
      "   pictures: [...document.querySelectorAll('section.job[data-job=\"2\"] img.label')]"
      "     .map(i => ({ src: i.getAttribute('src'), width: i.naturalWidth, height: i.naturalHeight,"
      "                  link: i.parentElement.getAttribute('href') })),"
      "   faults: [...document.querySelectorAll('section.job[data-job=\"1\"] .faults li')].map(l => l.textContent),"
      "   setup: document.querySelector('section.job[data-job=\"2\"] .setup').textContent })");
  EXPECT_TRUE(seen["notReloaded"].get<bool>());
  EXPECT_EQ(seen["order"], nlohmann::json({"2", "1"}));  // newest first
  ASSERT_EQ(seen["pictures"].size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(seen["pictures"][i]["src"], record["labels"][i]["url"]);
    EXPECT_EQ(seen["pictures"][i]["link"], record["labels"][i]["url"]);  // full size on click
    EXPECT_EQ(seen["pictures"][i]["width"], 600);
    EXPECT_EQ(seen["pictures"][i]["height"], 360);
  }
  ASSERT_EQ(seen["faults"].size(), 1u);
  EXPECT_NE(seen["faults"][0].get<std::string>().find(
                "offset " + std::to_string(CheckStream(job.substr(0, job.size() / 2)).error->offset)),
            std::string::npos)
      << seen["faults"];
  EXPECT_NE(seen["setup"].get<std::string>().find("600 × 360 dots"), std::string::npos) << seen["setup"];

  // STREAMCHECK_SCREENSHOT=FILE keeps a picture of the page (docs/virtual-printer.png).
  if (const char* keep = std::getenv("STREAMCHECK_SCREENSHOT")) {
    const auto shot = browser.Call("Page.captureScreenshot", {{"format", "png"}}, session);
    ASSERT_TRUE(shot.is_object() && shot.contains("data"));
    std::ofstream(keep, std::ios::binary) << Base64Decode(shot["data"].get<std::string>());
  }
  browser.Close();
  server.Stop();
  std::filesystem::remove_all(options.out);
  std::filesystem::remove_all(profile);
}

}  // namespace
}  // namespace streamcheck
