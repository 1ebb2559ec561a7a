// Replays kept fuzz inputs through a fuzz target's own entry point, as an
// ordinary test: every file of every folder given (or every file given),
// in name order. A fault ends the process as it would end the fuzzer; a
// folder without inputs is a failure, so a lost corpus cannot pass.
// REPLAY_JOBS=N shares the inputs out among N worker processes (every N-th
// input each, so the slow ones spread); one fault fails the replay.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

struct Replay {
  std::vector<fs::path> inputs;
  double slowSeconds = -1;
};

// Gathers the inputs named on the command line; false (said why) when a folder is empty.
bool Gather(int argc, char** argv, Replay& replay) {
  for (int i = 1; i < argc; ++i) {
    if (!fs::is_directory(argv[i])) {
      replay.inputs.emplace_back(argv[i]);
      continue;
    }
    std::vector<fs::path> inputs;
    for (const auto& entry : fs::directory_iterator(argv[i])) {
      if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
      std::fprintf(stderr, "no inputs in %s\n", argv[i]);
      return false;
    }
    replay.inputs.insert(replay.inputs.end(), inputs.begin(), inputs.end());
  }
  return true;
}

// Replays inputs first, first + step, ...; 0 when all were replayed.
int ReplayShare(const Replay& replay, size_t first, size_t step) {
  for (size_t n = first; n < replay.inputs.size(); n += step) {
    const fs::path& path = replay.inputs[n];
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      return 1;
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto start = std::chrono::steady_clock::now();
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (replay.slowSeconds >= 0 && took.count() > replay.slowSeconds) {
      std::printf("%.2f s: %s\n", took.count(), path.c_str());
      std::fflush(stdout);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Replay replay;
  // REPLAY_SLOW=SECONDS names every input that takes longer.
  const char* slow = std::getenv("REPLAY_SLOW");
  if (slow != nullptr) replay.slowSeconds = std::atof(slow);
  if (!Gather(argc, argv, replay)) return 1;
  if (replay.inputs.empty()) return 1;
  const char* jobs = std::getenv("REPLAY_JOBS");
  const size_t workers = std::clamp<long>(jobs != nullptr ? std::atol(jobs) : 1, 1, 64);
  std::fflush(stdout);
  std::vector<pid_t> children;
  for (size_t worker = 1; worker < workers; ++worker) {
    const pid_t child = fork();
    // A worker ends through exit, so that the leak check runs in it too.
    if (child == 0) std::exit(ReplayShare(replay, worker, workers));
    if (child < 0) {
      std::perror("fork");
      return 1;
    }
    children.push_back(child);
  }
  int failed = ReplayShare(replay, 0, workers);
  for (const pid_t child : children) {
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "a replay worker failed (status %d)\n", status);
      failed = 1;
    }
  }
  if (failed == 0) std::printf("replayed %zu inputs in %zu worker(s)\n", replay.inputs.size(), workers);
  return failed;
}
