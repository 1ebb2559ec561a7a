// The virtual printer's page in a real browser: headless Chromium, driven over
// its DevTools pipe, shows the labels of a job that arrives while it is open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "serve/web_server.h"
#include "command_line.h"
#include "serve_support.h"
#include "stream_builder.h"

namespace streamcheck {
namespace {

using testing::FetchLabels;
using testing::HttpClient;
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
  // Gives the file input that `expression` finds the file at `path`, as if
  // the user chose it.
  bool ChooseFile(const std::string& expression, const std::string& path) {
    const auto found = browser_.Call("Runtime.evaluate", {{"expression", expression}}, session_);
    if (!found.is_object() || !found.contains("result") || !found["result"].contains("objectId")) return false;
    const auto set = browser_.Call("DOM.setFileInputFiles",
                                   {{"files", {path}}, {"objectId", found["result"]["objectId"]}}, session_);
    return set.is_object();
  }
  // Moves the mouse to (x, y) in the page's CSS pixels.
  void MoveMouse(double x, double y) {
    browser_.Call("Input.dispatchMouseEvent", {{"type", "mouseMoved"}, {"x", x}, {"y", y}}, session_);
  }
  // Waits until the page has drawn twice more (work queued for the next frame is done).
  bool NextFrames() {
    Evaluate(
        "window.framed = false; requestAnimationFrame(() => requestAnimationFrame(() => { window.framed = true; }))");
    return WaitUntil("window.framed === true");
  }
  const std::string& Session() const { return session_; }

 private:
  Browser& browser_;
  std::string session_;
};

// A label that looks like one: a frame, a title bar and a few fields, the
// first dark one at `darkFieldY`.
std::string LabelJob(int32_t darkFieldY = 110) {
  return StreamBuilder()
      .Setup(600, 360)
      .Raw("^XA^C(L")
      .Band(Solid(600, 360, {250, 250, 245}), 0, 0)
      .Band(Solid(600, 70, {30, 64, 175}), 0, 0)
      .Band(Solid(260, 200, {234, 179, 8}), 20, 100)
      .Band(Solid(280, 40, {17, 24, 39}), 300, darkFieldY)
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

// What the page should find comparing `label` with `design` placed at its
// top-left corner: the pixels of the overlap whose colours differ, and their
// bounding box as "x,y,width,height".
struct Difference {
  int64_t count = 0;
  std::string box;
};

Difference Differences(const RgbImage& label, const RgbImage& design) {
  int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
  Difference found;
  for (int y = 0; y < std::min(label.height, design.height); ++y) {
    for (int x = 0; x < std::min(label.width, design.width); ++x) {
      if (std::memcmp(label.Pixel(x, y), design.Pixel(x, y), 3) == 0) continue;
      ++found.count;
      left = std::min(left, x);
      top = std::min(top, y);
      right = std::max(right, x);
      bottom = std::max(bottom, y);
    }
  }
  if (found.count) {
    found.box = std::to_string(left) + "," + std::to_string(top) + "," + std::to_string(right - left + 1) + "," +
                std::to_string(bottom - top + 1);
  }
  return found;
}

// `image` with the field of `width` x `height` at (x, y) moved down to row
// `toY`, its old place painted with the colour of the label's bottom-right corner.
RgbImage MoveField(const RgbImage& image, int x, int y, int width, int height, int toY) {
  RgbImage field = RgbImage::White(width, height);
  Blit(field, image, -x, -y);
  const uint8_t* ground = image.Pixel(image.width - 1, image.height - 1);
  RgbImage moved = image;
  Blit(moved, testing::Solid(width, height, {ground[0], ground[1], ground[2]}), x, y);
  Blit(moved, field, x, toY);
  return moved;
}

std::string Millimetres(int dots) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", dots * 25.4 / 360);
  return text;
}

TEST(VirtualPrinterPage, MeasuresALabelWithRulersAndComparesItWithAPicture) {
  if (access(kChromium, X_OK) != 0) GTEST_SKIP() << kChromium << " is not installed";
  auto options = TestOptions("browser-compare");
  serve::VirtualPrinterServer server(options);
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  SendRaw(server.RawPort(), LabelJob());
  const auto state = WaitForFinishedJobs(server.HttpPort(), 1);
  const auto pictures = FetchLabels(server.HttpPort(), state["jobs"][0]);
  ASSERT_EQ(pictures.size(), 2u);
  const RgbImage label{600, 360, pictures[0]};

  // The designs the user gives: the label with its first dark field moved
  // 140 dots down, and that again on a canvas of another size.
  const std::filesystem::path designs = options.out.string() + "-designs";
  std::filesystem::create_directories(designs);
  const RgbImage moved = MoveField(label, 300, 110, 280, 40, 250);
  const RgbImage otherSize = Resized(moved, 640, 270);
  for (const auto& [name, image] : {std::pair{"moved.png", &moved}, std::pair{"other-size.png", &otherSize}}) {
    std::vector<uint8_t> png;
    ASSERT_TRUE(EncodePng(*image, PngEncodeOptions{}, png));
    std::ofstream(designs / name, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), png.size());
  }

