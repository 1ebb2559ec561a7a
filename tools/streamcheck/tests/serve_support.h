// Helpers for the virtual printer's tests: a server on free loopback ports
// in a fresh folder, a raw-port client, and reading the jobs back over HTTP.
#pragma once
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "png_codec.h"
#include "support/http/http_client.h"
#include "serve/serve_command.h"
#include "stream_checker.h"

namespace streamcheck::testing {

// A client connection to the loopback port, connected.
inline int Connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  return fd;
}

inline serve::ServeOptions TestOptions(const std::string& name) {
  signal(SIGPIPE, SIG_IGN);  // a client writing to a closed socket gets EPIPE
  serve::ServeOptions options;
  options.rawPort = 0;
  options.httpPort = 0;
  options.out = std::filesystem::temp_directory_path() / ("streamcheck-serve-" + name + "-" + std::to_string(getpid()) +
                                                          "-" + std::to_string(std::random_device{}()));
  std::filesystem::remove_all(options.out);
  options.readTimeout = std::chrono::milliseconds(400);
  return options;
}

// Connects to the raw port and sends `stream` in pieces of `piece` bytes,
// pausing between them; gives up quietly when the server closes early.
inline void SendRaw(int port, const std::string& stream, size_t piece = 0, int pauseMs = 0) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    if (piece == 0) piece = stream.size();
    for (size_t at = 0; at < stream.size(); at += piece) {
      const size_t size = std::min(piece, stream.size() - at);
      if (send(fd, stream.data() + at, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) break;
      if (pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
  }
  close(fd);
}

// Job `id` of a /api/jobs answer, or null.
inline const nlohmann::json* FindJob(const nlohmann::json& state, uint64_t id) {
  for (const auto& job : state["jobs"]) {
    if (job["id"].get<uint64_t>() == id) return &job;
  }
  return nullptr;
}

// The body of a GET answered 200, or "(no answer)".
inline std::string GetBody(int httpPort, const std::string& path) {
  HttpClient client("127.0.0.1", httpPort);
  const auto response = client.Get(path);
  return response && response->status == 200 ? response->body : std::string("(no answer)");
}

// The bytes of the files under `folder`, a file of several names once.
inline size_t FolderBytes(const std::filesystem::path& folder) {
  std::set<std::pair<dev_t, ino_t>> seen;
  size_t total = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    struct stat status {};
    if (entry.is_regular_file() && stat(entry.path().c_str(), &status) == 0 &&
        seen.emplace(status.st_dev, status.st_ino).second) {
      total += static_cast<size_t>(status.st_size);
    }
  }
  return total;
}

// Who an LPD job comes from, as its control file says.
struct LpdSender {
  std::string host, user, title;
};

// Sends `data` as one LPD job; true when the server acknowledged its last
// file, after which the client may forget the job.
inline bool SendLpd(int port, const std::string& data, const LpdSender& from) {
  const int fd = Connect(port);
  timeval patience{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  const std::string control = "H" + from.host + "\nP" + from.user + "\nJ" + from.title + "\nldfA001" + from.host + "\n";
  const std::vector<std::string> steps = {
      "\2labels\n",
      "\2" + std::to_string(control.size()) + " cfA001" + from.host + "\n",
      control + std::string(1, '\0'),
      "\3" + std::to_string(data.size()) + " dfA001" + from.host + "\n",
      data + std::string(1, '\0'),
  };
  bool acknowledged = true;
  for (const std::string& step : steps) {
    char answer = 1;
    if (send(fd, step.data(), step.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(step.size()) ||
        recv(fd, &answer, 1, 0) != 1 || answer != 0) {
      acknowledged = false;
      break;
    }
  }
  close(fd);
  return acknowledged;
}

// Reads /api/jobs until `ready` holds (waiting on the server's long poll).
inline nlohmann::json WaitForJobs(int httpPort, const std::function<bool(const nlohmann::json&)>& ready,
                                  std::chrono::milliseconds patience = std::chrono::seconds(30)) {
  HttpClient client("127.0.0.1", httpPort);
  client.SetReadTimeout(std::min<std::chrono::milliseconds>(patience, std::chrono::seconds(30)));
  const auto deadline = std::chrono::steady_clock::now() + patience;
  std::string path = "/api/jobs";
  nlohmann::json state;
  while (std::chrono::steady_clock::now() < deadline) {
    const auto response = client.Get(path);
    if (response && response->status == 200) {
      state = nlohmann::json::parse(response->body);
      if (ready(state)) return state;
      path = "/api/jobs?after=" + std::to_string(state["version"].get<uint64_t>());
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ADD_FAILURE() << "the jobs did not come as expected: " << state.dump();
  return state;
}

// Waits until the job numbered `id` (the server counts from 1) is finished.
inline nlohmann::json WaitForFinishedJobs(int httpPort, uint64_t id) {
  return WaitForJobs(httpPort, [id](const nlohmann::json& state) {
    for (const auto& job : state["jobs"]) {
      if (job["id"].get<uint64_t>() == id) return job["finished"].get<bool>();
    }
    return false;
  });
}

// Whether the job's record holds a fault whose message contains `text`, at
// `offset` in the stream (none: a fault of the connection, not of the stream).
inline bool HasFault(const nlohmann::json& job, const std::string& text, std::optional<size_t> offset) {
  for (const auto& fault : job["faults"]) {
    if (fault["message"].get<std::string>().find(text) == std::string::npos) continue;
    if (!offset) return fault["offset"].is_null();
    return !fault["offset"].is_null() && fault["offset"].get<size_t>() == *offset;
  }
  return false;
}

// A job's label pictures as the page links them, decoded.
inline std::vector<std::vector<uint8_t>> FetchLabels(int httpPort, const nlohmann::json& job) {
  HttpClient client("127.0.0.1", httpPort);
  std::vector<std::vector<uint8_t>> pictures;
  for (const auto& label : job["labels"]) {
    const auto response = client.Get(label["url"].get<std::string>());
    if (!response || response->status != 200) {
      ADD_FAILURE() << "cannot fetch " << label["url"];
      continue;
    }
    RgbImage image;
    const std::string problem =
        DecodePng(reinterpret_cast<const uint8_t*>(response->body.data()), response->body.size(), PngLimits{}, image);
    EXPECT_EQ(problem, "");
    pictures.push_back(std::move(image.rgb));
  }
  return pictures;
}

// What the stream checker draws from `stream` on a printer that holds nothing.
inline std::vector<std::vector<uint8_t>> RenderAlone(const std::string& stream) {
  std::vector<std::vector<uint8_t>> pictures;
  const LabelSink sink = [&](const PrintedLabel& label) {
    pictures.push_back(label.picture.rgb);
    return true;
  };
  CheckStream(stream, &sink);
  return pictures;
}

}  // namespace streamcheck::testing
