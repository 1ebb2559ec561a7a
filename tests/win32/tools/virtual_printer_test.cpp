// streamcheck.exe serve under Wine, used as an integrator uses it on Windows:
// the sample job's printer stream (printed through the DLL by qvr_host.exe)
// sent over loopback to the raw port is stored, and its pictures equal what
// streamcheck.exe render draws from the same stream. And the spooler itself
// prints into it: Wine's spooler hands a job whose output names a pipe
// ("|command") to that command, here netcat to the raw port.
// Winsock before windows.h, which would bring the old Winsock otherwise.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/spooler_setup.h"
#include "platform/win32/unique_handle.h"
#include "png_codec.h"
#include "support/http/http_client.h"
#include "support/win32/test_files.h"
#include "support/win32/test_program.h"

namespace {

using namespace std::chrono_literals;
using streamcheck::testing::HttpClient;
constexpr auto kPatience = 60s;

std::string ReadText(const std::filesystem::path& path) {
  const std::vector<uint8_t> bytes = ReadWholeFile(path.wstring());
  return std::string(bytes.begin(), bytes.end());
}

std::vector<uint8_t> DecodedPixels(const std::string& png) {
  streamcheck::RgbImage image;
  const std::string problem =
      streamcheck::DecodePng(reinterpret_cast<const uint8_t*>(png.data()), png.size(), streamcheck::PngLimits{}, image);
  EXPECT_EQ(problem, "");
  return image.rgb;
}

// Sends `stream` as one raw job: connect, send, close.
bool SendRaw(int port, const std::string& stream) {
  const SOCKET sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (sock == INVALID_SOCKET) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool sent = connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  for (size_t at = 0; sent && at < stream.size();) {
    const int n = send(sock, stream.data() + at, static_cast<int>(std::min<size_t>(stream.size() - at, 65536)), 0);
    sent = n > 0;
    at += sent ? static_cast<size_t>(n) : 0;
  }
  shutdown(sock, SD_SEND);
  closesocket(sock);
  return sent;
}

TEST(VirtualPrinterOnWindows, StoresJobsSentOverLoopbackAndThroughTheSpoolerAndDrawsWhatRenderDraws) {
  WSADATA winsock{};
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &winsock), 0);
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("qvr-serve-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);

  // The sample job's stream, as the plug-in prints it.
  const std::filesystem::path stream = folder / "sample.prn";
  {
    TestProgram host(L"qvr_host.exe", L"\"" + ProgramFolder() + L"sample.job\" --output \"" + stream.wstring() + L"\"",
                     folder / "host.txt");
    ASSERT_TRUE(host.Started());
    ASSERT_EQ(host.Wait(kProgramWaitMs), 0) << ReadText(folder / "host.txt");
  }
  const std::string job = ReadText(stream);
  ASSERT_FALSE(job.empty());

  // What streamcheck.exe render draws from it.
  std::vector<std::vector<uint8_t>> rendered;
  {
    TestProgram render(L"streamcheck.exe",
                       L"render \"" + stream.wstring() + L"\" \"" + (folder / "rendered").wstring() + L"\"",
                       folder / "render.txt");
    ASSERT_EQ(render.Wait(kProgramWaitMs), 0) << ReadText(folder / "render.txt");
    for (size_t n = 1;; ++n) {
      char name[32];
      std::snprintf(name, sizeof name, "label-%03zu.png", n);
      if (!std::filesystem::exists(folder / "rendered" / name)) break;
      rendered.push_back(DecodedPixels(ReadText(folder / "rendered" / name)));
    }
  }
  ASSERT_FALSE(rendered.empty());

  // The virtual printer on any free ports; it says which.
  TestProgram server(L"streamcheck.exe", L"serve --port 0 --http 0 --out \"" + (folder / "jobs").wstring() + L"\"",
                     folder / "serve.txt");
  ASSERT_TRUE(server.Started());
  int raw = 0, http = 0;
  for (auto until = std::chrono::steady_clock::now() + kPatience; raw == 0 && std::chrono::steady_clock::now() < until;
       std::this_thread::sleep_for(100ms)) {
    const std::string said = ReadText(folder / "serve.txt");
    const size_t rawAt = said.find("raw jobs on 127.0.0.1:");
    const size_t httpAt = said.find("page on http://127.0.0.1:");
    if (rawAt == std::string::npos || httpAt == std::string::npos) continue;
    raw = std::atoi(said.c_str() + rawAt + std::strlen("raw jobs on 127.0.0.1:"));
    http = std::atoi(said.c_str() + httpAt + std::strlen("page on http://127.0.0.1:"));
  }
  ASSERT_GT(raw, 0) << ReadText(folder / "serve.txt");
  ASSERT_GT(http, 0);

  ASSERT_TRUE(SendRaw(raw, job));
  HttpClient client("127.0.0.1", http);
  client.SetReadTimeout(30s);
  nlohmann::json record;
  for (auto until = std::chrono::steady_clock::now() + kPatience; std::chrono::steady_clock::now() < until;
       std::this_thread::sleep_for(100ms)) {
    const auto answer = client.Get("/api/jobs");
    if (!answer || answer->status != 200) continue;
    const auto state = nlohmann::json::parse(answer->body);
    if (!state["jobs"].empty() && state["jobs"][0]["finished"].get<bool>()) {
      record = state["jobs"][0];
      break;
    }
  }
  ASSERT_TRUE(record.is_object()) << ReadText(folder / "serve.txt");
  EXPECT_EQ(record["bytes"], job.size());
  EXPECT_EQ(record["faults"].size(), 0u) << record.dump();
  std::vector<std::vector<uint8_t>> served;
  for (const auto& label : record["labels"]) {
    const auto picture = client.Get(label["url"].get<std::string>());
    ASSERT_TRUE(picture && picture->status == 200) << label.dump();
    served.push_back(DecodedPixels(picture->body));
  }
  EXPECT_EQ(served.size(), rendered.size());
  EXPECT_TRUE(served == rendered) << "the served pictures differ from the rendered ones";
  const auto stored = client.Get(record["stream"].get<std::string>());
  ASSERT_TRUE(stored);
  EXPECT_TRUE(stored->body == job);

  // The sample job again, from qvr_host.exe through the spooler into the raw port.
  {
    TestProgram host(
        L"qvr_host.exe",
        L"\"" + ProgramFolder() + L"sample.job\" --output \"|nc -N 127.0.0.1 " + std::to_wstring(raw) + L"\"",
        folder / "spooled.txt");
    ASSERT_EQ(host.Wait(kProgramWaitMs), 0) << ReadText(folder / "spooled.txt");
  }
  nlohmann::json spooled;
  for (auto until = std::chrono::steady_clock::now() + kPatience; std::chrono::steady_clock::now() < until;
       std::this_thread::sleep_for(100ms)) {
    const auto answer = client.Get("/api/jobs/2");
    if (answer && answer->status == 200 && nlohmann::json::parse(answer->body)["finished"].get<bool>()) {
      spooled = nlohmann::json::parse(answer->body);
      break;
    }
  }
  ASSERT_TRUE(spooled.is_object()) << "the spooled job did not arrive";
  EXPECT_EQ(spooled["faults"].size(), 0u) << spooled.dump();
  EXPECT_EQ(spooled["labels"].size(), rendered.size());
  // Only the set-up's clock (numbers without leading zeros) differs from the first run's stream.
  constexpr double kClockDigits = 8;
  EXPECT_NEAR(spooled["bytes"].get<double>(), static_cast<double>(job.size()), kClockDigits);
  WSACleanup();
}

}  // namespace