  const std::filesystem::path profile = options.out.string() + "-profile";
  Browser browser(profile);
  ASSERT_TRUE(browser.Started());
  OpenPage page(browser, "http://127.0.0.1:" + std::to_string(server.HttpPort()) + "/");
  ASSERT_TRUE(page.Open());
  ASSERT_TRUE(
      page.WaitUntil("[...document.querySelectorAll('section.job img.label')]"
                     ".filter(i => i.complete && i.naturalWidth > 0).length === 2"));

  // The rulers: dot 100 and millimetre 10 on both, where the label's dots
  // lie on the screen, at 1:1 and at 2:1 scrolled; the pointer's dot in both units.
  page.Evaluate("document.querySelector('section.job .picture').click()");
  page.Evaluate("document.querySelector('#viewer [data-zoom=\"one\"]').click()");
  ASSERT_TRUE(page.NextFrames());
  const auto readings = [&] {
    return page.Evaluate(
        "(() => { const r = document.querySelector('#viewer-body img.label').getBoundingClientRect();"
        "  const at = (side, unit, value) => { const t = [...document.querySelectorAll("
        "    '#ruler-' + side + ' .tick.major.' + unit)].find(t => t.dataset.value === value);"
        "    if (!t) return null; const q = t.getBoundingClientRect(); return side === 'top' ? q.left : q.top; };"
        "  return { left: r.left, top: r.top, scale: r.width / 600, topDots: at('top', 'dots', '100'),"
        "    topMm: at('top', 'mm', '10'), leftDots: at('left', 'dots', '100'), leftMm: at('left', 'mm', '10') }; "
        "})()");
  };
  for (const double zoom : {1.0, 2.0}) {
    if (zoom == 2) {
      page.Evaluate(
          "document.querySelector('#viewer [data-zoom=\"in\"]').click();"
          "document.getElementById('viewer-body').scrollTo(150, 100)");
      ASSERT_TRUE(page.NextFrames());
    }
    const auto r = readings();
    ASSERT_TRUE(r["topDots"].is_number() && r["topMm"].is_number() && r["leftDots"].is_number() &&
                r["leftMm"].is_number())
        << r;
    const double scale = r["scale"], left = r["left"], top = r["top"];
    EXPECT_NEAR(scale, zoom, 0.01);
    EXPECT_NEAR(r["topDots"].get<double>(), left + 100 * scale, 0.6) << r;
    EXPECT_NEAR(r["topMm"].get<double>(), left + 10 * 360 / 25.4 * scale, 0.6) << r;
    EXPECT_NEAR(r["leftDots"].get<double>(), top + 100 * scale, 0.6) << r;
    EXPECT_NEAR(r["leftMm"].get<double>(), top + 10 * 360 / 25.4 * scale, 0.6) << r;
    if (zoom == 2) {
      EXPECT_LT(left, 0) << "the label is scrolled: its left edge lies off the viewer";
      page.MoveMouse(left + 300.5 * scale, top + 110.5 * scale);
      ASSERT_TRUE(page.NextFrames());
      const auto pointer = page.Evaluate(
          "(() => { const o = document.getElementById('ruler-pointer'); return { x: o.dataset.x, y: o.dataset.y,"
          "  text: o.textContent, line: document.querySelector('#ruler-top .pointer').getBoundingClientRect().left };"
          "})()");
      EXPECT_EQ(pointer["x"], "300");
      EXPECT_EQ(pointer["y"], "110");
      EXPECT_NE(pointer["text"].get<std::string>().find("x 300 dots (" + Millimetres(300) + " mm)"), std::string::npos)
          << pointer;
      EXPECT_NE(pointer["text"].get<std::string>().find("y 110 dots (" + Millimetres(110) + " mm)"), std::string::npos)
          << pointer;
      EXPECT_NEAR(pointer["line"].get<double>(), left + 300.5 * scale, 1) << pointer;
    }
  }
  page.Evaluate("document.querySelector('#viewer [data-zoom=\"one\"]').click()");

