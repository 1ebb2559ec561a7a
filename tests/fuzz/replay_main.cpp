// Replays kept fuzz inputs through a fuzz target's own entry point, as an
// ordinary test: every file of every folder given (or every file given),
// in name order. A fault ends the process as it would end the fuzzer; a
// folder without inputs is a failure, so a lost corpus cannot pass.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  // REPLAY_SLOW=SECONDS names every input that takes longer.
  const char* slow = std::getenv("REPLAY_SLOW");
  const double slowSeconds = slow != nullptr ? std::atof(slow) : -1;
  size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<fs::path> inputs;
    if (fs::is_directory(argv[i])) {
      for (const auto& entry : fs::directory_iterator(argv[i])) {
        if (entry.is_regular_file()) inputs.push_back(entry.path());
      }
      std::sort(inputs.begin(), inputs.end());
      if (inputs.empty()) {
        std::fprintf(stderr, "no inputs in %s\n", argv[i]);
        return 1;
      }
    } else {
      inputs.emplace_back(argv[i]);
    }
    for (const fs::path& path : inputs) {
      std::ifstream in(path, std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
      }
      const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      const auto start = std::chrono::steady_clock::now();
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      if (slowSeconds >= 0 && took.count() > slowSeconds) std::printf("%.2f s: %s\n", took.count(), path.c_str());
      ++replayed;
    }
  }
  std::printf("replayed %zu inputs\n", replayed);
  return replayed > 0 ? 0 : 1;
}
