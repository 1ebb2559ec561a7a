// A job's bytes between their arrival and the printer: in memory while the
// job is small and all spools together stay within their budget, in a file
// past that. Written by the receiving side, read once by the print queue.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace streamcheck::serve {

// The memory all spools may hold together.
class SpoolBudget {
 public:
  explicit SpoolBudget(size_t limit) : limit_(limit) {}
  bool Take(size_t bytes);
  void Give(size_t bytes) { used_ -= bytes; }
  size_t Used() const { return used_; }

 private:
  const size_t limit_;
  std::atomic<size_t> used_{0};
};

class Spool {
 public:
  // `memoryLimit`: the bytes this spool keeps in memory before it moves to `file`.
  Spool(SpoolBudget& budget, size_t memoryLimit, std::filesystem::path file)
      : budget_(budget), memoryLimit_(memoryLimit), path_(std::move(file)) {}
  ~Spool();
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  // False with `error` set when the bytes cannot be kept (the file cannot be written).
  bool Append(std::string_view bytes, std::string& error);
  size_t Size() const { return size_; }
  bool InFile() const { return file_ != nullptr; }
  // Hands the bytes in order to `take`, a piece at a time, until it says
  // false; false with `error` set when the file cannot be read back.
  bool Read(const std::function<bool(std::string_view)>& take, std::string& error);

 private:
  bool MoveToFile(std::string& error);

  SpoolBudget& budget_;
  const size_t memoryLimit_;
  const std::filesystem::path path_;
  std::string memory_;
  size_t taken_ = 0;  // of the budget, for memory_
  std::FILE* file_ = nullptr;
  size_t size_ = 0;
};

}  // namespace streamcheck::serve