  // The compares: the label's own picture dropped on it (as from another
  // job), then the two designs chosen from files.
  const auto compared = [&](const std::string& name) {
    EXPECT_TRUE(page.WaitUntil("document.getElementById('compare-result').textContent.startsWith('" + name + ":')"))
        << page.Evaluate("document.getElementById('compare-result').textContent");
    return page.Evaluate(
        "(() => { const o = document.getElementById('compare-result');"
        "  const marks = document.querySelector('#viewer-body canvas.differences');"
        "  const marked = (x, y) => marks.getContext('2d').getImageData(x, y, 1, 1).data[3] === 255;"
        "  return { count: Number(o.dataset.count), box: o.dataset.box, size: o.dataset.sizeDifference,"
        "    text: o.textContent, width: marks.width, height: marks.height,"
        "    design: document.querySelector('#viewer-body img.design').src.startsWith('blob:'),"
        "    markedField: marked(310, 120), markedMoved: marked(310, 255), markedElsewhere: marked(5, 5) }; })()");
  };
  page.Evaluate(
      "(async () => { const blob = await (await fetch("
      "  document.querySelector('section.job img.label').getAttribute('src'))).blob();"
      "  const data = new DataTransfer(); data.items.add(new File([blob], 'label-001.png', { type: 'image/png' }));"
      "  document.querySelector('section.job .picture').dispatchEvent("
      "    new DragEvent('drop', { dataTransfer: data, bubbles: true, cancelable: true })); })(), true");
  const auto same = compared("label-001.png");
  EXPECT_EQ(same["count"], 0) << same;
  EXPECT_EQ(same["box"], "") << same;
  EXPECT_EQ(same["size"], "0,0") << same;
  EXPECT_TRUE(same["design"].get<bool>());
  EXPECT_FALSE(same["markedField"].get<bool>());

  struct Case {
    const char* file;
    const RgbImage* design;
    const char* size;       // the size difference the page reports
    const char* sizeWords;  // and says
  };
  for (const Case& c : {Case{"other-size.png", &otherSize, "40,-90", "40 dots wider and 90 dots shorter"},
                        Case{"moved.png", &moved, "0,0", ""}}) {
    SCOPED_TRACE(c.file);
    const Difference expected = Differences(label, *c.design);
    ASSERT_TRUE(page.ChooseFile("document.getElementById('compare-file')", (designs / c.file).string()));
    const auto seen = compared(c.file);
    EXPECT_EQ(seen["count"], expected.count) << seen;
    EXPECT_EQ(seen["box"], expected.box) << seen;
    EXPECT_EQ(seen["size"], c.size) << seen;
    EXPECT_EQ(seen["width"], std::min(label.width, c.design->width));
    EXPECT_EQ(seen["height"], std::min(label.height, c.design->height));
    EXPECT_TRUE(seen["markedField"].get<bool>() && seen["markedMoved"].get<bool>()) << seen;
    EXPECT_FALSE(seen["markedElsewhere"].get<bool>()) << seen;
    if (*c.sizeWords) EXPECT_NE(seen["text"].get<std::string>().find(c.sizeWords), std::string::npos) << seen;
  }
  // The moved field: its old and new places, 280 x 40 each, nothing else.
  EXPECT_EQ(Differences(label, moved).count, 2 * 280 * 40);
  EXPECT_EQ(Differences(label, moved).box, "300,110,280,180");
  EXPECT_EQ(Differences(label, otherSize).box, "300,110,280,160");

