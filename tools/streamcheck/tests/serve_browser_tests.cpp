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
using testing::WaitForJobs;
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

// A page opened in the browser, and questions asked of it.
class OpenPage {
 public:
  OpenPage(Browser& browser, const std::string& url) : browser_(browser) {
    const auto target = browser.Call("Target.createTarget", {{"url", url}});
    if (!target.is_object() || !target.contains("targetId")) return;
    const auto attached = browser.Call("Target.attachToTarget", {{"targetId", target["targetId"]}, {"flatten", true}});
    if (attached.is_object() && attached.contains("sessionId")) session_ = attached["sessionId"];
  }
  bool Open() const { return !session_.empty(); }
  nlohmann::json Evaluate(const std::string& expression) {
    const auto result =
        browser_.Call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}}, session_);
    return result.is_object() && result.contains("result") ? result["result"].value("value", nlohmann::json())
                                                           : nlohmann::json();
  }
  bool WaitUntil(const std::string& expression) {
    for (auto deadline = std::chrono::steady_clock::now() + 60s; std::chrono::steady_clock::now() < deadline;) {
      if (Evaluate(expression) == true) return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }
  const std::string& Session() const { return session_; }

 private:
  Browser& browser_;
  std::string session_;
};

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
                ".filter(i => i.complete && i.naturalWidth > 0).length === 2 &&"
                "!document.querySelector('section.job[data-job=\"2\"] .receiving')"))
      << evaluate("document.body.innerHTML").dump();
  const auto seen = evaluate(
      "({ notReloaded: window.notReloaded === true,"
      "   order: [...document.querySelectorAll('section.job')].map(s => s.dataset.job),"
      "   pictures: [...document.querySelectorAll('section.job[data-job=\"2\"] img.label')]"
      "     .map(i => ({ src: i.getAttribute('src'), width: i.naturalWidth, height: i.naturalHeight })),"
      "   faults: [...document.querySelectorAll('section.job[data-job=\"1\"] .faults li')].map(l => l.textContent),"
      "   setup: document.querySelector('section.job[data-job=\"2\"] .setup').textContent })");
  EXPECT_TRUE(seen["notReloaded"].get<bool>());
  EXPECT_EQ(seen["order"], nlohmann::json({"2", "1"}));  // newest first
  ASSERT_EQ(seen["pictures"].size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(seen["pictures"][i]["src"], record["labels"][i]["url"]);
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
  browser.Close();
  server.Stop();
  std::filesystem::remove_all(options.out);
  std::filesystem::remove_all(profile);
}