  // STREAMCHECK_COMPARE_SCREENSHOT=FILE keeps a picture of the viewer with its
  // rulers and the compare (docs/virtual-printer-compare.png).
  if (const char* keep = std::getenv("STREAMCHECK_COMPARE_SCREENSHOT")) {
    const auto r = readings();
    page.MoveMouse(r["left"].get<double>() + 400, r["top"].get<double>() + 262);
    ASSERT_TRUE(page.NextFrames());
    const auto shot = browser.Call("Page.captureScreenshot", {{"format", "png"}}, page.Session());
    ASSERT_TRUE(shot.is_object() && shot.contains("data"));
    std::ofstream(keep, std::ios::binary) << Base64Decode(shot["data"].get<std::string>());
  }
  browser.Close();
  server.Stop();
  std::filesystem::remove_all(options.out);
  std::filesystem::remove_all(profile);
  std::filesystem::remove_all(designs);
}

// LabelJob with its first dark field 140 dots lower.
std::string MovedFieldJob() { return LabelJob(250); }

// The bounding box ("x,y,width,height") and count of the pixels that differ
// between two pictures of one size, in rows from..to.
std::pair<std::string, int> DifferingRows(const RgbImage& a, const RgbImage& b, int from, int to) {
  RgbImage top = RgbImage::White(a.width, to - from), other = RgbImage::White(b.width, to - from);
  Blit(top, a, 0, -from);
  Blit(other, b, 0, -from);
  const Difference d = Differences(top, other);
  if (d.box.empty()) return {"", 0};
  int x, y, w, h;
  std::sscanf(d.box.c_str(), "%d,%d,%d,%d", &x, &y, &w, &h);
  return {std::to_string(x) + "," + std::to_string(y + from) + "," + std::to_string(w) + "," + std::to_string(h),
          d.count};
}