TEST(VirtualPrinterPage, ShowsThePrinterMemoryTheSentAreasAndATallLabelToScale) {
  if (access(kChromium, X_OK) != 0) GTEST_SKIP() << kChromium << " is not installed";
  auto options = TestOptions("browser-memory");
  serve::VirtualPrinterServer server(options);
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  const std::string tall = StreamBuilder()
                               .Setup(1587, 14400)
                               .Raw("^XA^C(L")
                               .Band(Solid(1587, 600, {30, 64, 175}), 0, 0)
                               .Band(Solid(800, 3000, {234, 179, 8}), 400, 9000)
                               .Raw("^C(S^XZ")
                               .Text();
  SendRaw(server.RawPort(), tall);
  WaitForFinishedJobs(server.HttpPort(), 1);
  const std::string label = StreamBuilder()
                                .Setup(600, 360)
                                .Raw("^XA^C(L")
                                .Download(PluginPng(Solid(40, 40, {22, 163, 74})), "LOGO")
                                .Band(Solid(600, 360, {250, 250, 245}), 0, 0)
                                .Band(Solid(600, 70, {30, 64, 175}), 0, 0)
                                .Recall(540, 300, "LOGO")
                                .Band(Solid(280, 40, {17, 24, 39}), 300, 110)
                                .Raw("^C(S^XZ")
                                .Text();
  SendRaw(server.RawPort(), label);
  const auto state = WaitForFinishedJobs(server.HttpPort(), 2);
  ASSERT_EQ(state["jobs"][0]["labels"].size(), 1u) << state["jobs"][0].dump();
  const auto& areas = state["jobs"][0]["labels"][0]["areas"];
  ASSERT_EQ(areas.size(), 4u) << state["jobs"][0].dump();

  const std::filesystem::path profile = options.out.string() + "-profile";
  Browser browser(profile);
  ASSERT_TRUE(browser.Started());
  OpenPage page(browser, "http://127.0.0.1:" + std::to_string(server.HttpPort()) + "/");
  ASSERT_TRUE(page.Open());
  ASSERT_TRUE(
      page.WaitUntil("document.querySelectorAll('section.job img.label').length === 2 &&"
                     "[...document.querySelectorAll('img')].every(i => i.complete && i.naturalWidth > 0) &&"
                     "document.querySelector('#memory .kept-picture img') !== null &&"
                     "document.querySelector('#memory .kept-picture img').naturalWidth > 0"))
      << page.Evaluate("document.body.innerHTML").dump();

  // The memory panel: the kept label, the images by name, what a power cycle clears.
  const auto memory = page.Evaluate(
      "({ kept: document.querySelector('#memory .kept-picture img').naturalWidth,"
      "   names: [...document.querySelectorAll('#memory td.name')].map(c => c.textContent),"
      "   clears: document.querySelector('#memory .clears').textContent })");
  EXPECT_EQ(memory["kept"], 600);
  EXPECT_EQ(memory["names"], nlohmann::json({"DIFF", "LOGO"}));
  EXPECT_NE(memory["clears"].get<std::string>().find("the kept label"), std::string::npos) << memory;

  // The overlay: one outline per sent area, where the area lies on the picture.
  const auto outlines = page.Evaluate(
      "(() => { const box = document.querySelector('section.job[data-job=\"2\"] .picture');"
      "  const r = box.querySelector('img').getBoundingClientRect();"
      "  return [...box.querySelectorAll('.area')].map(a => { const o = a.getBoundingClientRect();"
      "    return { x: (o.left - r.left) / r.width, w: o.width / r.width, text: a.textContent }; }); })()");
  ASSERT_EQ(outlines.size(), areas.size());
  for (size_t i = 0; i < areas.size(); ++i) {
    EXPECT_NEAR(outlines[i]["x"].get<double>(), areas[i]["x"].get<double>() / 600, 0.01) << outlines[i];
    EXPECT_NEAR(outlines[i]["w"].get<double>(), areas[i]["width"].get<double>() / 600, 0.01) << outlines[i];
    EXPECT_FALSE(outlines[i]["text"].get<std::string>().empty());
  }

  // The tall label: scaled into view, and at full size in the viewer.
  const auto thumb = page.Evaluate(
      "(() => { const r = document.querySelector('section.job[data-job=\"1\"] img.label')"
      ".getBoundingClientRect(); return { w: r.width, h: r.height }; })()");
  EXPECT_NEAR(thumb["h"].get<double>(), 480, 1);
  EXPECT_NEAR(thumb["w"].get<double>() / thumb["h"].get<double>(), 1587.0 / 14400, 0.01);
  page.Evaluate("document.querySelector('section.job[data-job=\"1\"] .picture').click()");
  page.Evaluate("document.querySelector('#viewer [data-zoom=\"one\"]').click()");
  const auto zoomed = page.Evaluate(
      "({ open: !document.getElementById('viewer').hidden,"
      "   width: document.querySelector('#viewer-body img').getBoundingClientRect().width,"
      "   outlines: document.querySelectorAll('#viewer-body .area').length })");
  EXPECT_TRUE(zoomed["open"].get<bool>());
  EXPECT_NEAR(zoomed["width"].get<double>(), 1587, 1);
  EXPECT_EQ(zoomed["outlines"], 2);
  page.Evaluate("document.querySelector('#viewer [data-zoom=\"close\"]').click()");

  // STREAMCHECK_SCREENSHOT=FILE keeps a picture of the page (docs/virtual-printer.png).
  if (const char* keep = std::getenv("STREAMCHECK_SCREENSHOT")) {
    const auto shot = browser.Call("Page.captureScreenshot", {{"format", "png"}}, page.Session());
    ASSERT_TRUE(shot.is_object() && shot.contains("data"));
    std::ofstream(keep, std::ios::binary) << Base64Decode(shot["data"].get<std::string>());
  }

  // The page's own power cycle is obeyed (its request is one from its own
  // origin), and the panel then shows an empty printer.
  page.Evaluate(
      "fetch('/api/power-cycle', { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: '{}' })");
  EXPECT_TRUE(page.WaitUntil("document.querySelector('#memory .clears').textContent.includes('holds nothing')"));
  EXPECT_EQ(WaitForJobs(server.HttpPort(), [](const nlohmann::json&) { return true; })["powerCycles"], 1);
  browser.Close();
  server.Stop();
  std::filesystem::remove_all(options.out);
  std::filesystem::remove_all(profile);
}

}  // namespace
}  // namespace streamcheck