TEST(VirtualPrinterPage, ShowsTwoJobsSideBySideWithTheDifferencesMarked) {
  if (access(kChromium, X_OK) != 0) GTEST_SKIP() << kChromium << " is not installed";
  auto options = TestOptions("browser-diff");
  serve::VirtualPrinterServer server(options);
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  const int http = server.HttpPort();
  SendRaw(server.RawPort(), LabelJob());
  WaitForFinishedJobs(http, 1);
  SendRaw(server.RawPort(), MovedFieldJob());
  const auto state = WaitForFinishedJobs(http, 2);
  const auto a = FetchLabels(http, state["jobs"][1]), b = FetchLabels(http, state["jobs"][0]);
  ASSERT_EQ(a.size(), 2u);
  ASSERT_EQ(b.size(), 2u);
  // The test's own boxes: the field's old place and its new place.
  const RgbImage a1{600, 360, a[0]}, b1{600, 360, b[0]};
  const auto [oldPlace, oldCount] = DifferingRows(a1, b1, 0, 200);
  const auto [newPlace, newCount] = DifferingRows(a1, b1, 200, 360);
  ASSERT_EQ(oldPlace, "300,110,280,40");
  ASSERT_EQ(newPlace, "300,250,280,40");
  HttpClient client("127.0.0.1", http);
  const auto keptBefore = nlohmann::json::parse(client.Get("/api/memory")->body)["kept"]["url"].get<std::string>();

  // /api/diff answers what "streamcheck diff" writes, but for the jobs' names.
  const auto answer = client.Get("/api/diff?a=1&b=2");
  ASSERT_TRUE(answer && answer->status == 200);
  nlohmann::json api = nlohmann::json::parse(answer->body);
  const std::filesystem::path files = options.out.string() + "-files";
  std::filesystem::create_directories(files);
  std::ofstream(files / "a.prn", std::ios::binary) << LabelJob();
  std::ofstream(files / "b.prn", std::ios::binary) << MovedFieldJob();
  std::ostringstream out, err;
  EXPECT_EQ(RunCommandLine(
                {"diff", (files / "a.prn").string(), (files / "b.prn").string(), "--out", (files / "out").string()},
                out, err),
            kExitDamaged);
  std::ifstream written(files / "out" / "diff.json");
  nlohmann::json cli = nlohmann::json::parse(written);
  for (nlohmann::json* json : {&api, &cli}) {
    json->at("a").erase("name");
    json->at("b").erase("name");
    for (auto& label : json->at("labels")) label.erase("picture");
  }
  EXPECT_EQ(api, cli);
  EXPECT_EQ(client.Get("/api/diff?a=1&b=99")->status, 404);
  EXPECT_EQ(client.Get("/api/diff?a=1")->status, 400);

  // The page, with every error its scripts raise or report kept.
  const std::filesystem::path profile = options.out.string() + "-profile";
  Browser browser(profile);
  ASSERT_TRUE(browser.Started());
  OpenPage page(browser, "about:blank");
  ASSERT_TRUE(page.Open());
  browser.Call("Page.enable", {}, page.Session());
  browser.Call("Page.addScriptToEvaluateOnNewDocument",
               {{"source",
                 "window.pageErrors = [];"
                 "addEventListener('error', (e) => pageErrors.push(String(e.message)));"
                 "addEventListener('unhandledrejection', (e) => pageErrors.push(String(e.reason)));"
                 "const consoleError = console.error;"
                 "console.error = (...args) => { pageErrors.push(args.join(' ')); consoleError(...args); };"}},
               page.Session());
  browser.Call("Page.navigate", {{"url", "http://127.0.0.1:" + std::to_string(http) + "/"}}, page.Session());
  ASSERT_TRUE(page.WaitUntil("document.querySelectorAll('#compare-a option').length === 2"));
  page.Evaluate(
      "document.getElementById('compare-open').click();"
      "document.getElementById('compare-a').value = '1'; document.getElementById('compare-b').value = '2';"
      "document.getElementById('compare-run').click()");
  ASSERT_TRUE(page.WaitUntil(
      "document.querySelectorAll('.compare-pair').length === 2 &&"
      "[...document.querySelectorAll('.compare-pair img')].every(i => i.complete && i.naturalWidth > 0)"))
      << page.Evaluate("document.getElementById('compare-jobs-result').textContent");
  // Where each outlined box lies over its picture, in the picture's dots.
  const std::string boxesIn =
      "((box) => { const i = box.querySelector('img.label').getBoundingClientRect();"
      "  const s = i.width / 600; return [...box.querySelectorAll('.difference-box')].map(d => {"
      "  const r = d.getBoundingClientRect(); return [r.left - i.left, r.top - i.top, r.width, r.height]"
      "    .map(v => Math.round(v / s)).join(','); }).sort(); })";
  const auto list = page.Evaluate(
      "({ summary: document.querySelector('.compare-summary').textContent,"
      "   first: " +
      boxesIn +
      "(document.querySelectorAll('.compare-pair[data-number=\"1\"] .picture')[1]),"
      "   firstA: " +
      boxesIn +
      "(document.querySelectorAll('.compare-pair[data-number=\"1\"] .picture')[0]),"
      "   caption: document.querySelector('.compare-pair[data-number=\"1\"] figcaption').textContent })");
  EXPECT_EQ(list["summary"], api["summary"]);
  EXPECT_EQ(list["first"], nlohmann::json({oldPlace, newPlace})) << list;
  EXPECT_EQ(list["firstA"], list["first"]);
  std::string caption = list["caption"];
  caption.erase(std::remove(caption.begin(), caption.end(), ','), caption.end());  // 22,400 as the browser writes it
  EXPECT_NE(caption.find(std::to_string(oldCount + newCount) + " pixels in 2 areas"), std::string::npos) << list;

  // The pair in the viewer: B's differing pixels marked, the boxes at 1:1, the rulers.
  page.Evaluate("document.querySelector('.compare-pair[data-number=\"1\"]').click()");
  page.Evaluate("document.querySelector('#viewer [data-zoom=\"one\"]').click()");
  ASSERT_TRUE(page.WaitUntil("document.querySelector('#viewer-body .side-b')?.dataset.marked !== undefined"));
  ASSERT_TRUE(page.NextFrames());
  const auto viewer = page.Evaluate(
      "({ marked: document.querySelector('#viewer-body .side-b').dataset.marked,"
      "   boxes: " +
      boxesIn +
      "(document.querySelector('#viewer-body .side-b')),"
      "   ticks: document.querySelectorAll('#ruler-top .tick.major.dots').length,"
      "   title: document.getElementById('viewer-title').textContent })");
  EXPECT_EQ(viewer["marked"], std::to_string(oldCount + newCount)) << viewer;
  EXPECT_EQ(viewer["boxes"], nlohmann::json({oldPlace, newPlace})) << viewer;
  EXPECT_GT(viewer["ticks"].get<int>(), 2);
  EXPECT_NE(viewer["title"].get<std::string>().find("label #1"), std::string::npos) << viewer;

  // STREAMCHECK_DIFF_SCREENSHOT=FILE keeps a picture of it (docs/virtual-printer-diff.png).
  if (const char* keep = std::getenv("STREAMCHECK_DIFF_SCREENSHOT")) {
    page.Evaluate("document.querySelector('#viewer [data-zoom=\"fit\"]').click()");
    ASSERT_TRUE(page.NextFrames());
    const auto shot = browser.Call("Page.captureScreenshot", {{"format", "png"}}, page.Session());
    ASSERT_TRUE(shot.is_object() && shot.contains("data"));
    std::ofstream(keep, std::ios::binary) << Base64Decode(shot["data"].get<std::string>());
  }

  // Escape hides the viewer and forgets the label it showed.
  browser.Call("Input.dispatchKeyEvent", {{"type", "keyDown"}, {"key", "Escape"}, {"code", "Escape"}}, page.Session());
  EXPECT_TRUE(
      page.WaitUntil("document.getElementById('viewer').hidden && viewed === null &&"
                     "!document.querySelector('#viewer-body img')"));

  // B from a .prn file: sent to the printer as a job, then compared.
  std::ofstream(files / "same.prn", std::ios::binary) << LabelJob();
  ASSERT_TRUE(page.ChooseFile("document.getElementById('compare-b-file')", (files / "same.prn").string()));
  page.Evaluate("document.getElementById('compare-run').click()");
  EXPECT_TRUE(page.WaitUntil("document.querySelector('.compare-summary')?.textContent.startsWith('same: 2 labels')"))
      << page.Evaluate("document.getElementById('compare-jobs-result').textContent");
  EXPECT_EQ(WaitForFinishedJobs(http, 3)["jobs"].size(), 3u);

  // The kept label's picture as the page had it before that job: still served.
  const auto kept = client.Get(keptBefore);
  ASSERT_TRUE(kept && kept->status == 200);
  RgbImage keptPicture;
  ASSERT_EQ(DecodePng(reinterpret_cast<const uint8_t*>(kept->body.data()), kept->body.size(), PngLimits{}, keptPicture),
            "");
  EXPECT_EQ(keptPicture.rgb, b[1]);

  EXPECT_EQ(page.Evaluate("window.pageErrors"), nlohmann::json::array());
  browser.Close();
  server.Stop();
  std::filesystem::remove_all(options.out);
  std::filesystem::remove_all(profile);
  std::filesystem::remove_all(files);
}

}  // namespace
}  // namespace streamcheck
